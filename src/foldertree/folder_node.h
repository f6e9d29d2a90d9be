// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace kestrel {

// One item of the folder tree as the host sees it. Key is "d@" (drive or folder) or "f@" (file,
// and the root "f@My Computer") followed by FullPath; Text is what the tree shows, with one
// leading blank for drives and folders.
struct FolderNode {
    QString Key;
    QString Text;
    QString FullPath;
};

}  // namespace kestrel
