// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/tray_icon.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kestrel::ui {

namespace {

// Blue as the program has always drawn it: pure blue.
constexpr QRgb kBlue = qRgb(0, 0, 255);

// The largest bold font whose inked digits fit the box with a pixel to spare on every side, so
// the outline and the bar's edges stay readable.
QFont fittingFont(const QString& text, const QSize& box) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    for (int pixels = std::max(box.height(), 1); pixels > 1; --pixels) {
        font.setPixelSize(pixels);
        const QRect ink = QFontMetrics(font).tightBoundingRect(text);
        if (ink.width() <= box.width() - 2 && ink.height() <= box.height() - 2) {
            return font;
        }
    }
    font.setPixelSize(1);
    return font;
}

}  // namespace

QImage drawProgressIcon(double percent, int size) {
    if (size < 3) {
        return {};
    }
    if (!std::isfinite(percent)) {
        percent = 0;
    }
    percent = std::clamp(percent, 0.0, 100.0);

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QRect outer(0, 0, size, size);
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    painter.fillRect(outer, QColor(kBlue));
    painter.fillRect(inner, Qt::white);
    const int filled = static_cast<int>(std::lround(inner.width() * percent / 100.0));
    const QRect bar(inner.left(), inner.top(), filled, inner.height());
    painter.fillRect(bar, QColor(kBlue));

    const QString text = QString::number(static_cast<int>(std::floor(percent)));
    painter.setFont(fittingFont(text, inner.size()));
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Centre the inked digits, not the font's line box, whose ascent would push them down.
    const QRect ink = painter.fontMetrics().tightBoundingRect(text);
    const QPoint origin(inner.left() + (inner.width() - ink.width()) / 2 - ink.left(),
                        inner.top() + (inner.height() - ink.height()) / 2 - ink.top());
    // One colour could not be read over both parts of the bar.
    painter.setClipRect(bar);
    painter.setPen(Qt::white);
    painter.drawText(origin, text);
    painter.setClipRect(
        QRect(bar.right() + 1, inner.top(), inner.width() - filled, inner.height()));
    painter.setPen(QColor(kBlue));
    painter.drawText(origin, text);
    painter.end();
    return image;
}

}  // namespace kestrel::ui
