#include "MixerWindow.h"

#include "InstrumentNames.h"

#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace tonelark {

ChannelMeter::ChannelMeter(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(40, 8);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChannelMeter::setHeight(int steps)
{
    steps = std::clamp(steps, 0, ChannelMeters::kSteps);
    if (steps == m_height)
        return;
    m_height = steps;
    update();
}

void ChannelMeter::paintEvent(QPaintEvent *)
{
    ++m_paints;
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    const int w = width() * m_height / ChannelMeters::kSteps;
    p.fillRect(QRect(0, 1, w, height() - 2), palette().color(QPalette::Highlight));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

namespace {

QString melodyText(const MixerSession &session)
{
    const ChannelMixer &m = session.mixer();
    QString mode;
    switch (m.guideMelody()) {
    case GuideMelody::Normal: mode = QStringLiteral("通常"); break;
    case GuideMelody::Soft: mode = QStringLiteral("小さく"); break;
    case GuideMelody::Off: mode = QStringLiteral("消す"); break;
    }
    return melodyInfoText(m.melodyChannels()) + QStringLiteral("　ガイドメロディ: ") + mode + QStringLiteral(" (Alt+M)");
}

} // namespace

MixerWindow::MixerWindow(MixerSession &session, StatusSource status, QWidget *parent)
    : QWidget(parent, Qt::Window), m_session(session), m_status(std::move(status))
{
    setObjectName(QStringLiteral("MixerWindow"));
    setWindowTitle(QStringLiteral("チャンネル"));
    auto *outer = new QVBoxLayout(this);
    m_melody = new QLabel(this);
    m_melody->setObjectName(QStringLiteral("labelMelody"));
    outer->addWidget(m_melody);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    const QStringList headings{QStringLiteral("ch"), QStringLiteral("トラック"), QStringLiteral("音色"),
                               QStringLiteral("発音"), QStringLiteral("ミュート"), QStringLiteral("ソロ"),
                               QStringLiteral("音量")};
    for (int c = 0; c < headings.size(); ++c)
        grid->addWidget(new QLabel(headings[c], this), 0, c);
    for (int ch = 0; ch < 16; ++ch) {
        Row &r = m_rows[std::size_t(ch)];
        const QString n = QString::number(ch + 1);
        r.number = new QLabel(n, this);
        r.track = new QLabel(this);
        r.track->setObjectName(QStringLiteral("labelTrack") + n);
        r.track->setMinimumWidth(90);
        r.instrument = new QLabel(QStringLiteral("—"), this);
        r.instrument->setObjectName(QStringLiteral("labelInstrument") + n);
        r.instrument->setMinimumWidth(140);
        r.meter = new ChannelMeter(this);
        r.meter->setObjectName(QStringLiteral("meter") + n);
        r.mute = new QCheckBox(this);
        r.mute->setObjectName(QStringLiteral("checkMute") + n);
        r.mute->setAccessibleName(QStringLiteral("ch %1 ミュート").arg(n));
        r.solo = new QCheckBox(this);
        r.solo->setObjectName(QStringLiteral("checkSolo") + n);
        r.solo->setAccessibleName(QStringLiteral("ch %1 ソロ").arg(n));
        r.level = new QSlider(Qt::Horizontal, this);
        r.level->setObjectName(QStringLiteral("sliderLevel") + n);
        r.level->setRange(0, ChannelMixer::kFullLevel);
        r.level->setPageStep(10);
        r.level->setMinimumWidth(80);
        const int row = ch + 1;
        grid->addWidget(r.number, row, 0);
        grid->addWidget(r.track, row, 1);
        grid->addWidget(r.instrument, row, 2);
        grid->addWidget(r.meter, row, 3);
        grid->addWidget(r.mute, row, 4, Qt::AlignCenter);
        grid->addWidget(r.solo, row, 5, Qt::AlignCenter);
        grid->addWidget(r.level, row, 6);
        connect(r.mute, &QCheckBox::toggled, this, [this, ch](bool on) {
            if (m_refreshing)
                return;
            m_session.mixer().setMuted(ch, on);
            channelEdited();
        });
        connect(r.solo, &QCheckBox::toggled, this, [this, ch](bool on) {
            if (m_refreshing)
                return;
            m_session.mixer().setSoloed(ch, on);
            channelEdited();
        });
        connect(r.level, &QSlider::valueChanged, this, [this, ch](int value) {
            if (m_refreshing)
                return;
            m_session.mixer().setLevel(ch, value);
            m_rows[std::size_t(ch)].level->setToolTip(QStringLiteral("%1 %").arg(value));
            channelEdited();
        });
    }
    outer->addLayout(grid);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("全体の音量"), this));
    m_volume = new QSlider(Qt::Horizontal, this);
    m_volume->setObjectName(QStringLiteral("sliderVolume"));
    m_volume->setRange(0, 100);
    m_volume->setSingleStep(ChannelMixer::kVolumeStep);
    m_volume->setPageStep(10);
    m_volume->setAccessibleName(QStringLiteral("全体の音量"));
    bottom->addWidget(m_volume, 1);
    m_volumeText = new QLabel(this);
    m_volumeText->setMinimumWidth(40);
    bottom->addWidget(m_volumeText);
    m_remember = new QCheckBox(QStringLiteral("曲ごとに記憶"), this);
    m_remember->setObjectName(QStringLiteral("checkRememberPerSong"));
    m_remember->setToolTip(QStringLiteral("ミュート・ソロ・音量を曲のファイルごとに覚えます"));
    bottom->addWidget(m_remember);
    outer->addLayout(bottom);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("labelMessage"));
    m_message->setWordWrap(true);
    m_message->hide();
    outer->addWidget(m_message);
    connect(this, &MixerWindow::errorOccurred, this, [this](const QString &message) {
        m_message->setText(QStringLiteral("曲ごとの記憶を保存できません: ") + message);
        m_message->show();
    });
    connect(m_volume, &QSlider::valueChanged, this, [this](int value) {
        m_volumeText->setText(QStringLiteral("%1 %").arg(value));
        if (m_refreshing)
            return;
        if (m_session.mixer().setMasterVolume(value))
            emit masterVolumeChanged(value);
    });
    connect(m_remember, &QCheckBox::toggled, this, [this](bool on) {
        if (m_refreshing)
            return;
        if (const auto error = m_session.setRememberPerSong(on))
            emit errorOccurred(*error);
    });

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &MixerWindow::pollChannels);
    refresh();
}

