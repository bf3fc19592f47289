#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QRect>

#include "res/Resources.h"
#include "ui/qt/DialogUnits.h"

namespace moravel::qt {
namespace {

// The window on Windows with its 8-point dialog font at 96 dpi: base units of 6
// by 13 pixels make the 388 x 265 dialog units 582 x 431 pixels.
TEST(DialogUnitsTest, ConvertLikeTheWindowsDialogManager) {
    const BaseUnits windows{6, 13};
    EXPECT_EQ(DluToPixels(388, 265, windows), QSize(582, 431));
    // Copy File at 317,240 (63 x 16): each value rounded on its own, halves up.
    EXPECT_EQ(DluToPixels(317, 240, 63, 16, windows), QRect(476, 390, 95, 26));
    EXPECT_EQ(DluToPixelsX(1, windows), 2);  // 1.5
    EXPECT_EQ(DluToPixelsY(1, windows), 2);  // 1.625
    EXPECT_EQ(DluToPixelsX(0, windows), 0);
    EXPECT_EQ(DluToPixelsX(-2, windows), -3);  // -3.0
    EXPECT_EQ(DluToPixelsX(-1, windows), -2);  // -1.5, away from zero
}

TEST(DialogUnitsTest, BaseUnitsAreTheAverageLetterWidthAndTheFontHeight) {
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    const BaseUnits units = BaseUnitsOf(font);
    // The average of the 52 letters, measured one by one, agrees within rounding.
    double sum = 0;
    for (const QChar letter :
         QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) {
        sum += metrics.horizontalAdvance(letter);
    }
    EXPECT_NEAR(units.x, sum / 52, 1.0);
    EXPECT_GE(units.x, metrics.horizontalAdvance(QLatin1Char('i')));
    EXPECT_LE(units.x, metrics.horizontalAdvance(QLatin1Char('W')));
    EXPECT_EQ(units.y, metrics.ascent() + metrics.descent());
    // A bigger font, bigger units: the window grows with the desktop's font.
    QFont bigger = font;
    bigger.setPointSizeF(font.pointSizeF() * 2);
    EXPECT_GT(BaseUnitsOf(bigger).x, units.x);
    EXPECT_GT(BaseUnitsOf(bigger).y, units.y);
}

// The window in the units of a 9-point font (7 x 14 pixels: 679 x 464), on
// screens of several sizes.
TEST(DialogUnitsTest, AWindowTooLargeForTheScreenIsFittedSmallerAndTheSameShape) {
    const BaseUnits own{7, 14};
    // Room enough (with the frame's): the font's own units, the layout unchanged.
    for (const QSize screen : {QSize(1280, 800), QSize(679 + 16, 464 + 48)}) {
        const BaseUnits fitted = FitBaseUnits(own, 388, 265, screen);
        EXPECT_EQ(DluToPixels(388, 265, fitted), QSize(679, 464));
        EXPECT_EQ(DluToPixels(317, 240, 63, 16, fitted), DluToPixels(317, 240, 63, 16, own));
        EXPECT_EQ(ScaleOf(fitted, own), 1.0);
    }
    // A 1280 x 900 screen at twice the scale: 640 x 450 of the window's pixels.
    const BaseUnits fitted = FitBaseUnits(own, 388, 265, QSize(640, 450));
    const QSize size = DluToPixels(388, 265, fitted);
    EXPECT_LE(size.width(), 640 - 16);
    EXPECT_LE(size.height(), 450 - 48);
    EXPECT_GE(size.height(), 450 - 48 - 2);  // the height is what limits it
    EXPECT_NEAR(static_cast<double>(size.width()) / size.height(), 679.0 / 464, 0.01);
    EXPECT_NEAR(ScaleOf(fitted, own), 402.0 / 464, 0.005);
    // Copy File keeps its place in the layout, scaled: inside the window still.
    const QRect copy = DluToPixels(317, 240, 63, 16, fitted);
    EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(copy));
    EXPECT_NEAR(copy.left(), 555 * ScaleOf(fitted, own), 1.0);
    // A screen too narrow rather than too low.
    const QSize narrow = DluToPixels(388, 265, FitBaseUnits(own, 388, 265, QSize(500, 900)));
    EXPECT_LE(narrow.width(), 500 - 16);
    EXPECT_GE(narrow.width(), 500 - 16 - 2);
}

}  // namespace
}  // namespace moravel::qt
