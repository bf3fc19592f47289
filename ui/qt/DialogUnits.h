#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace moravel::qt {

// The dialog base units of a font, in pixels: the average width of its letters
// (the width of "A".."Z" and "a".."z" over 52, rounded) and its height (ascent
// plus descent), as the Windows dialog manager measures them. Units scaled to
// fit a screen count in parts of a pixel: x and y are in 1/parts pixels.
struct BaseUnits {
    int x = 0;
    int y = 0;
    int parts = 1;
};

BaseUnits BaseUnitsOf(const QFont& font);

// The room a window needs around its own area on a screen: the frame and the
// title bar a window manager adds.
inline constexpr QSize kWindowFrameRoom{16, 48};

// The base units at which a dialog of width x height dialog units fits, with
// kWindowFrameRoom around it, into available pixels: the font's own units when
// it fits, else the largest fraction of them (in thousandths, a quarter at
// the least) at which it does, the same across as down.
BaseUnits FitBaseUnits(BaseUnits units, int width, int height, QSize available);
// How much smaller fitted units are than the font's own: 1 when they are its own.
double ScaleOf(BaseUnits fitted, BaseUnits own);

// Dialog units to pixels: a quarter of the base width across, an eighth of the
// base height down, each value rounded to the nearest pixel on its own.
int DluToPixelsX(int dlu, BaseUnits units);
int DluToPixelsY(int dlu, BaseUnits units);
QRect DluToPixels(int x, int y, int width, int height, BaseUnits units);
QSize DluToPixels(int width, int height, BaseUnits units);

// Pixels given for the layout's own font (MS Shell Dlg 8 at 96 dpi, whose
// letters are 6 pixels wide on average), such as the list's column widths, in
// pixels of a font of these units.
inline constexpr int kLayoutFontBaseWidth = 6;
int LayoutPixelsX(int pixels, BaseUnits units);

}  // namespace moravel::qt
