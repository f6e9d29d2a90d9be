// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <vector>

namespace {

using LineVisitor =
    std::function<void(const std::string& rel, const std::string& line, int number)>;

// Visits each line of each file below src/folder (all of src/ when folder is empty), naming the
// file by its path below src/; the number of files visited.
int forEachLine(const std::string& folder, const LineVisitor& visit) {
    const std::filesystem::path src = std::filesystem::path(KESTREL_SOURCE_DIR) / "src";
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src / folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string rel = std::filesystem::relative(entry.path(), src).string();
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            visit(rel, line, number);
        }
        ++files;
    }
    return files;
}

// Only the platform layer may include operating-system headers; everything else stays portable.
TEST(Layering, OnlyThePlatformLayerIncludesOsHeaders) {
    const std::regex osHeader(
        R"(#\s*include\s*<(unistd|fcntl|dirent|signal|termios|poll|netdb|pthread|dlfcn|pwd|grp|)"
        R"(spawn|time|windows|winsock2|syslog)\.h>|#\s*include\s*<(sys|arpa|netinet|linux)/)");
    const int checked =
        forEachLine("", [&](const std::string& rel, const std::string& line, int n) {
            EXPECT_TRUE(rel.starts_with("platform/") || !std::regex_search(line, osHeader))
                << rel << ":" << n << ": " << line;
        });
    EXPECT_GT(checked, 10);
}

// The layers of src/, lowest first. A folder may include from lower layers only, so the folders
// form an acyclic graph; folders of one layer know nothing of each other. The folder tree control
// is a library of its own that the windows host, so it sits at the bottom and includes from
// nothing else.
const std::map<std::string, int> kLayers = {
    {"platform", 0}, {"foldertree", 0}, {"core", 1},   {"jobs", 2}, {"archive", 2}, {"ftp", 2},
    {"engine", 3},   {"restore", 4},    {"runner", 5}, {"cli", 6},  {"ui", 6},      {"app", 7},
};

// folder -> the folders it includes from, with one place that does.
std::map<std::string, std::map<std::string, std::string>> includeGraph() {
    const std::regex include(R"(#\s*include\s*"([a-z_]+)/[^"]+")");
    std::map<std::string, std::map<std::string, std::string>> graph;
    forEachLine("", [&](const std::string& rel, const std::string& line, int number) {
        const size_t slash = rel.find('/');
        if (slash == std::string::npos) {
            return;  // CMakeLists.txt of src itself
        }
        const std::string folder = rel.substr(0, slash);
        auto& uses = graph[folder];
        std::smatch m;
        if (std::regex_search(line, m, include) && m[1] != folder) {
            uses.emplace(m[1], rel + ":" + std::to_string(number));
        }
    });
    return graph;
}

TEST(Layering, FoldersIncludeOnlyFromLowerLayers) {
    const auto graph = includeGraph();
    EXPECT_GE(graph.size(), 8u);
    for (const auto& [folder, uses] : graph) {
        ASSERT_TRUE(kLayers.count(folder)) << "src/" << folder << " has no layer: add it above";
        for (const auto& [used, where] : uses) {
            ASSERT_TRUE(kLayers.count(used)) << where << " includes from unknown src/" << used;
            EXPECT_LT(kLayers.at(used), kLayers.at(folder))
                << where << ": " << folder << " may not include from " << used;
        }
    }
}

TEST(Layering, TheFolderGraphHasNoCycle) {
    const auto graph = includeGraph();
    std::map<std::string, int> state;  // 1 on the path, 2 done
    std::vector<std::string> path;
    std::string cycle;
    std::function<void(const std::string&)> visit = [&](const std::string& f) {
        state[f] = 1;
        path.push_back(f);
        auto it = graph.find(f);
        if (it != graph.end()) {
            for (const auto& [next, where] : it->second) {
                if (state[next] == 1 && cycle.empty()) {
                    for (const std::string& p : path) {
                        cycle += p + " -> ";
                    }
                    cycle += next + " (" + where + ")";
                } else if (state[next] == 0) {
                    visit(next);
                }
            }
        }
        path.pop_back();
        state[f] = 2;
    };
    for (const auto& [folder, uses] : graph) {
        if (state[folder] == 0) {
            visit(folder);
        }
    }
    EXPECT_EQ(cycle, "");
}

// The core and the command line stay free of Qt: only the windows, the folder tree and the
// program that shows them may use it.
TEST(Layering, OnlyTheWindowsUseQt) {
    const std::regex qtHeader(R"(#\s*include\s*<Q[A-Za-z]*(/|>))");
    for (const char* folder :
         {"platform", "core", "jobs", "archive", "ftp", "engine", "restore", "runner", "cli"}) {
        forEachLine(folder, [&](const std::string& rel, const std::string& line, int) {
            EXPECT_FALSE(std::regex_search(line, qtHeader)) << rel << ": " << line;
        });
    }
}

// The folder tree control builds on Qt and the standard library alone.
TEST(Layering, TheFolderTreeIncludesOnlyQtAndTheStandardLibrary) {
    const std::regex angle(R"(#\s*include\s*<([^>]+)>)");
    const std::regex allowed(R"(Q[A-Za-z]*|[a-z_]+)");
    int checked = 0;
    forEachLine("foldertree", [&](const std::string& rel, const std::string& line, int) {
        std::smatch m;
        if (std::regex_search(line, m, angle)) {
            EXPECT_TRUE(std::regex_match(m[1].str(), allowed)) << rel << ": " << line;
            ++checked;
        }
    });
    EXPECT_GT(checked, 5);
}

// Below the runner, parts take the run control and what they read, not the whole context: only
// the backup run's and the restore's entry points see it, to hand out its parts.
TEST(Layering, OnlyTheEntryPointsOfARunSeeTheApplicationContext) {
    const std::regex allowed(R"(core/app_context\..*|engine/backup_run\..*|restore/restore\..*)");
    int checked = 0;
    for (const char* folder : {"platform", "core", "jobs", "archive", "ftp", "engine", "restore"}) {
        checked += forEachLine(folder, [&](const std::string& rel, const std::string& line, int n) {
            EXPECT_TRUE(std::regex_match(rel, allowed) || line.find("AppContext") == line.npos)
                << rel << ":" << n;
        });
    }
    EXPECT_GT(checked, 50);
}

}  // namespace
