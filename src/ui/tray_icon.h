// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

namespace kestrel::ui {

// The tray icon while a run reports its progress: a size × size picture, white with a blue
// outline, filled blue from the left over percent (clamped to 0..100) of its inner width, with
// the whole percentage written across it in bold, white over the blue part and blue over the
// white part. Pixels outside the square are transparent; a size below 3 gives a null image.
QImage drawProgressIcon(double percent, int size);

}  // namespace kestrel::ui
