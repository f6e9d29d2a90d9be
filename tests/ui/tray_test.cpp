#include <gtest/gtest.h>

#include <QPixmap>
#include <vector>

#include "ui/tray_icon.h"

namespace kestrel::ui {
namespace {

constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);

QRgb at(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}

// Pixels of the inner area that are neither the bar's blue nor white: the digits' edges.
int inkedPixels(const QImage& image) {
    int count = 0;
    for (int y = 1; y < image.height() - 1; ++y) {
        for (int x = 1; x < image.width() - 1; ++x) {
            const QRgb pixel = at(image, x, y);
            count += pixel != kBlue && pixel != kWhite;
        }
    }
    return count;
}

TEST(DrawProgressIcon, OutlinedWhiteSquareFilledFromTheLeft) {
    for (int size : {16, 32}) {
        const QImage empty = drawProgressIcon(0, size);
        ASSERT_EQ(empty.size(), QSize(size, size));
        EXPECT_EQ(at(empty, 0, 0), kBlue) << "outline";
        EXPECT_EQ(at(empty, size - 1, size - 1), kBlue) << "outline";
        EXPECT_EQ(at(empty, 1, 1), kWhite);
        EXPECT_EQ(at(empty, size - 2, 1), kWhite);

        const QImage half = drawProgressIcon(50, size);
        EXPECT_EQ(at(half, 1, 1), kBlue) << "left inner pixel at " << size;
        EXPECT_EQ(at(half, 1, size - 2), kBlue);
        EXPECT_EQ(at(half, size - 2, 1), kWhite) << "right inner pixel at " << size;
        EXPECT_EQ(at(half, size / 2 - 2, 1), kBlue);
        EXPECT_EQ(at(half, size / 2 + 1, 1), kWhite);
        EXPECT_GT(inkedPixels(half), 0) << "the number is written";

        const QImage full = drawProgressIcon(100, size);
        EXPECT_EQ(at(full, 1, 1), kBlue);
        EXPECT_EQ(at(full, size - 2, size - 2), kBlue);
        EXPECT_GT(inkedPixels(full), 0);
    }
}

TEST(DrawProgressIcon, ValuesOutsideTheRangeAreClamped) {
    EXPECT_EQ(drawProgressIcon(250, 16), drawProgressIcon(100, 16));
    EXPECT_EQ(drawProgressIcon(-3, 16), drawProgressIcon(0, 16));
    EXPECT_EQ(drawProgressIcon(std::nan(""), 16), drawProgressIcon(0, 16));
    EXPECT_TRUE(drawProgressIcon(50, 2).isNull());
}

TEST(DrawProgressIcon, TheNumberShowsInBothHalves) {
    // Written white over the bar and blue over the rest: the digits must differ from a plain
    // fill on both sides of the bar's edge.
    const QImage image = drawProgressIcon(50, 32);
    bool lightOnBlue = false;
    bool darkOnWhite = false;
    for (int y = 2; y < 30; ++y) {
        for (int x = 2; x < 30; ++x) {
            const QColor pixel = QColor::fromRgb(at(image, x, y));
            if (x < 16 && pixel.red() > 128) {
                lightOnBlue = true;
            }
            if (x >= 16 && pixel.red() < 128) {
                darkOnWhite = true;
            }
        }
    }
    EXPECT_TRUE(lightOnBlue);
    EXPECT_TRUE(darkOnWhite);
}

}  // namespace
}  // namespace kestrel::ui
