#include "CopyFormats.h"

#include "CstmUtils.h"

namespace tonelark {

QString GetSeparatorText(qint32 &separatorType)
{
    if (separatorType < 0)
        separatorType = 0;
    if (separatorType > 1)
        separatorType = 1;
    return separatorType == 0 ? QStringLiteral("-") : QStringLiteral("/");
}

QString TrimMetaText(const QString &text)
{
    const QString trimmed = trimControlAndSpace(text);
    return trimmed.isEmpty() ? QStringLiteral("?") : trimmed;
}

QString ShortenForMenu(const QString &text)
{
    int width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        width += text.at(i).unicode() <= 0xFF ? 1 : 2;
        if (width >= 16)
            return text.left(i + 1) + QChar(0x2026);
    }
    return text;
}

CopyFormats::CopyFormats(QString author, QString title, QString separator)
    : m_author(std::move(author)), m_title(std::move(title)), m_separator(std::move(separator))
{
}

QString CopyFormats::joined(const QString &first, const QString &separator, const QString &last)
{
    return TrimMetaText(first) + QLatin1Char(' ') + separator + QLatin1Char(' ') + TrimMetaText(last);
}

QString CopyFormats::caption(const QString &first, const QString &separator, const QString &last)
{
    // A menu caption takes "&" as the accelerator mark; "&&" shows the song's own "&".
    const auto shown = [](const QString &text) {
        return ShortenForMenu(TrimMetaText(text)).replace(QLatin1Char('&'), QLatin1String("&&"));
    };
    return QStringLiteral("「%1 %2 %3」でコピー").arg(shown(first), separator, shown(last));
}

QString CopyFormats::format1Text() const
{
    return joined(m_author, m_separator, m_title);
}

QString CopyFormats::format2Text() const
{
    return joined(m_title, m_separator, m_author);
}

QString CopyFormats::format1Caption() const
{
    return caption(m_author, m_separator, m_title);
}

QString CopyFormats::format2Caption() const
{
    return caption(m_title, m_separator, m_author);
}

MetaTextMenuState metaTextMenuStateFor(MetaTextBox active, bool hasSelection,
                                       bool copyEnabledBefore)
{
    MetaTextMenuState state;
    state.copyEnabled = active == MetaTextBox::Other ? copyEnabledBefore : hasSelection;
    state.format1Visible = active == MetaTextBox::Copyright;
    state.format2Visible = active == MetaTextBox::Title;
    return state;
}

} // namespace tonelark
