#pragma once

#include "StageScene.h"
#include "StageSettings.h"

#include <QElapsedTimer>
#include <QWidget>

class QAction;
class QActionGroup;
class QMenu;

// 歌詞ウィンドウ: the karaoke window. StageWidget paints a StageScene and repaints only
// what the wipe changes; StageWindow is the resizable top-level window around it with its
// keys (F11, Esc), its menu (full screen, another screen, theme, face) and its keys in
// the settings file.
namespace tonelark {

class Convex;

class StageWidget : public QWidget {
    Q_OBJECT
public:
    explicit StageWidget(QWidget *parent = nullptr);

    void setSong(StageSong song, const TSmfEventTempoList *tempo);
    void setTheme(const StageTheme &theme);
    void setStageFont(const QFont &font);
    // The song position in milliseconds of song time. Repaints what changed since the
    // last position drawn, at most once per frame of the screen; nothing when it is the
    // same (paused, stopped).
    void setPosition(double songMs);

    const StageScene &scene() const { return m_scene; }
    double positionMs() const { return m_drawnMs; }
    const StageTheme &theme() const { return m_theme; }
    // Paint events so far and the pixels they covered (for the benchmark and the tests).
    qint64 paintCount() const { return m_paintCount; }
    qint64 paintedPixels() const { return m_paintedPixels; }

signals:
    // A click on a line: play from its tick.
    void playRequested(qint32 tick);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    StageScene m_scene;
    StageTheme m_theme;
    QFont m_font;
    double m_drawnMs = 0;
    double m_pendingMs = 0;
    QElapsedTimer m_lastFrame;
    qint64 m_paintCount = 0;
    qint64 m_paintedPixels = 0;
};

class StageWindow : public QWidget {
    Q_OBJECT
public:
    static QString caption() { return QStringLiteral("歌詞ウィンドウ - Tonelark"); }

    // Reads its keys from `ini` (which outlives the window).
    explicit StageWindow(Convex &ini, QWidget *parent = nullptr);

    // Shows the window where it last was (and full screen when it was).
    void open();
    // The lyric highlight colours the LyricColors theme takes, and the text colour.
    void setLyricColors(const QColor &back, const QColor &text, const QColor &windowText);
    void setSong(StageSong song, const TSmfEventTempoList *tempo);
    // The engine's song position in milliseconds.
    void follow(qint32 songMs) { stage->setPosition(songMs); }
    // Writes the keys that changed since they were read or last written.
    void writeSettings();
    const StageSettings &settings() const { return m_settings; }

    void toggleFullScreen();
    void leaveFullScreen();
    // Moves the window to the next screen (in the desktop's order), full screen there when
    // it was full screen.
    void moveToNextScreen();
    void setThemeKind(StageThemeKind kind);
    void setFontName(const QString &family);

    StageWidget *stage = nullptr;
    QMenu *popupMenuStage = nullptr;
    QAction *actionFullScreen = nullptr;
    QAction *actionLeaveFullScreen = nullptr;
    QAction *actionNextScreen = nullptr;
    QAction *actionThemeLyricColors = nullptr;
    QAction *actionThemeDark = nullptr;
    QAction *actionFont = nullptr;
    QAction *actionClose = nullptr;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyTheme();
    void noteGeometry();
    void chooseFont();

    Convex &m_ini;
    StageSettings m_settings;
    StageSettings m_written;
    QColor m_lyricBack = Qt::white;
    QColor m_lyricText = QColor(0x66, 0x99, 0xFF);
    QColor m_windowText = Qt::black;
    QActionGroup *m_themeGroup = nullptr;
    bool m_placed = false;
};

} // namespace tonelark
