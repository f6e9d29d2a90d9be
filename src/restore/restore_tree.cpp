#include "restore/restore_tree.h"

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

void RestoreTree::build(const std::vector<clsRestoreFileData>& records,
                        const std::function<void()>& yield) {
    clear();
    for (size_t r = 0; r < records.size(); ++r) {
        const clsRestoreFileData& rec = records[r];
        if (yield) {
            yield();
        }
        const std::string session = sessionKey(rec.dSession);
        int parent = find(session);
        if (parent < 0) {
            parent = add(session, rec.dSession.format("yyyy-MM-dd HH:mm:ss"), kImageSession, -1);
        }
        // Components of the path, the root folder "/" first for an absolute path.
        const std::string& path = rec.fname;
        size_t start = 0;
        std::string prefix;
        if (!path.empty() && path.front() == '/') {
            prefix = "/";
            const int root = find(session + "|/");
            parent = root >= 0 ? root : add(session + "|/", "/", kImageFolder, parent);
            start = 1;
        }
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
            int index = find(key);
            if (index < 0) {
                index = add(key, component, last ? kImageFile : kImageFolder, parent);
            }
            if (last && m_nodes[static_cast<size_t>(index)].record < 0) {
                m_nodes[static_cast<size_t>(index)].record = static_cast<int>(r);
                m_nodes[static_cast<size_t>(index)].image = kImageFile;
            }
            parent = index;
            if (!last) {
                prefix += "/";
            }
        }
    }
}

std::string RestoreTree::pathOf(int index) const {
    const std::string& key = node(index).key;
    const size_t bar = key.find('|');
    return bar == std::string::npos ? "" : key.substr(bar + 1);
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
