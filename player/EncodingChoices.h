#pragma once

#include "TextEncoding.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <optional>

namespace tonelark {

// The text encoding the user chose per song file ("文字コード"), kept in the user's state
// folder ($XDG_STATE_HOME/Tonelark/encodings.ini, by default ~/.local/state/Tonelark/). A file
// without an entry is read by the table (Auto). The file is read again before every change,
// so two running players do not undo each other's choices; a state file that exists but
// cannot be read is never overwritten.
class EncodingChoices {
public:
    explicit EncodingChoices(QString stateFile = defaultStateFile());

    // The remembered choice for the song file (by absolute path), else Auto; the file is
    // read anew, so a choice made in another running player counts.
    TextEncoding choiceFor(const QString &songFile);
    // Remembers (Auto forgets) the choice; the reason in Japanese when it could not be kept.
    std::optional<QString> remember(const QString &songFile, TextEncoding choice);

    const QString &stateFile() const { return m_stateFile; }
    static QString defaultStateFile();

private:
    // Reads the file into m_entries and m_otherLines; the reason when it exists but is unreadable.
    std::optional<QString> read();

    QString m_stateFile;
    std::map<QString, TextEncoding> m_entries; // absolute path → choice
    QList<QByteArray> m_otherLines;            // lines we do not understand, kept as they were
};

} // namespace tonelark
