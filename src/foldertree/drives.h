// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include "foldertree/foldertree_export.h"

namespace kestrel {

// The mount points of real file systems in the text of /proc/self/mountinfo, in its order, each
// once, with the octal escapes (\040 for a blank) decoded. Pseudo file systems (proc, sysfs,
// cgroup, devpts, ...) and memory file systems below /run, /dev, /sys and /proc are left out;
// lines that are not well formed are skipped.
KESTREL_FOLDERTREE_EXPORT QStringList parseMountInfo(QStringView text);

// The drives the tree shows: the home folder, "/" and then the mount points, each once.
KESTREL_FOLDERTREE_EXPORT QStringList driveList(const QString& home, const QStringList& mounts);

// driveList of this user's home and this process's mount table.
KESTREL_FOLDERTREE_EXPORT QStringList systemDrives();

}  // namespace kestrel
