#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace moravel::qt {

// The dialog base units of a font, in pixels: the average width of its letters
// (the width of "A".."Z" and "a".."z" over 52, rounded) and its height (ascent
// plus descent), as the Windows dialog manager measures them.
struct BaseUnits {
    int x = 0;
    int y = 0;
};

BaseUnits BaseUnitsOf(const QFont& font);

// Dialog units to pixels: a quarter of the base width across, an eighth of the
// base height down, each value rounded to the nearest pixel on its own.
int DluToPixelsX(int dlu, BaseUnits units);
int DluToPixelsY(int dlu, BaseUnits units);
QRect DluToPixels(int x, int y, int width, int height, BaseUnits units);
QSize DluToPixels(int width, int height, BaseUnits units);

}  // namespace moravel::qt
