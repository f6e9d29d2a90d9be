// SPDX-License-Identifier: GPL-3.0-or-later
#include "foldertree/drives.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <array>

namespace kestrel {

namespace {

// File systems that hold no files of the user's: kernel interfaces and placeholders. Read-only
// package images (squashfs) are left out too: nobody backs up a snap.
constexpr std::array<QStringView, 26> kPseudoTypes = {
    u"proc",      u"sysfs",       u"cgroup",          u"cgroup2",     u"devpts",
    u"devtmpfs",  u"securityfs",  u"debugfs",         u"tracefs",     u"pstore",
    u"bpf",       u"configfs",    u"fusectl",         u"mqueue",      u"hugetlbfs",
    u"autofs",    u"binfmt_misc", u"efivarfs",        u"rpc_pipefs",  u"nsfs",
    u"selinuxfs", u"squashfs",    u"fuse.gvfsd-fuse", u"fuse.portal", u"nfsd",
    u"ramfs",
};

// Memory file systems are real only where a user puts files, not where the system keeps its
// runtime state.
constexpr std::array<QStringView, 4> kSystemFolders = {u"/run", u"/dev", u"/sys", u"/proc"};

bool isPseudo(QStringView type) {
    for (QStringView t : kPseudoTypes) {
        if (type == t) {
            return true;
        }
    }
    return false;
}

bool isBelow(QStringView path, QStringView folder) {
    return path == folder ||
           (path.startsWith(folder) && path.size() > folder.size() && path[folder.size()] == u'/');
}

bool isSystemMemoryMount(QStringView type, QStringView mountPoint) {
    if (type != u"tmpfs") {
        return false;
    }
    for (QStringView folder : kSystemFolders) {
        if (isBelow(mountPoint, folder)) {
            return true;
        }
    }
    return false;
}

bool isOctal(QChar c) {
    return c >= u'0' && c <= u'7';
}

// mountinfo writes blank, tab, line feed and backslash as a backslash and three octal digits.
QString decodeEscapes(QStringView field) {
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == u'\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
            isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            const int code = (field[i + 1].unicode() - u'0') * 64 +
                             (field[i + 2].unicode() - u'0') * 8 + (field[i + 3].unicode() - u'0');
            out += QChar(code);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

QStringList parseMountInfo(QStringView text) {
    QStringList mounts;
    QSet<QString> seen;
    for (QStringView line : text.split(u'\n')) {
        // ID, parent ID, major:minor, root, mount point, options, optional fields..., "-",
        // type, source, super options.
        const QList<QStringView> fields = line.trimmed().split(u' ', Qt::SkipEmptyParts);
        if (fields.size() < 7) {
            continue;
        }
        qsizetype dash = 6;
        while (dash < fields.size() && fields[dash] != u"-") {
            ++dash;
        }
        if (dash + 1 >= fields.size()) {
            continue;
        }
        const QStringView type = fields[dash + 1];
        const QString mountPoint = decodeEscapes(fields[4]);
        if (!mountPoint.startsWith(u'/') || isPseudo(type) ||
            isSystemMemoryMount(type, mountPoint) || isBelow(mountPoint, u"/proc") ||
            isBelow(mountPoint, u"/sys")) {
            continue;
        }
        if (!seen.contains(mountPoint)) {
            seen.insert(mountPoint);
            mounts.append(mountPoint);
        }
    }
    return mounts;
}

QStringList driveList(const QString& home, const QStringList& mounts) {
    QStringList drives;
    const auto add = [&drives](const QString& path) {
        if (!path.isEmpty() && !drives.contains(path)) {
            drives.append(path);
        }
    };
    add(home.isEmpty() ? QString() : QDir::cleanPath(home));
    add(QStringLiteral("/"));
    for (const QString& m : mounts) {
        add(m);
    }
    return drives;
}

QStringList systemDrives() {
    QFile mountInfo(QStringLiteral("/proc/self/mountinfo"));
    QString text;
    if (mountInfo.open(QIODevice::ReadOnly)) {
        text = QString::fromUtf8(mountInfo.readAll());
    }
    return driveList(QDir::homePath(), parseMountInfo(text));
}

}  // namespace kestrel
