#include "Mpris.h"
#include "uConst.h"

#include "FileNames.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tonelark {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

} // namespace

// Root interface.

MprisRootAdaptor::MprisRootAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{
}

QString MprisRootAdaptor::identity() const
{
    return QStringLiteral("Tonelark");
}

QString MprisRootAdaptor::desktopEntry() const
{
    return QString::fromLatin1(kAppId);
}

QStringList MprisRootAdaptor::supportedUriSchemes() const
{
    return {QStringLiteral("file")};
}

QStringList MprisRootAdaptor::supportedMimeTypes() const
{
    // Those of the desktop entry.
    return {QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi"), QStringLiteral("text/x-mml")};
}

void MprisRootAdaptor::Raise()
{
    QMetaObject::invokeMethod(m_service, [service = m_service] { service->player().mprisRaise(); },
                              Qt::QueuedConnection);
}

void MprisRootAdaptor::Quit()
{
    // Queued: the reply goes out before the program starts to close.
    QMetaObject::invokeMethod(m_service, [service = m_service] { service->player().mprisQuit(); },
                              Qt::QueuedConnection);
}

// Player interface.

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return MprisService::statusText(m_service->snapshot().status);
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return MprisService::metadataFor(m_service->snapshot());
}

qlonglong MprisPlayerAdaptor::position() const
{
    return m_service->snapshot().positionUs;
}

double MprisPlayerAdaptor::volume() const
{
    return m_service->snapshot().volume;
}

void MprisPlayerAdaptor::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    m_service->player().mprisSetVolume(std::clamp(volume, 0.0, 1.0));
    m_service->refresh();
}

double MprisPlayerAdaptor::rate() const
{
    return m_service->snapshot().rate;
}

void MprisPlayerAdaptor::setRate(double rate)
{
    if (!std::isfinite(rate))
        return;
    if (rate == 0.0) {
        Pause();
        return;
    }
    m_service->player().mprisSetRate(std::clamp(rate, kMinimumRate, kMaximumRate));
    m_service->refresh();
}

void MprisPlayerAdaptor::Pause()
{
    m_service->player().mprisPause();
    m_service->refresh();
}

void MprisPlayerAdaptor::PlayPause()
{
    if (m_service->snapshot().status == MprisSnapshot::Status::Playing)
        m_service->player().mprisPause();
    else
        m_service->player().mprisPlay();
    m_service->refresh();
}

void MprisPlayerAdaptor::Stop()
{
    m_service->player().mprisStop();
    m_service->refresh();
}

void MprisPlayerAdaptor::Play()
{
    m_service->player().mprisPlay();
    m_service->refresh();
}

void MprisPlayerAdaptor::Seek(qlonglong offsetUs)
{
    const MprisSnapshot now = m_service->snapshot();
    if (!now.hasSong)
        return;
    // Any offset is allowed on the bus: the sum saturates instead of wrapping to the start.
    qint64 target = 0;
    if (__builtin_add_overflow(now.positionUs, qint64(offsetUs), &target))
        target = offsetUs > 0 ? std::numeric_limits<qint64>::max() : 0;
    target = std::max<qint64>(0, target);
    // Past the end there is no next song to go to: the position stays.
    if (target > now.lengthUs)
        return;
    // The player reports the jump (Seeked) as it does for its own.
    m_service->player().mprisSetPosition(target);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &trackId, qlonglong positionUs)
{
    const MprisSnapshot now = m_service->snapshot();
    // A stale track id means the caller meant a song that is no longer loaded.
    if (!now.hasSong || trackId != MprisService::trackIdFor(now) || positionUs < 0 ||
        positionUs > now.lengthUs)
        return;
    m_service->player().mprisSetPosition(positionUs);
}

bool MprisPlayerAdaptor::canGoNext() const
{
    return m_service->snapshot().canGoNext;
}

bool MprisPlayerAdaptor::canGoPrevious() const
{
    return m_service->snapshot().canGoPrevious;
}

void MprisPlayerAdaptor::Next()
{
    QMetaObject::invokeMethod(m_service, [service = m_service] { service->player().mprisNext(); },
                              Qt::QueuedConnection);
}

void MprisPlayerAdaptor::Previous()
{
    QMetaObject::invokeMethod(m_service, [service = m_service] { service->player().mprisPrevious(); },
                              Qt::QueuedConnection);
}

