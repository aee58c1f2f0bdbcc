#include "EditCstm.h"

#include <QKeyEvent>

namespace tonelark {

TEdit::TEdit(QWidget *parent) : TEdit(QString(), parent)
{
}

TEdit::TEdit(const QString &text, QWidget *parent) : QLineEdit(text, parent)
{
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
}

void TEdit::keyPressEvent(QKeyEvent *event)
{
    // The keypad flag says where the key sits, not that another modifier is held.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_A && modifiers == Qt::ControlModifier) {
        selectAll();
        // Then on to the default handling, as for any other key.
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (m_digitsOnly && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const QString text = event->text();
        const bool printable = !text.isEmpty() && text.at(0).isPrint();
        bool digits = true;
        for (QChar c : text)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (printable && !digits) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace tonelark