int MixerWindow::pollIntervalMs() const
{
    const QScreen *s = screen();
    const double rate = s && s->refreshRate() > 1 ? s->refreshRate() : 60.0;
    return std::max(8, int(std::ceil(1000.0 / rate)));
}

void MixerWindow::refresh()
{
    m_refreshing = true;
    const ChannelMixer &m = m_session.mixer();
    const ChannelSurvey &survey = m_session.survey();
    for (int ch = 0; ch < 16; ++ch) {
        Row &r = m_rows[std::size_t(ch)];
        const bool melody = (m.melodyChannels() >> ch) & 1;
        r.number->setText(QString::number(ch + 1) + (melody ? QStringLiteral(" ♪") : QString()));
        r.number->setToolTip(melody ? QStringLiteral("メロディ") : QString());
        r.track->setText(survey.trackNames[std::size_t(ch)]);
        const bool used = !survey.noteOnTicks[std::size_t(ch)].empty();
        r.track->setEnabled(used);
        r.instrument->setEnabled(used);
        r.mute->setChecked(m.channel(ch).muted);
        r.solo->setChecked(m.channel(ch).soloed);
        r.level->setValue(m.channel(ch).level);
        r.level->setToolTip(QStringLiteral("%1 %").arg(m.channel(ch).level));
    }
    m_melody->setText(melodyText(m_session));
    m_volume->setValue(m.masterVolume());
    m_volumeText->setText(QStringLiteral("%1 %").arg(m.masterVolume()));
    m_remember->setChecked(m_session.rememberPerSong());
    m_refreshing = false;
}

void MixerWindow::pollChannels()
{
    TBrs4ChannelStatus channels[16] = {};
    const bool playing = m_status ? m_status(channels) : false;
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    if (m_meters.update(channels, playing, clock.elapsed()))
        for (int ch = 0; ch < 16; ++ch)
            m_rows[std::size_t(ch)].meter->setHeight(m_meters.height(ch));
    for (int ch = 0; ch < 16; ++ch) {
        const TBrs4ChannelStatus &c = channels[ch];
        const QString text = instrumentText(c.Flags & BRSCHANNEL_PROGRAM, c.Program, c.BankMsb, c.BankLsb,
                                            c.Flags & BRSCHANNEL_DRUM);
        QLabel *label = m_rows[std::size_t(ch)].instrument;
        if (label->text() != text)
            label->setText(text);
    }
}

void MixerWindow::channelEdited()
{
    if (const auto error = m_session.channelsChanged())
        emit errorOccurred(*error);
}

void MixerWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    m_timer->start(pollIntervalMs());
    pollChannels();
}

void MixerWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

} // namespace tonelark
