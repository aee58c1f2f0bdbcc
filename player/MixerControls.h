#pragma once

#include "EngineMixerOutput.h"
#include "MixerSession.h"
#include "MixerWindow.h"

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QSlider;
class QWidget;

namespace tonelark {

struct Settings;
struct WindowSnapshot;

// The main window's share of the mixer: the actions (Alt+M the guide melody, Alt+N the window
// 「チャンネル」, the volume steps), the volume slider of the context menu, and the session the
// window 「チャンネル」 edits. The main window adds the items to its menus and shows the mark.
class MixerControls : public QObject {
    Q_OBJECT
public:
    // Takes the stored guide melody, master volume and per-song memory; the engine gets the
    // volume only when it is not full (it starts at full).
    MixerControls(Engine &engine, bool muteMode, const Settings &settings, QWidget *window);
    ~MixerControls() override;

    QAction *actionGuideMelody = nullptr;
    QAction *actionMixer = nullptr;
    QAction *actionVolumeUp = nullptr;
    QAction *actionVolumeDown = nullptr;

    // The guide melody and mixer items; `withVolume` adds the volume slider and its steps.
    void addToMenu(QMenu *menu, bool withVolume);
    // "メロ小" / "メロ消", or empty.
    QString mark() const { return m_session.mixer().guideMark(); }
    // A song is about to play: finds its melody and sets its channels. Returns the line for the
    // song information ("メロディ: ch 4").
    QString songLoaded(const QByteArray &smf, const QString &path);
    int volume() const { return m_session.mixer().masterVolume(); }
    void setVolume(int percent);
    void cycleGuideMelody();
    MixerSession &session() { return m_session; }
    // The window 「チャンネル」, made at its first showing.
    MixerWindow *mixerWindow() const { return m_mixerWindow; }
    void showMixerWindow();
    // The keys written at close.
    void recordInto(WindowSnapshot &snapshot) const;

signals:
    void markChanged();
    void volumeChanged(int percent);

private:
    void showState();

    Engine &m_engine;
    EngineMixerOutput m_output;
    MixerSession m_session;
    QWidget *m_window;
    QPointer<MixerWindow> m_mixerWindow;
    QList<QSlider *> m_menuSliders;
};

} // namespace tonelark
