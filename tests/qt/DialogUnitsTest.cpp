#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>

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

}  // namespace
}  // namespace moravel::qt
