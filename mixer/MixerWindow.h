#pragma once

#include "MixerSession.h"

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QSlider;
class QTimer;

namespace tonelark {

// One channel's activity meter: a bar of ChannelMeters::kSteps steps.
class ChannelMeter : public QWidget {
    Q_OBJECT
public:
    explicit ChannelMeter(QWidget *parent = nullptr);
    void setHeight(int steps);
    int height() const { return m_height; }
    // How often it has been painted (tests check that a paused song repaints nothing).
    int paintCount() const { return m_paints; }
    QSize sizeHint() const override { return {60, 10}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_height = 0;
    int m_paints = 0;
};

// The window 「チャンネル」: the 16 channels with their track name, instrument, meter, mute, solo
// and level, the master volume and "曲ごとに記憶". Everything it changes goes to the session's
// mixer; what it shows of the playing channels comes from `status`, polled at the screen's
// refresh rate while the window is shown.
class MixerWindow : public QWidget {
    Q_OBJECT
public:
    // Fills `channels` and returns whether the song is playing.
    using StatusSource = std::function<bool(TBrs4ChannelStatus (&channels)[16])>;

    MixerWindow(MixerSession &session, StatusSource status, QWidget *parent = nullptr);

    // Shows the session's song and settings again (after a new song, Alt+M, a volume change).
    void refresh();
    // One poll of the channels (the timer's step).
    void pollChannels();
    ChannelMeter *meter(int ch) const { return m_rows[std::size_t(ch)].meter; }
    int pollIntervalMs() const;

signals:
    void masterVolumeChanged(int percent);
    // Keeping the per-song state failed: the reason, in Japanese (also shown in the window).
    void errorOccurred(const QString &message);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Row {
        QLabel *number = nullptr;
        QLabel *track = nullptr;
        QLabel *instrument = nullptr;
        ChannelMeter *meter = nullptr;
        QCheckBox *mute = nullptr;
        QCheckBox *solo = nullptr;
        QSlider *level = nullptr;
    };
    void channelEdited();

    MixerSession &m_session;
    StatusSource m_status;
    std::array<Row, 16> m_rows;
    QLabel *m_melody = nullptr;
    QSlider *m_volume = nullptr;
    QLabel *m_volumeText = nullptr;
    QCheckBox *m_remember = nullptr;
    QLabel *m_message = nullptr;
    QTimer *m_timer = nullptr;
    ChannelMeters m_meters;
    bool m_refreshing = false;
};

} // namespace tonelark
