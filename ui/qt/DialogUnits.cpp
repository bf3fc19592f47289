#include "DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace moravel::qt {

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    const long long result = product >= 0 ? (product + half) / c : (product - half) / c;
    return static_cast<int>(result);
}

}  // namespace

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

int DluToPixelsX(int dlu, BaseUnits units) {
    return MulDiv(dlu, units.x, 4);
}

int DluToPixelsY(int dlu, BaseUnits units) {
    return MulDiv(dlu, units.y, 8);
}

QRect DluToPixels(int x, int y, int width, int height, BaseUnits units) {
    return {DluToPixelsX(x, units), DluToPixelsY(y, units), DluToPixelsX(width, units),
            DluToPixelsY(height, units)};
}

QSize DluToPixels(int width, int height, BaseUnits units) {
    return {DluToPixelsX(width, units), DluToPixelsY(height, units)};
}

}  // namespace moravel::qt
