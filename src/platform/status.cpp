// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/status.h"

#include <errno.h>
#include <string.h>

namespace kestrel {

Status Status::fromErrno(int err, std::string_view what) {
    Kind kind = Kind::Failed;
    if (err == ENOSPC || err == EDQUOT) {
        kind = Kind::DiskFull;
    } else if (err == ENOENT) {
        kind = Kind::NotFound;
    }
    std::string text(what);
    text += ": ";
    text += ::strerror(err);
    return Status(kind, err, std::move(text));
}

}  // namespace kestrel
