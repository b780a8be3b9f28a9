// The layout of the data source's sources: the folders of src/ depend on
// each other without a cycle (as their #include lines say), and only the
// platform folder includes the operating system's headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Include {
    std::string file;    // relative to src/
    std::string header;  // as written
    bool system;         // <...>
};

std::vector<Include> IncludesUnder(const fs::path& root) {
    std::vector<Include> found;
    const std::regex line(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".in")) continue;
        std::ifstream in(entry.path());
        std::smatch m;
        for (std::string text; std::getline(in, text);)
            if (std::regex_search(text, m, line))
                found.push_back({fs::relative(entry.path(), root).string(), m[2], m[1] == "<"});
    }
    return found;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// The folder graph of `includes`: an edge from a file's folder to the folder
// of each header it includes by a path under src/.
std::map<std::string, std::set<std::string>> FolderGraph(const std::vector<Include>& includes, const fs::path& root) {
    std::map<std::string, std::set<std::string>> graph;
    for (const Include& i : includes) {
        const std::string from = FolderOf(i.file), to = FolderOf(i.header);
        if (i.system || from.empty() || to.empty() || from == to || !fs::is_directory(root / to)) continue;
        graph[from].insert(to);
    }
    return graph;
}

// A cycle of the graph as "a -> b -> a", or "" when there is none.
std::string FindCycle(const std::map<std::string, std::set<std::string>>& graph) {
    std::map<std::string, int> mark;  // 1 on the path, 2 done
    std::vector<std::string> path;
    std::string cycle;
    std::function<bool(const std::string&)> visit = [&](const std::string& node) {
        mark[node] = 1;
        path.push_back(node);
        const auto edges = graph.find(node);
        if (edges != graph.end()) {
            for (const std::string& next : edges->second) {
                if (mark[next] == 1) {
                    auto at = std::find(path.begin(), path.end(), next);
                    for (; at != path.end(); ++at) cycle += *at + " -> ";
                    cycle += next;
                    return true;
                }
                if (mark[next] == 0 && visit(next)) return true;
            }
        }
        path.pop_back();
        mark[node] = 2;
        return false;
    };
    for (const auto& node : graph)
        if (mark[node.first] == 0 && visit(node.first)) return cycle;
    return "";
}

TEST(SourceLayout, FindCycleFindsACycleAndOnlyACycle) {
    EXPECT_EQ(FindCycle({{"a", {"b"}}, {"b", {"c"}}, {"c", {}}}), "");
    EXPECT_EQ(FindCycle({{"a", {"b", "c"}}, {"b", {"c"}}, {"c", {}}}), "");  // a diamond
    EXPECT_EQ(FindCycle({{"a", {"b"}}, {"b", {"c"}}, {"c", {"a"}}}), "a -> b -> c -> a");
    EXPECT_EQ(FindCycle({{"x", {"a"}}, {"a", {"b"}}, {"b", {"a"}}}), "a -> b -> a");
}

TEST(SourceLayout, TheFoldersOfSrcDependOnEachOtherWithoutACycle) {
    const fs::path root = TRACELET_SOURCE_DIR;
    const auto graph = FolderGraph(IncludesUnder(root), root);
    ASSERT_FALSE(graph.empty());
    EXPECT_EQ(FindCycle(graph), "");
    // The platform layer is the bottom: it includes no other folder of src/.
    EXPECT_EQ(graph.count("platform"), 0u);
}

TEST(SourceLayout, OnlyThePlatformFolderIncludesSystemHeaders) {
    const std::regex systemHeader(R"(^(dlfcn|unistd|pthread|fcntl|sys/.*)\.h$)");
    for (const Include& i : IncludesUnder(TRACELET_SOURCE_DIR)) {
        if (i.system && std::regex_match(i.header, systemHeader)) {
            EXPECT_EQ(FolderOf(i.file), "platform") << i.file << " includes <" << i.header << ">";
        }
    }
}

}  // namespace
