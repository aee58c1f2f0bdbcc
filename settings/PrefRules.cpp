#include "PrefRules.h"

#include "Settings.h"

namespace tonelark {

const std::array<GaugeColorPreset, 4> &GaugeColorPresets()
{
    static const std::array<GaugeColorPreset, 4> presets = {{
        {QStringLiteral("初期設定に戻す(&D)"), QStringLiteral("すべての色設定を初期状態に戻します。"), kClHighlight,
         kClWindow, kClWindowFrame},
        {QStringLiteral("シアンカラー(&C)"), QString(), 0xFFFF99, 0xFFFFFF, 0x999999},
        {QStringLiteral("ブライト サンセット(&S)"), QString(), 0xFFDFDF, 0xDFF8FF, 0x999999},
        {QStringLiteral("モーニングライト(&M)"), QString(), 0xDFF4F4, 0xD2C1C1, 0x8A8A8A},
    }};
    return presets;
}

QPoint colorDialogPosition(QSize dialog, QPoint cursor, int workAreaRight)
{
    int left = cursor.x() - dialog.width() / 2;
    if (left < 0)
        left = 0;
    if (left > workAreaRight - dialog.width())
        left = workAreaRight - dialog.width();
    int top = cursor.y() - dialog.height();
    if (top < 0)
        top = 0;
    return {left, top};
}

QString playOptionListCaption(const QString &caption)
{
    QString text = caption.left(caption.indexOf(QLatin1String("(&")));
    const auto blankOrControl = [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blankOrControl(text[begin]))
        ++begin;
    while (end > begin && blankOrControl(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

void appendChangedPlayOption(QString &changedPlayOptions, const QString &caption)
{
    changedPlayOptions += QStringLiteral("\r\n・") + playOptionListCaption(caption);
}

std::optional<QString> playOptionsNotice(bool modeChanged, const QString &changedPlayOptions, qint32 settingMode,
                                         bool playingOrPaused)
{
    if (!playingOrPaused || (!modeChanged && changedPlayOptions.isEmpty()))
        return std::nullopt;
    if (modeChanged)
        return QStringLiteral("モードの変更は次回の演奏から有効になります。");
    if (settingMode == 0)
        return QStringLiteral("変更された次の設定は次回の演奏から有効になります。\r\n") + changedPlayOptions;
    return std::nullopt;
}

} // namespace tonelark
