// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/picture_box.h"

#include <QPainter>

namespace kestrel::ui {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::setIcon(const QIcon& icon) {
    m_icon = icon;
    update();
}

QSize PictureBox::sizeHint() const {
    return {16, 16};
}

void PictureBox::paintEvent(QPaintEvent*) {
    if (m_icon.isNull()) {
        return;
    }
    QPainter painter(this);
    m_icon.paint(&painter, rect());
}

}  // namespace kestrel::ui
