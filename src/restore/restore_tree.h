// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/catalogue.h"

namespace kestrel {

// Images of the tree's nodes.
inline constexpr int kImageFolder = 1;
inline constexpr int kImageFile = 2;
inline constexpr int kImageSession = 4;

// One node of the restore tree: a backup session, a folder of an original path, or a file.
struct RestoreNode {
    std::string key;   // "SES_<stamp>" for sessions, "SES_<stamp>|<path>" below them
    std::string text;  // the session's date and time, or the path component
    int image = kImageFolder;
    int parent = -1;
    std::vector<int> children;
    int record = -1;  // index into the restore list, for files
    int folder = -1;  // index into the state's folders, for a folder with recorded facts
    int link = -1;    // index into the state's links, for a symbolic link
    bool checked = false;
};

// The sessions, folders and files a catalogue holds, as the restore browser shows them. Keys
// compare case-sensitively, as paths do on this system, and are looked up by hash.
class RestoreTree {
public:
    // Builds the tree from the records in catalogue order; yield (when given) is called once
    // per record.
    void build(const std::vector<clsRestoreFileData>& records,
               const std::function<void()>& yield = nullptr);
    void clear();
    // Adds the folder (and what leads to it) of a session, for recorded facts: an empty folder
    // gets a node of its own. The session node must be there (a session of the records).
    void addFolder(const DateTime& session, const std::string& path, int folder);
    // Adds a symbolic link as a leaf.
    void addLink(const DateTime& session, const std::string& path, int link);

    size_t size() const { return m_nodes.size(); }
    const RestoreNode& node(int index) const { return m_nodes.at(static_cast<size_t>(index)); }
    const std::vector<int>& sessions() const { return m_roots; }
    // The node with that key, or -1.
    int find(const std::string& key) const;
    // The node of a path in a session (path as the catalogue writes it), or -1.
    int findPath(const DateTime& session, const std::string& path) const;
    // The original path a node stands for ("" for a session).
    std::string pathOf(int index) const;

    // Checks or unchecks a node. A node with children passes the state to every node below it
    // and unchecks every node above it; a file changes only itself.
    void setChecked(int index, bool checked);
    // The checked files in the order they were added.
    std::vector<int> checkedFiles() const;
    // The checked links in the order they were added.
    std::vector<int> checkedLinks() const;
    // The folders with recorded facts that a restore of the checked nodes makes or fills:
    // checked ones and those above a checked node, the deepest first.
    std::vector<int> foldersInvolved() const;

    // Puts every node's children in the order before gives (stable); sessions keep theirs.
    void sortChildren(const std::function<bool(const RestoreNode&, const RestoreNode&)>& before);

    static std::string sessionKey(const DateTime& session);

private:
    int add(std::string key, std::string text, int image, int parent);
    // The node of a path in a session, made with what leads to it when missing; the last
    // component gets leafImage. -1 when the session is not there.
    int ensurePath(const std::string& session, const std::string& path, int leafImage);

    std::vector<RestoreNode> m_nodes;
    std::vector<int> m_roots;
    std::unordered_map<std::string, int> m_byKey;
};

}  // namespace kestrel
