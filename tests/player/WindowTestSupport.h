#pragma once

#include "CstmUtils.h"
#include "SongLoader.h"
#include "Ui.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

// Shared by the loader, transport and window tests: SMF images built in memory and a Ui
// whose answers the test sets.
namespace tonelark::test {

// Builds a format-0 SMF image, one event at a time (delta times in ticks).
class SmfBuilder {
public:
    explicit SmfBuilder(quint16 timeBase = 480) : m_timeBase(timeBase) {}

    SmfBuilder &meta(quint32 delta, quint8 type, const QByteArray &data)
    {
        deltaTime(delta);
        m_track.append(char(0xFF)).append(char(type));
        variableLength(quint32(data.size()));
        m_track.append(data);
        return *this;
    }
    SmfBuilder &copyright(const QString &text) { return meta(0, 0x02, unicodeToAnsi(text)); }
    SmfBuilder &title(const QString &text) { return meta(0, 0x03, unicodeToAnsi(text)); }
    SmfBuilder &text(const QString &text) { return meta(0, 0x01, unicodeToAnsi(text)); }
    SmfBuilder &lyric(quint32 delta, const QString &text) { return meta(delta, 0x05, unicodeToAnsi(text)); }
    SmfBuilder &tempo(quint32 delta, quint32 microseconds)
    {
        QByteArray data;
        data.append(char(microseconds >> 16)).append(char(microseconds >> 8)).append(char(microseconds));
        return meta(delta, 0x51, data);
    }
    SmfBuilder &note(quint32 delta, quint8 key, quint32 length)
    {
        deltaTime(delta);
        m_track.append(char(0x90)).append(char(key)).append(char(100));
        deltaTime(length);
        m_track.append(char(0x80)).append(char(key)).append(char(0));
        return *this;
    }

    QByteArray bytes() const
    {
        QByteArray track = m_track;
        track.append(char(0x00)).append(char(0xFF)).append(char(0x2F)).append(char(0x00));
        QByteArray smf("MThd");
        appendBig(smf, 6, 4);
        appendBig(smf, 0, 2);
        appendBig(smf, 1, 2);
        appendBig(smf, m_timeBase, 2);
        smf.append("MTrk");
        appendBig(smf, quint32(track.size()), 4);
        smf.append(track);
        return smf;
    }

private:
    static void appendBig(QByteArray &out, quint32 value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            out.append(char((value >> (8 * i)) & 0xFF));
    }
    void deltaTime(quint32 delta) { variableLength(delta); }
    void variableLength(quint32 value)
    {
        QByteArray out;
        out.prepend(char(value & 0x7F));
        while ((value >>= 7) != 0)
            out.prepend(char((value & 0x7F) | 0x80));
        m_track.append(out);
    }

    quint16 m_timeBase;
    QByteArray m_track;
};

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A Ui that records what it was asked and answers with preset values.
class FakeUi : public Ui {
public:
    QStringList errors;
    QStringList warnings;
    QStringList informations; // "caption|text"
    QStringList questions;
    bool nextAnswer = true;
    QList<OpenFileRequest> openRequests;
    QString nextOpenFileName;
    QString clipboard;
    QList<SaveFileRequest> saveRequests;
    QString nextSaveFileName;
    std::function<void()> duringSaveDialog; // runs while the save dialog would be open
    std::function<void()> duringBox;        // runs while an error, warning or question box would be open

    void showError(const QString &text) override
    {
        errors << text;
        if (duringBox)
            duringBox();
    }
    void showWarning(const QString &text) override
    {
        warnings << text;
        if (duringBox)
            duringBox();
    }
    void showInformation(const QString &caption, const QString &text) override
    {
        informations << caption + QLatin1Char('|') + text;
    }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        if (duringBox)
            duringBox();
        return nextAnswer;
    }
    QString getOpenFileName(const OpenFileRequest &request) override
    {
        openRequests << request;
        return nextOpenFileName;
    }
    QString getSaveFileName(const SaveFileRequest &request) override
    {
        saveRequests << request;
        if (duringSaveDialog)
            duringSaveDialog();
        return nextSaveFileName;
    }
    void setClipboardText(const QString &text) override { clipboard = text; }
};

} // namespace tonelark::test

// main() of a window test that runs on the tests' real X server when scripts/test.sh started
// one (DISPLAY_FOR_X11_TESTS), and on the platform the environment names otherwise.
#define TONELARK_X11_TEST_MAIN(TestClass)                                                         \
    int main(int argc, char *argv[])                                                              \
    {                                                                                             \
        const QByteArray display = qgetenv("DISPLAY_FOR_X11_TESTS");                              \
        if (!display.isEmpty()) {                                                                 \
            qputenv("DISPLAY", display);                                                          \
            qputenv("QT_QPA_PLATFORM", "xcb");                                                    \
        }                                                                                         \
        QApplication app(argc, argv);                                                             \
        TestClass test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                   \
    }
