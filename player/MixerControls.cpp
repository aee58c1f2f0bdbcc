#include "MixerControls.h"

#include "MixerWindow.h"
#include "Settings.h"
#include "SmfParser.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QWidgetAction>

namespace tonelark {

namespace {

QString guideCaption(GuideMelody mode)
{
    switch (mode) {
    case GuideMelody::Soft: return QStringLiteral("ガイドメロディ: 小さく(&M)");
    case GuideMelody::Off: return QStringLiteral("ガイドメロディ: 消す(&M)");
    case GuideMelody::Normal: break;
    }
    return QStringLiteral("ガイドメロディ: 通常(&M)");
}

} // namespace

MixerControls::MixerControls(Engine &engine, bool muteMode, const Settings &settings, QWidget *window)
    : QObject(window), m_engine(engine), m_output(engine, muteMode), m_session(m_output), m_window(window)
{
    const auto action = [&](const char *name, const QString &caption, const QKeySequence &key) {
        auto *a = new QAction(caption, window);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        window->addAction(a);
        return a;
    };
    actionGuideMelody = action("actionGuideMelody", guideCaption(GuideMelody::Normal), QKeySequence(Qt::ALT | Qt::Key_M));
    actionMixer = action("actionMixer", QStringLiteral("チャンネル(&N)..."), QKeySequence(Qt::ALT | Qt::Key_N));
    actionVolumeUp = action("actionVolumeUp", QStringLiteral("音量 +5%(&V)"), QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Up));
    actionVolumeDown = action("actionVolumeDown", QStringLiteral("音量 −5%(&Y)"), QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Down));
    connect(actionGuideMelody, &QAction::triggered, this, &MixerControls::cycleGuideMelody);
    // Queued: the window may open while a menu's signal is still running.
    connect(actionMixer, &QAction::triggered, this, &MixerControls::showMixerWindow, Qt::QueuedConnection);
    connect(actionVolumeUp, &QAction::triggered, this, [this] { setVolume(volume() + ChannelMixer::kVolumeStep); });
    connect(actionVolumeDown, &QAction::triggered, this, [this] { setVolume(volume() - ChannelMixer::kVolumeStep); });

    ChannelMixer &mixer = m_session.mixer();
    const int mode = settings.GuideMelody;
    mixer.setGuideMelody(mode == 1 ? GuideMelody::Soft : mode == 2 ? GuideMelody::Off : GuideMelody::Normal);
    mixer.setMasterVolume(settings.MasterVolume);
    m_session.setRememberPerSong(settings.MixerPerSong);
    showState();
}

MixerControls::~MixerControls()
{
    delete m_mixerWindow.data();
}

void MixerControls::addToMenu(QMenu *menu, bool withVolume)
{
    menu->addSeparator();
    menu->addAction(actionGuideMelody);
    menu->addAction(actionMixer);
    if (!withVolume)
        return;
    auto *holder = new QWidget(menu);
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(24, 2, 8, 2);
    row->addWidget(new QLabel(QStringLiteral("音量"), holder));
    auto *slider = new QSlider(Qt::Horizontal, holder);
    slider->setObjectName(QStringLiteral("sliderMenuVolume"));
    slider->setRange(0, 100);
    slider->setSingleStep(ChannelMixer::kVolumeStep);
    slider->setPageStep(10);
    slider->setFocusPolicy(Qt::StrongFocus);
    slider->setAccessibleName(QStringLiteral("音量"));
    slider->setValue(volume());
    row->addWidget(slider, 1);
    auto *widgetAction = new QWidgetAction(menu);
    widgetAction->setObjectName(QStringLiteral("pmiVolume"));
    widgetAction->setDefaultWidget(holder);
    menu->addAction(widgetAction);
    menu->addAction(actionVolumeUp);
    menu->addAction(actionVolumeDown);
    connect(slider, &QSlider::valueChanged, this, &MixerControls::setVolume);
    m_menuSliders << slider;
}

QString MixerControls::songLoaded(const QByteArray &smf, const QString &path)
{
    // The song is parsed once more here for its sung lines: a few milliseconds even for a
    // large file, and the loader stays as it is.
    const SungFacts sung = sungFactsOf(QByteArrayView(smf), isKaraokeFileName(path));
    const MelodyChoice melody = m_session.songLoaded(QByteArrayView(smf), path, sung.xfChannels, sung.syllableTicks);
    showState();
    return melodyInfoText(melody.channels);
}

void MixerControls::setVolume(int percent)
{
    if (!m_session.mixer().setMasterVolume(percent))
        return;
    showState();
    emit volumeChanged(volume());
}

void MixerControls::cycleGuideMelody()
{
    m_session.mixer().cycleGuideMelody();
    showState();
}

void MixerControls::showMixerWindow()
{
    if (!m_mixerWindow) {
        m_mixerWindow = new MixerWindow(m_session, [this](TBrs4ChannelStatus(&channels)[16]) {
            m_engine.channelStatus(channels);
            return m_engine.status().State == BRSSTATE_PLAY;
        });
        // Alt+M and Alt+N work in it as in the main window.
        m_mixerWindow->addActions({actionGuideMelody, actionMixer});
        connect(m_mixerWindow, &MixerWindow::masterVolumeChanged, this, [this](int percent) {
            showState();
            emit volumeChanged(percent);
        });
    }
    m_mixerWindow->show();
    m_mixerWindow->raise();
    m_mixerWindow->activateWindow();
}

void MixerControls::recordInto(WindowSnapshot &snapshot) const
{
    snapshot.GuideMelody = int(m_session.mixer().guideMelody());
    snapshot.MasterVolume = volume();
    snapshot.MixerPerSong = m_session.rememberPerSong();
}

void MixerControls::showState()
{
    actionGuideMelody->setText(guideCaption(m_session.mixer().guideMelody()));
    actionVolumeUp->setEnabled(volume() < 100);
    actionVolumeDown->setEnabled(volume() > 0);
    for (QSlider *slider : std::as_const(m_menuSliders)) {
        const QSignalBlocker block(slider);
        slider->setValue(volume());
    }
    if (m_mixerWindow)
        m_mixerWindow->refresh();
    emit markChanged();
}

} // namespace tonelark
