#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "ui/tray_icon.h"

namespace kestrel::ui {
namespace {

constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);

TEST(DrawProgressIcon, AnOutlinedWhiteSquareFilledFromTheLeftAndClamped) {
    for (int size : {16, 32}) {
        SCOPED_TRACE(size);
        const QImage empty = drawProgressIcon(0, size);
        ASSERT_EQ(empty.size(), QSize(size, size));
        EXPECT_EQ(empty.pixel(size - 1, size - 1), kBlue) << "outline";
        EXPECT_EQ(empty.pixel(1, 1), kWhite);
        const QImage half = drawProgressIcon(50, size);
        EXPECT_EQ(half.pixel(1, size - 2), kBlue);
        EXPECT_EQ(half.pixel(size / 2 - 2, 1), kBlue);
        EXPECT_EQ(half.pixel(size / 2 + 1, 1), kWhite);
        EXPECT_EQ(half.pixel(size - 2, 1), kWhite);
        EXPECT_EQ(drawProgressIcon(100, size).pixel(size - 2, size - 2), kBlue);
    }
    EXPECT_EQ(drawProgressIcon(250, 16), drawProgressIcon(100, 16));
    EXPECT_EQ(drawProgressIcon(-3, 16), drawProgressIcon(0, 16));
    EXPECT_EQ(drawProgressIcon(std::nan(""), 16), drawProgressIcon(0, 16));
    EXPECT_TRUE(drawProgressIcon(50, 2).isNull());
}

// The number is written white over the bar and blue over the rest: it must show on both sides
// of the bar's edge.
TEST(DrawProgressIcon, TheNumberShowsInBothHalves) {
    const QImage image = drawProgressIcon(50, 32);
    bool lightOnBlue = false;
    bool darkOnWhite = false;
    for (int y = 2; y < 30; ++y) {
        for (int x = 2; x < 30; ++x) {
            const int red = QColor::fromRgb(image.pixel(x, y)).red();
            lightOnBlue |= x < 16 && red > 128;
            darkOnWhite |= x >= 16 && red < 128;
        }
    }
    EXPECT_TRUE(lightOnBlue);
    EXPECT_TRUE(darkOnWhite);
}

}  // namespace
}  // namespace kestrel::ui
