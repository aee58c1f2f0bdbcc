#include "StageWindow.h"

#include "Convex.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace tonelark {

namespace {

constexpr QSize kDefaultSize(960, 540);
constexpr QSize kMinimumSize(320, 180);

QScreen *screenNamed(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

} // namespace

StageWidget::StageWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("stage"));
    // Every paint fills its area itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_theme = stageTheme(StageThemeKind::Dark, {}, {}, {});
}

void StageWidget::setSong(StageSong song, const TSmfEventTempoList *tempo)
{
    m_scene.setSong(std::move(song), tempo);
    update();
}

void StageWidget::setTheme(const StageTheme &theme)
{
    m_theme = theme;
    update();
}

void StageWidget::setStageFont(const QFont &font)
{
    m_font = font;
    m_scene.setGeometry(size(), m_font);
    update();
}

void StageWidget::setPosition(double songMs)
{
    m_pendingMs = songMs;
    if (songMs == m_drawnMs)
        return;
    // No more often than the screen shows frames; a skipped position is caught up by the
    // next one, as the damage runs from the last position drawn.
    const QScreen *shown = screen();
    const double frameMs = shown && shown->refreshRate() > 1 ? 1000.0 / shown->refreshRate() : 1000.0 / 60;
    if (m_lastFrame.isValid() && m_lastFrame.elapsed() < qint64(frameMs * 0.8))
        return;
    m_lastFrame.start();
    const QRegion changed = m_scene.damage(m_drawnMs, songMs);
    m_drawnMs = songMs;
    if (!changed.isEmpty() && isVisible())
        update(changed);
}

void StageWidget::paintEvent(QPaintEvent *event)
{
    ++m_paintCount;
    QPainter painter(this);
    for (const QRect &rect : event->region()) {
        m_paintedPixels += qint64(rect.width()) * rect.height();
        painter.setClipRect(rect);
        m_scene.paint(painter, m_theme, m_drawnMs, rect);
    }
}

void StageWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_scene.setGeometry(size(), m_font);
}

void StageWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int line = m_scene.lineAt(event->position(), m_drawnMs);
    if (line >= 0)
        emit playRequested(m_scene.timeline().lines()[size_t(line)].tick);
    event->accept();
}

StageWindow::StageWindow(Convex &ini, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ini(ini)
{
    setObjectName(QStringLiteral("StageWindow"));
    setWindowTitle(caption());
    setMinimumSize(kMinimumSize);
    m_settings = StageSettings::load(ini);
    m_written = m_settings;

    stage = new StageWidget(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stage);

    const auto windowAction = [this](const char *name, const QString &caption, const QKeySequence &key) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        return action;
    };
    actionFullScreen = windowAction("actionFullScreen", QStringLiteral("全画面表示(&F)"), QKeySequence(Qt::Key_F11));
    actionFullScreen->setCheckable(true);
    connect(actionFullScreen, &QAction::triggered, this, &StageWindow::toggleFullScreen);
    actionLeaveFullScreen = windowAction("actionLeaveFullScreen", QStringLiteral("全画面表示を終了"),
                                         QKeySequence(Qt::Key_Escape));
    actionLeaveFullScreen->setEnabled(false);
    connect(actionLeaveFullScreen, &QAction::triggered, this, &StageWindow::leaveFullScreen);
    actionNextScreen = windowAction("actionNextScreen", QStringLiteral("次の画面へ移動(&M)"), QKeySequence());
    connect(actionNextScreen, &QAction::triggered, this, &StageWindow::moveToNextScreen);
    actionThemeLyricColors = windowAction("actionThemeLyricColors", QStringLiteral("歌詞の強調色(&C)"), QKeySequence());
    actionThemeDark = windowAction("actionThemeDark", QStringLiteral("ダーク(&D)"), QKeySequence());
    m_themeGroup = new QActionGroup(this);
    for (QAction *action : {actionThemeLyricColors, actionThemeDark}) {
        action->setCheckable(true);
        m_themeGroup->addAction(action);
    }
    connect(actionThemeLyricColors, &QAction::triggered, this, [this] { setThemeKind(StageThemeKind::LyricColors); });
    connect(actionThemeDark, &QAction::triggered, this, [this] { setThemeKind(StageThemeKind::Dark); });
    actionFont = windowAction("actionFont", QStringLiteral("フォント(&O)..."), QKeySequence());
    connect(actionFont, &QAction::triggered, this, &StageWindow::chooseFont);
    actionClose = windowAction("actionClose", QStringLiteral("閉じる(&X)"), QKeySequence());
    connect(actionClose, &QAction::triggered, this, &QWidget::close);

    popupMenuStage = new QMenu(this);
    popupMenuStage->setObjectName(QStringLiteral("popupMenuStage"));
    popupMenuStage->addAction(actionFullScreen);
    popupMenuStage->addAction(actionNextScreen);
    popupMenuStage->addSeparator();
    QMenu *themes = popupMenuStage->addMenu(QStringLiteral("配色(&T)"));
    themes->addAction(actionThemeLyricColors);
    themes->addAction(actionThemeDark);
    popupMenuStage->addAction(actionFont);
    popupMenuStage->addSeparator();
    popupMenuStage->addAction(actionClose);
    connect(popupMenuStage, &QMenu::aboutToShow, this, [this] {
        actionNextScreen->setEnabled(QGuiApplication::screens().size() > 1);
    });

    QFont face(m_settings.fontName);
    face.setStyleHint(QFont::SansSerif);
    stage->setStageFont(face);
    applyTheme();
}

