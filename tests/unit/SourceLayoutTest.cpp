// The layout of the data source's sources: the folders of src/ depend on
// each other without a cycle (as their #include lines say), and only the
// platform folder includes the operating system's headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
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

// The folders on a cycle of the graph or leading into one ("a b "), "" when
// there is none: what is left once the folders that reach nothing left are
// peeled off.
std::string OnCycles(std::map<std::string, std::set<std::string>> graph) {
    for (bool peeled = true; peeled;) {
        peeled = false;
        for (auto node = graph.begin(); node != graph.end();) {
            const bool sink = std::none_of(node->second.begin(), node->second.end(),
                                           [&](const std::string& to) { return graph.count(to); });
            node = sink ? graph.erase(node) : std::next(node);
            peeled = peeled || sink;
        }
    }
    std::string left;
    for (const auto& node : graph) left += node.first + " ";
    return left;
}

TEST(SourceLayout, OnCyclesFindsACycleAndOnlyACycle) {
    EXPECT_EQ(OnCycles({{"a", {"b"}}, {"b", {"c"}}, {"c", {}}}), "");
    EXPECT_EQ(OnCycles({{"a", {"b", "c"}}, {"b", {"c"}}, {"c", {}}}), "");  // a diamond
    EXPECT_EQ(OnCycles({{"a", {"b"}}, {"b", {"c"}}, {"c", {"a"}}}), "a b c ");
    EXPECT_EQ(OnCycles({{"x", {"a"}}, {"a", {"b"}}, {"b", {"a"}}, {"y", {"x"}}}), "a b x y ");
}

// The folders of src/ depend on each other without a cycle, the platform
// layer at the bottom (it includes no other folder of src/), and only it
// includes the operating system's headers.
TEST(SourceLayout, TheFoldersOfSrcHaveNoCycleAndOnlyThePlatformIncludesSystemHeaders) {
    const fs::path root = TRACELET_SOURCE_DIR;
    const std::vector<Include> includes = IncludesUnder(root);
    std::map<std::string, std::set<std::string>> graph;  // a folder to those whose headers its files include
    for (const Include& i : includes) {
        const std::string from = FolderOf(i.file), to = FolderOf(i.header);
        if (!i.system && !from.empty() && !to.empty() && from != to && fs::is_directory(root / to)) graph[from].insert(to);
    }
    ASSERT_FALSE(graph.empty());
    EXPECT_EQ(OnCycles(graph), "");
    EXPECT_EQ(graph.count("platform"), 0u);
    const std::regex systemHeader(R"(^(dlfcn|unistd|pthread|fcntl|sys/.*)\.h$)");
    for (const Include& i : includes)
        EXPECT_TRUE(!i.system || !std::regex_match(i.header, systemHeader) || FolderOf(i.file) == "platform")
            << i.file << " includes <" << i.header << ">";
}

}  // namespace
