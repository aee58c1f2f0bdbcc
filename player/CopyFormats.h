#pragma once

#include <QString>

// The author and title boxes' copy formats and the texts of their context menu.
namespace tonelark {

// The copy separator by SeparatorType, "-" for 0 and "/" for 1. An out-of-range value is
// first corrected in place to the nearer valid one (it stays corrected in memory only).
QString GetSeparatorText(qint32 &separatorType);

// The text as copied: every character up to U+0020 removed from both ends; "?" when
// nothing remains, so a format never copies an empty part.
QString TrimMetaText(const QString &text);

// The text as shown inside a menu caption: cut after the character that brings the width
// (1 per character up to U+00FF, 2 above) to 16 or more, followed by "…"; whole otherwise.
QString ShortenForMenu(const QString &text);

// The two formats of one author and title: format 1 "author separator title", format 2
// "title separator author", and the captions of their menu items.
class CopyFormats {
public:
    CopyFormats(QString author, QString title, QString separator);

    QString format1Text() const;
    QString format2Text() const;
    QString format1Caption() const;
    QString format2Caption() const;

private:
    static QString joined(const QString &first, const QString &separator, const QString &last);
    static QString caption(const QString &first, const QString &separator, const QString &last);

    QString m_author;
    QString m_title;
    QString m_separator;
};

// Which box of the window is the active control when popupMenuMetaText opens.
enum class MetaTextBox { Copyright, Title, Memo, Other };

// popupMenuMetaText's states for the active box.
struct MetaTextMenuState {
    bool copyEnabled = false;
    bool format1Visible = false;
    bool format2Visible = false;
    bool operator==(const MetaTextMenuState &) const = default;
};

// popupMenuMetaTextPopup's rule: copy is enabled by a selection in one of the window's
// boxes and keeps `copyEnabledBefore` for any other active control; format 1 shows only
// for the author box, format 2 only for the title box.
MetaTextMenuState metaTextMenuStateFor(MetaTextBox active, bool hasSelection,
                                       bool copyEnabledBefore);

} // namespace tonelark
