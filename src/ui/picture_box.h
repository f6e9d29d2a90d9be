// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QWidget>

namespace kestrel::ui {

// A picture box: shows one icon at its own size, and otherwise only holds it (the images of a
// button's states, the tray icon's pictures). It has no caption, so the language file does not
// reach it.
class PictureBox : public QWidget {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    const QIcon& icon() const { return m_icon; }
    void setIcon(const QIcon& icon);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon m_icon;
};

}  // namespace kestrel::ui
