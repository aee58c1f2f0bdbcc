#pragma once

#include "EditCstm.h"
#include "ModalLoop.h"

#include <QPlainTextEdit>
#include <QPointer>

#include <QMenu>

// The main window's text boxes: the author and title boxes (the program's edit box with the
// window's context-menu rule and frame styles) and the four memos (the same menu rule).
namespace tonelark {

// InfoBoxStyle values; any other value acts as ibsDefault.
enum TInfoBoxStyle { ibsDefault = 0, ibsBorderOnly = 1, ibsNone = 2 };

enum class InfoBoxFrame { Sunken, FlatBorder, None };

// The frame of a style and the box's offset below its designed position (Tag): 0, 1, 3.
struct InfoBoxLook {
    InfoBoxFrame frame = InfoBoxFrame::Sunken;
    int topOffset = 0;
    bool operator==(const InfoBoxLook &) const = default;
};
InfoBoxLook infoBoxLookFor(qint32 style);

namespace umain {

// A context-menu request on a box: InModalLoop (when a state is set) is true exactly while the menu
// is open. The box's own menu (popupMenuMetaText) when it has one, else Qt's standard edit
// menu. Requests from the box's scroll bars are not served (they show no menu at all).
class TEdit : public tonelark::TEdit {
    Q_OBJECT
public:
    explicit TEdit(QWidget *parent = nullptr);

    // The designed vertical position the frame styles place the box from.
    void setTag(int tag) { m_tag = tag; }
    int tag() const { return m_tag; }
    void applyInfoBoxStyle(qint32 style);
    InfoBoxFrame frame() const { return m_frame; }

    void setContextMenu(QMenu *menu) { m_contextMenu = menu; }
    QMenu *contextMenu() const { return m_contextMenu; }
    void setModalLoopState(ModalLoopState *state) { m_modalLoop = state; }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int m_tag = 0;
    InfoBoxFrame m_frame = InfoBoxFrame::Sunken;
    QPointer<QMenu> m_contextMenu;
    ModalLoopState *m_modalLoop = nullptr;
};

class TMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TMemo(QWidget *parent = nullptr);

    void setContextMenu(QMenu *menu) { m_contextMenu = menu; }
    QMenu *contextMenu() const { return m_contextMenu; }
    void setModalLoopState(ModalLoopState *state) { m_modalLoop = state; }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QPointer<QMenu> m_contextMenu;
    ModalLoopState *m_modalLoop = nullptr;
};

} // namespace umain

} // namespace tonelark
