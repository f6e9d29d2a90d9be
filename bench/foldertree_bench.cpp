// SPDX-License-Identifier: GPL-3.0-or-later
// What the folder tree control costs: opening a folder of many entries (the read, the view's
// layout and first paint, and the heap the tree keeps per item), and opening a job with 200
// stored sources (200 CheckDir calls over a tree of folders, each read on the way).
// Usage: foldertree_bench [--files N] [--dir FOLDER]
#include <malloc.h>

#include <QApplication>
#include <QTreeView>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "foldertree/ctl_file_browser.h"
#include "foldertree/folder_model.h"

using namespace kestrel;

namespace {

// Bytes the heap hands out now, including large blocks it maps for them.
std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void touch(const std::string& path) {
    std::ofstream out(path);
}

// One entry in ten a folder, the files spread over a few types.
void makeEntries(const std::string& folder, int count) {
    static const char* kSuffixes[] = {".txt", ".jpg", ".pdf", ".odt", ".tar.gz", ""};
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        std::string name = folder;
        name += "/entry-";
        name += std::to_string(100000000 + i).substr(1);
        if (i % 10 == 0) {
            std::filesystem::create_directory(name);
        } else {
            name += kSuffixes[i % 6];
            touch(name);
        }
    }
}

// 20 folders of 20 folders of 5 files; the sources are every other folder and file in it.
std::vector<QString> makeSources(const std::string& root) {
    std::vector<QString> sources;
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 20; ++b) {
            std::string sub = root;
            sub += "/top-" + std::to_string(a);
            sub += "/sub-" + std::to_string(b);
            std::filesystem::create_directories(sub);
            for (int f = 0; f < 5; ++f) {
                std::string file = sub;
                file += "/file-" + std::to_string(f) + ".txt";
                touch(file);
            }
            if ((a + b) % 4 == 0) {
                sources.push_back(QString::fromStdString(sub));
            } else if ((a + b) % 4 == 1) {
                sources.push_back(QString::fromStdString(sub + "/file-2.txt"));
            }
        }
    }
    return sources;
}

void settle() {
    QApplication::processEvents();
    QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const bench::Options o = bench::parseOptions(argc, argv, {100000, 0, 0, ""});
    bench::Scratch scratch(o.dir);
    const std::string big = scratch.path() + "/big";
    makeEntries(big, o.files);
    const std::vector<QString> sources = makeSources(scratch.path() + "/sources");
    const QString drive = QString::fromStdString(scratch.path());
    const QString bigKey = "d@" + QString::fromStdString(big);
    std::printf("folder of %d entries, %zu sources (page cache warm: just written)\n", o.files,
                sources.size());

    // The tree alone: what a folder's items cost the model.
    {
        FolderModel model;
        model.setDrives({drive});
        model.InsertSubfolders(model.findKey("d@" + drive));
        const QModelIndex folder = model.findKey(bigKey);
        const std::size_t before = heapInUse();
        const double read = bench::timed([&] { model.InsertSubfolders(folder); });
        const std::size_t after = heapInUse();
        const int rows = model.rowCount(folder);
        std::printf("model: read %d entries in %.3f s, %.0f bytes per item\n", rows, read,
                    static_cast<double>(after - before) / rows);
    }

    // The user opens it in a shown tree: read, layout, paint, and a scroll to its end.
    {
        ctlFileBrowser browser(QStringList{drive});
        browser.resize(400, 600);
        browser.show();
        QTreeView* tree = browser.treeView();
        tree->expand(browser.model()->findKey("d@" + drive));
        settle();
        const QModelIndex folder = browser.model()->findKey(bigKey);
        const std::size_t before = heapInUse();
        double read = 0;
        const double total = bench::timed([&] {
            read = bench::timed([&] { tree->expand(folder); });
            settle();
            browser.repaint();
            tree->scrollToBottom();
            settle();
            browser.repaint();
        });
        const std::size_t after = heapInUse();
        const int rows = browser.model()->rowCount(folder);
        std::printf(
            "shown tree: expanded %d entries in %.3f s (read %.3f s, view %.3f s; target < 1 s), "
            "%.0f bytes per item with the view (target < 300)\n",
            rows, total, read, total - read, static_cast<double>(after - before) / rows);
    }

    // A job with 200 sources is opened: one CheckDir each, in a shown tree.
    {
        ctlFileBrowser browser(QStringList{drive});
        browser.resize(400, 600);
        browser.show();
        settle();
        int found = 0;
        const double checking = bench::timed([&] {
            for (const QString& source : sources) {
                found += browser.CheckDir(source) ? 1 : 0;
            }
            settle();
            browser.repaint();
        });
        std::size_t checked = 0;
        const double reading = bench::timed([&] { checked = browser.GetCheckedItems().size(); });
        std::printf(
            "%zu CheckDir calls: %.3f s (target < 1 s), %d found; GetCheckedItems %zu in "
            "%.4f s\n",
            sources.size(), checking, found, checked, reading);
        if (found != static_cast<int>(sources.size()) || checked != sources.size()) {
            std::fprintf(stderr, "not every source was found and checked\n");
            return 1;
        }
    }

    // 200 sources inside the big folder: its one read, then a lookup each.
    {
        ctlFileBrowser browser(QStringList{drive});
        browser.resize(400, 600);
        browser.show();
        settle();
        int found = 0;
        const double checking = bench::timed([&] {
            for (int i = 0; i < 200; ++i) {
                std::string name = big;
                name += "/entry-";
                name += std::to_string(100000000 + i * (o.files / 200)).substr(1);
                found += browser.CheckDir(QString::fromStdString(name)) ? 1 : 0;
            }
            settle();
            browser.repaint();
        });
        std::printf("200 CheckDir calls into the folder of %d entries: %.3f s, %d found\n", o.files,
                    checking, found);
    }
    return 0;
}