void StageWindow::open()
{
    if (!m_placed) {
        m_placed = true;
        QScreen *target = screenNamed(m_settings.screen);
        if (!target)
            target = QGuiApplication::primaryScreen();
        const QRect fallback = target ? target->availableGeometry() : QRect(QPoint(0, 0), kDefaultSize);
        QList<QRect> screens;
        for (const QScreen *screen : QGuiApplication::screens())
            screens << screen->availableGeometry();
        QRect wanted = m_settings.geometry;
        if (wanted.isEmpty()) {
            wanted = QRect(QPoint(0, 0), kDefaultSize.boundedTo(fallback.size()));
            wanted.moveCenter(fallback.center());
        }
        setGeometry(usableStageGeometry(wanted, screens, fallback));
    }
    if (m_settings.fullScreen)
        showFullScreen();
    else
        show();
    raise();
    activateWindow();
}

void StageWindow::setLyricColors(const QColor &back, const QColor &text, const QColor &windowText)
{
    m_lyricBack = back;
    m_lyricText = text;
    m_windowText = windowText;
    applyTheme();
}

void StageWindow::setSong(StageSong song, const TSmfEventTempoList *tempo)
{
    stage->setSong(std::move(song), tempo);
}

void StageWindow::applyTheme()
{
    actionThemeLyricColors->setChecked(m_settings.theme == StageThemeKind::LyricColors);
    actionThemeDark->setChecked(m_settings.theme == StageThemeKind::Dark);
    stage->setTheme(stageTheme(m_settings.theme, m_lyricBack, m_lyricText, m_windowText));
}

void StageWindow::setThemeKind(StageThemeKind kind)
{
    m_settings.theme = kind;
    applyTheme();
}

void StageWindow::setFontName(const QString &family)
{
    if (family.trimmed().isEmpty())
        return;
    m_settings.fontName = family;
    QFont face(family);
    face.setStyleHint(QFont::SansSerif);
    stage->setStageFont(face);
}

void StageWindow::chooseFont()
{
    // open(), not exec(): no nested event loop runs inside the menu's signal.
    auto *dialog = new QFontDialog(QFont(m_settings.fontName), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("歌詞ウィンドウのフォント"));
    dialog->setOption(QFontDialog::DontUseNativeDialog);
    connect(dialog, &QFontDialog::fontSelected, this, [this](const QFont &font) { setFontName(font.family()); });
    dialog->open();
}

void StageWindow::toggleFullScreen()
{
    if (isFullScreen())
        leaveFullScreen();
    else
        showFullScreen();
}

void StageWindow::leaveFullScreen()
{
    if (isFullScreen())
        showNormal();
}

void StageWindow::moveToNextScreen()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.size() < 2)
        return;
    QScreen *current = screen();
    const int index = std::max<int>(0, int(screens.indexOf(current)));
    QScreen *next = screens[(index + 1) % screens.size()];
    const bool wasFull = isFullScreen();
    if (wasFull)
        showNormal();
    QRect frame = wasFull ? normalGeometry() : geometry();
    const QRect from = current ? current->availableGeometry() : QRect();
    const QRect to = next->availableGeometry();
    frame.translate(to.topLeft() - from.topLeft());
    setGeometry(usableStageGeometry(frame, {to}, to));
    if (windowHandle())
        windowHandle()->setScreen(next);
    if (wasFull)
        showFullScreen();
}

void StageWindow::noteGeometry()
{
    if (!m_placed)
        return;
    m_settings.fullScreen = isFullScreen();
    const QRect normal = isFullScreen() || isMaximized() ? normalGeometry() : geometry();
    if (!normal.isEmpty())
        m_settings.geometry = normal;
    if (const QScreen *shown = screen())
        m_settings.screen = shown->name();
}

void StageWindow::writeSettings()
{
    if (isVisible())
        noteGeometry();
    if (m_settings.save(m_ini, m_written))
        m_written = m_settings;
}

void StageWindow::closeEvent(QCloseEvent *event)
{
    writeSettings();
    event->accept();
    emit closed();
}

void StageWindow::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    popupMenuStage->popup(event->globalPos());
}

void StageWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        actionFullScreen->setChecked(isFullScreen());
        actionLeaveFullScreen->setEnabled(isFullScreen());
    }
}

} // namespace tonelark