void MprisPlayerAdaptor::OpenUri(const QString &uri)
{
    // By the bytes, as a command-line argument: a CP932 name is no UTF-8.
    const QString path = localPathFromFileUri(uri);
    if (path.isEmpty()) {
        // Nothing is opened; the caller learns why.
        m_service->refuseCall(QDBusError::InvalidArgs,
                              QStringLiteral("開けない URI です（ローカルファイルの file: URI でないか、"
                                             "パスに NUL 文字が含まれています）: %1").arg(uri));
        return;
    }
    QMetaObject::invokeMethod(m_service, [service = m_service, path] {
        service->player().mprisOpen(path);
    }, Qt::QueuedConnection);
}

// Service.

MprisService::MprisService(MprisPlayer &player, QObject *parent)
    : QObject(parent), m_player(player), m_bus(QString())
{
    new MprisRootAdaptor(this);
    m_playerAdaptor = new MprisPlayerAdaptor(this);
}

MprisService::~MprisService()
{
    if (m_registered) {
        m_bus.unregisterObject(QLatin1String(kObjectPath));
        m_bus.unregisterService(m_serviceName);
    }
}

bool MprisService::sessionBusAvailable()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

bool MprisService::registerOn(QDBusConnection bus)
{
    if (m_registered || !bus.isConnected())
        return false;
    if (!bus.registerObject(QLatin1String(kObjectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    // A second player of another user's making may hold the plain name: the MPRIS way is a
    // per-instance suffix.
    QString name = QLatin1String(kServiceName);
    if (!bus.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name)) {
            bus.unregisterObject(QLatin1String(kObjectPath));
            return false;
        }
    }
    m_bus = bus;
    m_serviceName = name;
    m_registered = true;
    m_last = m_player.mprisSnapshot();
    return true;
}

QString MprisService::statusText(MprisSnapshot::Status status)
{
    switch (status) {
    case MprisSnapshot::Status::Playing:
        return QStringLiteral("Playing");
    case MprisSnapshot::Status::Paused:
        return QStringLiteral("Paused");
    case MprisSnapshot::Status::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QDBusObjectPath MprisService::trackIdFor(const MprisSnapshot &snapshot)
{
    if (!snapshot.hasSong)
        return QDBusObjectPath(kNoTrack);
    return QDBusObjectPath(QStringLiteral("/org/tonelark/Song/%1").arg(snapshot.songId));
}

QVariantMap MprisService::metadataFor(const MprisSnapshot &snapshot)
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackIdFor(snapshot)));
    if (!snapshot.hasSong)
        return map;
    map.insert(QStringLiteral("mpris:length"), qlonglong(snapshot.lengthUs));
    if (!snapshot.title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), snapshot.title);
    if (!snapshot.artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{snapshot.artist});
    if (!snapshot.url.isEmpty())
        map.insert(QStringLiteral("xesam:url"), snapshot.url);
    if (!snapshot.lyricLine.isEmpty())
        map.insert(QStringLiteral("xesam:asText"), snapshot.lyricLine);
    return map;
}

void MprisService::seeked(qint64 positionUs)
{
    // The next refresh measures from here: a jump back is not taken for a loop wrap.
    m_last.positionUs = positionUs;
    if (m_registered)
        emit m_playerAdaptor->Seeked(positionUs);
}

void MprisService::refuseCall(QDBusError::ErrorType error, const QString &message) const
{
    if (calledFromDBus())
        sendErrorReply(error, message);
}

void MprisService::refresh()
{
    if (!m_registered)
        return;
    const MprisSnapshot now = m_player.mprisSnapshot();
    // A playing song whose position went back wrapped at its loop point: the same jump for
    // a panel as a seek (every command's jump is reported by the player at once).
    const bool wrapped = now.status == MprisSnapshot::Status::Playing &&
                         m_last.status == MprisSnapshot::Status::Playing && now.hasSong &&
                         now.songId == m_last.songId && now.positionUs < m_last.positionUs;
    QVariantMap changed;
    if (now.status != m_last.status)
        changed.insert(QStringLiteral("PlaybackStatus"), statusText(now.status));
    if (now.rate != m_last.rate)
        changed.insert(QStringLiteral("Rate"), now.rate);
    if (now.volume != m_last.volume)
        changed.insert(QStringLiteral("Volume"), now.volume);
    if (now.canGoNext != m_last.canGoNext)
        changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    if (now.canGoPrevious != m_last.canGoPrevious)
        changed.insert(QStringLiteral("CanGoPrevious"), now.canGoPrevious);
    if (now.hasSong != m_last.hasSong || now.songId != m_last.songId ||
        now.lyricLine != m_last.lyricLine || now.title != m_last.title ||
        now.artist != m_last.artist || now.lengthUs != m_last.lengthUs)
        changed.insert(QStringLiteral("Metadata"), metadataFor(now));
    m_last = now;
    if (wrapped)
        emit m_playerAdaptor->Seeked(now.positionUs);
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

} // namespace tonelark
