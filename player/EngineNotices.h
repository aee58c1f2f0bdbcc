#pragma once

#include "Brisola.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>

// What happened to the engine's output, said in the info area: the sound server going away and
// coming back, a SoundFont that could not be used. The playback monitor runs only while a song
// is loaded, so this polls the engine on a slow timer of its own.
namespace tonelark {

class Engine;

// The lines for a change of the output's status between two polls. `everConnected`: a server
// was in use before (a return is then a reconnection).
QStringList serverNotices(const TBrs4OutputStatus &before, const TBrs4OutputStatus &now, bool everConnected);
// The SoundFont named in the settings was refused at start with the engine's `result`;
// `inUse` is the one the synthesizer uses instead (empty: none).
QString soundFontAtStartNotice(const QString &path, std::int32_t result, const QString &inUse);
// The synthesizer refused `path` as damaged when it opened (its instruments cannot sound).
QString damagedSoundFontNotice(const QString &path, const QString &inUse);

class EngineNotices : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollIntervalMs = 250;

    // Starts polling at once; the first poll takes the status as it is then as its base, so an
    // output already waiting for its server is reported once.
    explicit EngineNotices(Engine &engine, QObject *parent = nullptr);

    // One look at the engine; emits `notice` for each thing it finds changed. The timer calls it.
    void poll();
    // Says `line` now and again after every load (the load empties the info area): for a
    // condition that lasts the whole run, such as a SoundFont from the settings not in use.
    void addStandingNotice(const QString &line);
    // The SoundFont of the settings and setSoundFont's answer at start: a refusal is a standing
    // notice now, or once the engine tells the outcome of a check it answered before making.
    void watchSoundFontAtStart(const QString &path, std::int32_t result);
    // What still holds and a new song's info area should say again: the lasting notices, and
    // the waiting for a sound server while it lasts.
    QStringList standingNotices() const;

signals:
    void notice(const QString &line);

private:
    Engine &m_engine;
    QTimer m_timer;
    TBrs4OutputStatus m_last{BRSSERVER_NOTUSED, 0, 0, 0};
    bool m_everConnected = false;
    QStringList m_standing;
    QString m_soundFontAtStart; // watched until the engine's late answer comes
};

} // namespace tonelark
