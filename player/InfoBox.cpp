#include "InfoBox.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <functional>
#include <memory>

namespace tonelark {

InfoBoxLook infoBoxLookFor(qint32 style)
{
    switch (style) {
    case ibsBorderOnly:
        return {InfoBoxFrame::FlatBorder, 1};
    case ibsNone:
        return {InfoBoxFrame::None, 3};
    default:
        return {InfoBoxFrame::Sunken, 0};
    }
}

namespace umain {

namespace {

// Runs `menu` (or the box's standard menu) at `globalPos` with the modal flag set around it.
void runBoxMenu(QWidget *box, QMenu *menu, const std::function<QMenu *()> &standardMenu,
                ModalLoopState *modalLoop, const QPoint &globalPos)
{
    // The menu's preparation reads the window's active control: it is this box.
    box->setFocus(Qt::PopupFocusReason);
    const ModalLoopGuard modal(modalLoop);
    if (menu) {
        menu->exec(globalPos);
        return;
    }
    const std::unique_ptr<QMenu> own(standardMenu());
    if (own)
        own->exec(globalPos);
}

} // namespace

TEdit::TEdit(QWidget *parent) : tonelark::TEdit(parent)
{
}

void TEdit::applyInfoBoxStyle(qint32 style)
{
    const InfoBoxLook look = infoBoxLookFor(style);
    m_frame = look.frame;
    // The style's own frame is the sunken one; the flat border is drawn here, inside the
    // one pixel of margin it needs.
    setFrame(m_frame == InfoBoxFrame::Sunken);
    setTextMargins(m_frame == InfoBoxFrame::FlatBorder ? QMargins(1, 1, 1, 1) : QMargins());
    move(x(), m_tag + look.topOffset);
    update();
}

void TEdit::paintEvent(QPaintEvent *event)
{
    tonelark::TEdit::paintEvent(event);
    if (m_frame != InfoBoxFrame::FlatBorder)
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TEdit::contextMenuEvent(QContextMenuEvent *event)
{
    runBoxMenu(this, m_contextMenu, [this] { return createStandardContextMenu(); }, m_modalLoop,
               event->globalPos());
    event->accept();
}

TMemo::TMemo(QWidget *parent) : QPlainTextEdit(parent)
{
    // A request on a scroll bar names another window than the box: nobody serves it.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()})
        bar->setContextMenuPolicy(Qt::PreventContextMenu);
}

void TMemo::contextMenuEvent(QContextMenuEvent *event)
{
    runBoxMenu(this, m_contextMenu,
               [this, event] { return createStandardContextMenu(event->pos()); }, m_modalLoop,
               event->globalPos());
    event->accept();
}

} // namespace umain

} // namespace tonelark
