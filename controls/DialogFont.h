#pragma once

#include <QFont>
#include <QWidget>

namespace tonelark {

// A dialog takes its owner's face and height; style and the rest stay the dialog's own.
inline void adoptOwnerFace(QWidget *dialog, const QWidget *owner)
{
    if (!owner)
        return;
    QFont dialogFont = dialog->font();
    const QFont &ownerFont = owner->font();
    dialogFont.setFamilies(ownerFont.families());
    dialogFont.setFamily(ownerFont.family());
    if (ownerFont.pixelSize() > 0)
        dialogFont.setPixelSize(ownerFont.pixelSize());
    else
        dialogFont.setPointSizeF(ownerFont.pointSizeF());
    dialog->setFont(dialogFont);
}

} // namespace tonelark
