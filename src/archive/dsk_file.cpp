// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/dsk_file.h"

#include "platform/fs.h"

namespace kestrel {

std::optional<clsDskFile> clsDskFile::fromPath(const std::string& fullPath) {
    auto facts = statFile(fullPath);
    if (!facts) {
        return std::nullopt;
    }
    clsDskFile f;
    f.filename = fs::fileNameOf(fullPath);
    f.path = fullPath.substr(0, fullPath.size() - f.filename.size());
    f.dSize = facts->size;
    f.dAttrib = facts->attributes;
    f.creationTime = facts->creationTime;
    f.lastAccessTime = facts->lastAccessTime;
    f.lastWriteTime = facts->lastWriteTime;
    f.lastWriteNs = facts->lastWriteNs;
    f.hasPosix = true;
    f.posixMode = facts->mode;
    f.uid = facts->uid;
    f.gid = facts->gid;
    return f;
}

}  // namespace kestrel
