#pragma once

#include <QIcon>
#include <QPixmap>

namespace moravel::qt {

// Icon 129: the program's icon in every size it is drawn in (16 to 256 pixels).
QIcon ApplicationIcon();
// Bitmap 130: the logo of the window's lower left corner.
QPixmap LogoBitmap();

}  // namespace moravel::qt
