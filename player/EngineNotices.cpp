#include "EngineNotices.h"

#include "Engine.h"
#include "FileNames.h"

#include <utility>

namespace tonelark {

namespace {

const QString kHeading = QStringLiteral("[演奏エンジン] ");
const QString kServerLost = QStringLiteral("サウンドサーバーとの接続が切れました。再接続を待っています。");
const QString kServerReturned = QStringLiteral("サウンドサーバーに再接続しました。演奏中の位置から音が出ます。");
const QString kNoServer =
    QStringLiteral("サウンドサーバーが見つかりません。起動するのを待っています（それまで音は出ません）。");
const QString kServerFound = QStringLiteral("サウンドサーバーに接続しました。");

QString insteadText(const QString &inUse)
{
    return inUse.isEmpty() ? QStringLiteral("ほかに使える SoundFont がないため、音は出ません。")
                           : QStringLiteral("代わりに「%1」を使います。").arg(inUse);
}

} // namespace

QStringList serverNotices(const TBrs4OutputStatus &before, const TBrs4OutputStatus &now, bool everConnected)
{
    if (now.ServerChanges == before.ServerChanges)
        return {};
    const bool waitingBefore = before.Server == BRSSERVER_WAITING;
    if (now.Server == BRSSERVER_WAITING && !waitingBefore)
        return {kHeading + (before.Server == BRSSERVER_CONNECTED ? kServerLost : kNoServer)};
    if (now.Server == BRSSERVER_CONNECTED && waitingBefore)
        return {kHeading + (everConnected ? kServerReturned : kServerFound)};
    // Gone and back between two polls.
    if (now.Server == BRSSERVER_CONNECTED && before.Server == BRSSERVER_CONNECTED
        && now.ServerChanges - before.ServerChanges >= 2)
        return {kHeading + kServerLost, kHeading + kServerReturned};
    return {};
}

QString soundFontAtStartNotice(const QString &path, std::int32_t result, const QString &inUse)
{
    const QString name = displayFileName(path);
    QString reason;
    switch (result) {
    case BRSERROR_FILENOTFOUND:
        reason = QStringLiteral("設定の SoundFont「%1」が見つかりません。").arg(name);
        break;
    case BRSERROR_DAMAGED_SOUNDFONT:
        reason = QStringLiteral("設定の SoundFont「%1」は壊れています（音色を鳴らせません）。").arg(name);
        break;
    default:
        reason = QStringLiteral("設定の SoundFont「%1」を読み込めません。").arg(name);
        break;
    }
    return kHeading + reason + insteadText(displayFileName(inUse));
}

QString damagedSoundFontNotice(const QString &path, const QString &inUse)
{
    return kHeading
           + QStringLiteral("SoundFont「%1」は壊れているため使えません（この曲の音色を鳴らせません）。")
                 .arg(displayFileName(path))
           + insteadText(displayFileName(inUse));
}

EngineNotices::EngineNotices(Engine &engine, QObject *parent) : QObject(parent), m_engine(engine)
{
    m_timer.setInterval(kPollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &EngineNotices::poll);
    m_timer.start();
}

void EngineNotices::poll()
{
    // A timer's look never holds up the window while the engine loads.
    if (!m_engine.ready())
        return;
    // Once the engine is in, its outcome is known or there is none to come (it answered at once).
    if (!m_soundFontAtStart.isEmpty()) {
        const QString path = std::exchange(m_soundFontAtStart, QString());
        const std::optional<std::int32_t> late = m_engine.takeLateSoundFontResult();
        if (late && *late != BRSERROR_NOERROR)
            addStandingNotice(soundFontAtStartNotice(path, *late, m_engine.soundFontInUse()));
    }
    const TBrs4OutputStatus now = m_engine.outputStatus();
    for (const QString &line : serverNotices(m_last, now, m_everConnected))
        emit notice(line);
    if (now.SoundFontRefusals != m_last.SoundFontRefusals) {
        // The SoundFont stays refused for the run: each new song's info area says so again.
        const QStringList refused = m_engine.refusedSoundFont().split(QLatin1Char('\n'));
        const QString line = damagedSoundFontNotice(refused.value(0), refused.value(1));
        if (!m_standing.contains(line))
            m_standing << line;
        emit notice(line);
    }
    if (now.Server == BRSSERVER_CONNECTED)
        m_everConnected = true;
    m_last = now;
}

void EngineNotices::watchSoundFontAtStart(const QString &path, std::int32_t result)
{
    if (result != BRSERROR_NOERROR)
        addStandingNotice(soundFontAtStartNotice(path, result, m_engine.soundFontInUse()));
    else
        m_soundFontAtStart = path; // where the engine checks it while loading, poll() hears how it went
}

void EngineNotices::addStandingNotice(const QString &line)
{
    m_standing << line;
    emit notice(line);
}

QStringList EngineNotices::standingNotices() const
{
    QStringList lines = m_standing;
    if (m_last.Server == BRSSERVER_WAITING)
        lines << kHeading + (m_everConnected ? kServerLost : kNoServer);
    return lines;
}

} // namespace tonelark
