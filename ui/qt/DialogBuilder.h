#pragma once

#include <map>
#include <vector>

#include "DialogUnits.h"
#include "res/Resources.h"

class QDialog;
class QWidget;

namespace moravel::qt {

// The controls of a dialog built from its layout: by id (controls without one
// are left out) and in tab order.
struct DialogControls {
    std::map<int, QWidget*> byId;
    std::vector<QWidget*> inOrder;
};

// Makes the dialog's controls from its layout, each at its place converted from
// dialog units with the dialog's font, and gives the dialog its fixed size. A
// dialog too large for the screen it opens on (its available area, less room
// for the frame) is laid out in smaller units and a smaller font, by one
// factor: the same layout, smaller, and all of it on the screen.
// Push buttons, the folder tree (FolderTree), the file list (FileList), labels,
// the progress bar, the status line (StatusLine), the logo (bitmap 130) and the
// icon (icon 129); those the layout hides start hidden. The tab order follows
// the layout. Labels take '&' as a mnemonic mark, except the one at index
// literalLabel of the layout (if any), which shows it as it is.
DialogControls BuildDialogControls(QDialog& dialog, const res::DialogTemplate& layout,
                                   int literalLabel = -1);

}  // namespace moravel::qt
