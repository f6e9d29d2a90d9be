// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore_tree.h"

#include <algorithm>
#include <optional>

namespace kestrel {

std::string RestoreTree::sessionKey(const DateTime& session) {
    return "SES_" + session.format("yyyyMMddHHmmss");
}

void RestoreTree::clear() {
    m_nodes.clear();
    m_roots.clear();
    m_byKey.clear();
}

int RestoreTree::add(std::string key, std::string text, int image, int parent) {
    RestoreNode n;
    n.key = std::move(key);
    n.text = std::move(text);
    n.image = image;
    n.parent = parent;
    const int index = static_cast<int>(m_nodes.size());
    m_byKey.emplace(n.key, index);
    m_nodes.push_back(std::move(n));
    if (parent < 0) {
        m_roots.push_back(index);
    } else {
        m_nodes[static_cast<size_t>(parent)].children.push_back(index);
    }
    return index;
}

int RestoreTree::find(const std::string& key) const {
    const auto it = m_byKey.find(key);
    return it == m_byKey.end() ? -1 : it->second;
}

int RestoreTree::findPath(const DateTime& session, const std::string& path) const {
    return find(sessionKey(session) + "|" + path);
}

int RestoreTree::ensurePath(const std::string& session, const std::string& path, int leafImage) {
    int parent = find(session);
    if (parent < 0) {
        return -1;
    }
    // Components of the path, the root folder "/" first for an absolute path.
    size_t start = 0;
    std::string prefix;
    if (!path.empty() && path.front() == '/') {
        prefix = "/";
        const int root = find(session + "|/");
        parent = root >= 0 ? root : add(session + "|/", "/", kImageFolder, parent);
        start = 1;
    }
    int index = parent;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        const bool last = end == std::string::npos;
        if (last) {
            end = path.size();
        }
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            if (last) {
                break;
            }
            continue;
        }
        prefix += component;
        const std::string key = session + "|" + prefix;
        index = find(key);
        if (index < 0) {
            index = add(key, component, last ? leafImage : kImageFolder, parent);
        }
        parent = index;
        if (!last) {
            prefix += "/";
        }
    }
    return index;
}

void RestoreTree::build(const std::vector<clsRestoreFileData>& records,
                        const std::function<void()>& yield) {
    clear();
    // Records come session by session: the key is made when the session changes.
    std::optional<DateTime> keyed;
    std::string session;
    for (size_t r = 0; r < records.size(); ++r) {
        const clsRestoreFileData& rec = records[r];
        if (yield) {
            yield();
        }
        if (keyed != rec.dSession) {
            keyed = rec.dSession;
            session = sessionKey(rec.dSession);
        }
        if (find(session) < 0) {
            add(session, rec.dSession.format("yyyy-MM-dd HH:mm:ss"), kImageSession, -1);
        }
        const int index = ensurePath(session, rec.fname, kImageFile);
        if (index >= 0 && m_nodes[static_cast<size_t>(index)].record < 0 && !rec.fname.empty() &&
            rec.fname.back() != '/') {
            m_nodes[static_cast<size_t>(index)].record = static_cast<int>(r);
            m_nodes[static_cast<size_t>(index)].image = kImageFile;
        }
    }
}

void RestoreTree::addFolder(const DateTime& session, const std::string& path, int folder) {
    const int index = ensurePath(sessionKey(session), path, kImageFolder);
    if (index >= 0 && m_nodes[static_cast<size_t>(index)].record < 0 &&
        m_nodes[static_cast<size_t>(index)].link < 0) {
        m_nodes[static_cast<size_t>(index)].folder = folder;
    }
}

void RestoreTree::addLink(const DateTime& session, const std::string& path, int link) {
    const std::string key = sessionKey(session) + "|" + path;
    // A path the session holds as a file or folder already is not a link as well.
    if (find(key) >= 0) {
        return;
    }
    const int index = ensurePath(sessionKey(session), path, kImageFile);
    if (index >= 0) {
        m_nodes[static_cast<size_t>(index)].link = link;
    }
}

std::string RestoreTree::pathOf(int index) const {
    const std::string& key = node(index).key;
    const size_t bar = key.find('|');
    return bar == std::string::npos ? "" : key.substr(bar + 1);
}

void RestoreTree::sortChildren(
    const std::function<bool(const RestoreNode&, const RestoreNode&)>& before) {
    for (RestoreNode& node : m_nodes) {
        std::stable_sort(node.children.begin(), node.children.end(), [&](int a, int b) {
            return before(m_nodes[static_cast<size_t>(a)], m_nodes[static_cast<size_t>(b)]);
        });
    }
}

void RestoreTree::setChecked(int index, bool checked) {
    if (node(index).children.empty()) {
        m_nodes.at(static_cast<size_t>(index)).checked = checked;
        return;
    }
    std::vector<int> stack = {index};
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        RestoreNode& n = m_nodes.at(static_cast<size_t>(i));
        n.checked = checked;
        stack.insert(stack.end(), n.children.begin(), n.children.end());
    }
    for (int p = node(index).parent; p >= 0; p = node(p).parent) {
        m_nodes[static_cast<size_t>(p)].checked = false;
    }
}

std::vector<int> RestoreTree::checkedLinks() const {
    std::vector<int> links;
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes[i].checked && m_nodes[i].children.empty() && m_nodes[i].link >= 0) {
            links.push_back(static_cast<int>(i));
        }
    }
    return links;
}

std::vector<int> RestoreTree::foldersInvolved() const {
    std::vector<bool> involved(m_nodes.size(), false);
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (!m_nodes[i].checked) {
            continue;
        }
        for (int p = static_cast<int>(i); p >= 0 && !involved[static_cast<size_t>(p)];
             p = m_nodes[static_cast<size_t>(p)].parent) {
            involved[static_cast<size_t>(p)] = true;
        }
    }
    std::vector<std::pair<size_t, int>> byDepth;
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (involved[i] && m_nodes[i].folder >= 0) {
            size_t depth = 0;
            for (int p = m_nodes[i].parent; p >= 0; p = m_nodes[static_cast<size_t>(p)].parent) {
                ++depth;
            }
            byDepth.emplace_back(depth, static_cast<int>(i));
        }
    }
    std::stable_sort(byDepth.begin(), byDepth.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<int> folders;
    for (const auto& [depth, index] : byDepth) {
        folders.push_back(index);
    }
    return folders;
}

std::vector<int> RestoreTree::checkedFiles() const {
    std::vector<int> files;
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes[i].checked && m_nodes[i].children.empty() && m_nodes[i].record >= 0) {
            files.push_back(static_cast<int>(i));
        }
    }
    return files;
}

}  // namespace kestrel
