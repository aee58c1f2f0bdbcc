#include "KeyTempo.h"

#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace tonelark {

namespace {

QString keyMark(int key)
{
    if (key == KeyTempo::kOriginalKey)
        return {};
    return (key > 0 ? QStringLiteral("♯") : QStringLiteral("♭")) + QString::number(std::abs(key));
}

} // namespace

bool KeyTempo::setKey(int key)
{
    key = std::clamp(key, kMinKey, kMaxKey);
    if (key == m_key)
        return false;
    m_key = key;
    return true;
}

bool KeyTempo::setTempo(int percent)
{
    percent = std::clamp(percent, kMinTempo, kMaxTempo);
    if (percent == m_tempo)
        return false;
    m_tempo = percent;
    return true;
}

bool KeyTempo::tempoUp()
{
    return setTempo((m_tempo / kTempoStep + 1) * kTempoStep);
}

bool KeyTempo::tempoDown()
{
    return setTempo(((m_tempo + kTempoStep - 1) / kTempoStep - 1) * kTempoStep);
}

QString KeyTempo::mark() const
{
    QStringList parts;
    if (m_key != kOriginalKey)
        parts << keyMark(m_key);
    if (m_tempo != kOriginalTempo)
        parts << QStringLiteral("%1%").arg(m_tempo);
    return parts.join(QLatin1Char(' '));
}

QString KeyTempo::toolTip() const
{
    const QString key = m_key == kOriginalKey
                            ? QStringLiteral("キー: 原曲キー")
                            : QStringLiteral("キー: %1 (%2 半音%3)")
                                  .arg(keyMark(m_key))
                                  .arg(std::abs(m_key))
                                  .arg(m_key > 0 ? QStringLiteral("上") : QStringLiteral("下"));
    const QString tempo = m_tempo == kOriginalTempo
                              ? QStringLiteral("テンポ: 100% (元のテンポ)")
                              : QStringLiteral("テンポ: %1%").arg(m_tempo);
    return key + QLatin1Char('\n') + tempo;
}

} // namespace tonelark
