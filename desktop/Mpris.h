#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The desktop's media keys, panels and playerctl reach the player through MPRIS2 on the
// session bus. The service knows no song: it asks an MprisPlayer for a snapshot and hands
// every command to it.
namespace tonelark {

struct MprisSnapshot {
    enum class Status { Stopped, Playing, Paused };
    Status status = Status::Stopped;
    bool hasSong = false;
    quint64 songId = 0;  // changes with every loaded song
    qint64 positionUs = 0;
    qint64 lengthUs = 0;
    QString title;
    QString artist;
    QString url;         // file:// URL of the song
    QString lyricLine;   // the lyric line at the playing position
    double rate = 1.0;   // the tempo ratio, 1.0 the song's own tempo
    double volume = 1.0; // the master volume, 0.0 … 1.0 (the mixer's per cent / 100)
    bool canGoNext = false;      // Next would lead to another song
    bool canGoPrevious = false;  // Previous would lead somewhere (another song or this one's start)
};

// What MPRIS drives. Each command goes through the same gates as the window's own buttons.
class MprisPlayer {
public:
    virtual ~MprisPlayer() = default;
    virtual MprisSnapshot mprisSnapshot() const = 0;
    virtual void mprisPlay() = 0;
    virtual void mprisPause() = 0;
    virtual void mprisStop() = 0;
    // Plays from `positionUs` (within the song), and reports the jump with
    // MprisService::seeked like every other jump of the position.
    virtual void mprisSetPosition(qint64 positionUs) = 0;
    // Plays at `rate` times the song's tempo (within MinimumRate..MaximumRate).
    virtual void mprisSetRate(double rate) = 0;
    // Sets the master volume to `volume` (0.0 … 1.0).
    virtual void mprisSetVolume(double volume) { (void)volume; }
    // Loads a local file as an opened one would be. Called queued: a load may show a box.
    virtual void mprisOpen(const QString &path) = 0;
    // The queue's next and previous song. Called queued: a load may show a box.
    virtual void mprisNext() = 0;
    virtual void mprisPrevious() = 0;
    virtual void mprisRaise() = 0;
    virtual void mprisQuit() = 0;
};

class MprisService;

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
public:
    explicit MprisRootAdaptor(MprisService *service);
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const;
    QString desktopEntry() const;
    QStringList supportedUriSchemes() const;
    QStringList supportedMimeTypes() const;
public slots:
    void Raise();
    void Quit();

private:
    MprisService *m_service;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canControl)
    Q_PROPERTY(bool CanPause READ canControl)
    Q_PROPERTY(bool CanSeek READ canControl)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    explicit MprisPlayerAdaptor(MprisService *service);
    QString playbackStatus() const;
    static constexpr double kMinimumRate = 0.5;
    static constexpr double kMaximumRate = 2.0;
    double rate() const;
    // 0.0 pauses, as MPRIS asks; other rates are kept within the limits.
    void setRate(double rate);
    double minimumRate() const { return kMinimumRate; }
    double maximumRate() const { return kMaximumRate; }
    double volume() const;
    // Kept within 0.0 … 1.0 (a louder request is full volume); not a number changes nothing.
    void setVolume(double volume);
    QVariantMap metadata() const;
    qlonglong position() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canControl() const { return true; }
public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offsetUs);
    void SetPosition(const QDBusObjectPath &trackId, qlonglong positionUs);
    void OpenUri(const QString &uri);
signals:
    void Seeked(qlonglong positionUs);

private:
    MprisService *m_service;
};

// The bus call's context (Qt gives it to the adaptors' object) lets a call be refused.
class MprisService : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    static constexpr const char *kServiceName = "org.mpris.MediaPlayer2.Tonelark";
    static constexpr const char *kObjectPath = "/org/mpris/MediaPlayer2";

    explicit MprisService(MprisPlayer &player, QObject *parent = nullptr);
    ~MprisService() override;

    // Whether the session has a bus to publish on, found without starting one (libdbus
    // would otherwise try to launch a bus of its own).
    static bool sessionBusAvailable();

    // Publishes the service on `bus`. False, quietly, when the bus is not connected or the
    // names cannot be had; the player then simply runs without MPRIS.
    bool registerOn(QDBusConnection bus);
    bool isRegistered() const { return m_registered; }

    // Compares the player's state with the last one published and signals what changed
    // (status, song, lyric line). Cheap enough for every monitor tick.
    void refresh();

    MprisPlayer &player() const { return m_player; }
    MprisSnapshot snapshot() const { return m_player.mprisSnapshot(); }
    static QVariantMap metadataFor(const MprisSnapshot &snapshot);
    static QString statusText(MprisSnapshot::Status status);
    static QDBusObjectPath trackIdFor(const MprisSnapshot &snapshot);
    // The player's position jumped to `positionUs` (any seek, a restart): panels are told
    // with Seeked. A wrap at the loop point is found by refresh.
    void seeked(qint64 positionUs);
    // Answers the bus call being handled with an error (nothing outside a bus call).
    void refuseCall(QDBusError::ErrorType error, const QString &message) const;

private:
    MprisPlayer &m_player;
    MprisPlayerAdaptor *m_playerAdaptor = nullptr;
    QDBusConnection m_bus;
    QString m_serviceName;
    bool m_registered = false;
    MprisSnapshot m_last;
};

} // namespace tonelark
