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
    return MulDiv(dlu, units.x, 4 * units.parts);
}

int DluToPixelsY(int dlu, BaseUnits units) {
    return MulDiv(dlu, units.y, 8 * units.parts);
}

BaseUnits FitBaseUnits(BaseUnits units, int width, int height, QSize available) {
    const QSize room = available - kWindowFrameRoom;
    const auto fits = [&](BaseUnits tried) {
        const QSize size = DluToPixels(width, height, tried);
        return size.width() <= room.width() && size.height() <= room.height();
    };
    if (fits(units)) {
        return units;
    }
    constexpr int kWhole = 1000;
    BaseUnits scaled{0, 0, units.parts * kWhole};
    for (int share = kWhole - 1; share > kWhole / 4; --share) {
        scaled.x = units.x * share;
        scaled.y = units.y * share;
        if (fits(scaled)) {
            return scaled;
        }
    }
    return {units.x * kWhole / 4, units.y * kWhole / 4, scaled.parts};
}

double ScaleOf(BaseUnits fitted, BaseUnits own) {
    if (own.x == 0 || fitted.parts == 0) {
        return 1.0;
    }
    return static_cast<double>(fitted.x) * own.parts / (static_cast<double>(own.x) * fitted.parts);
}

QRect DluToPixels(int x, int y, int width, int height, BaseUnits units) {
    return {DluToPixelsX(x, units), DluToPixelsY(y, units), DluToPixelsX(width, units),
            DluToPixelsY(height, units)};
}

QSize DluToPixels(int width, int height, BaseUnits units) {
    return {DluToPixelsX(width, units), DluToPixelsY(height, units)};
}

int LayoutPixelsX(int pixels, BaseUnits units) {
    return MulDiv(pixels, units.x, kLayoutFontBaseWidth * units.parts);
}

}  // namespace moravel::qt
