// Logs from real sessions, dropped into tests/data/real/ (see the README there).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/diff.hpp"
#include "trace/json.hpp"
#include "trace/reader.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> real_sessions() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(data_path("real"), ec)) {
        std::string name = e.path().filename().string();
        if (e.is_directory() || is_log_file_name(name)) out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(RealLogs, EverySessionReadsCleanlyAndSurvivesEveryExport) {
    auto sessions = real_sessions();
    if (sessions.empty()) GTEST_SKIP() << "no real logs in tests/data/real";
    for (const std::string& path : sessions) {
        SCOPED_TRACE(path);
        Session s = Session::load({path});
        ASSERT_FALSE(s.calls.empty());
        for (const Problem& p : s.problems)
            if (p.what.find("cut at 5120 bytes") == std::string::npos)
                ADD_FAILURE() << "file " << p.file + 1 << " line " << p.line << ": " << p.what << ": " << p.text;
        for (std::size_t i = 0; i + 1 < s.calls.size(); ++i)
            EXPECT_FALSE(s.calls[i].incomplete) << s.calls[i].id();

        std::ostringstream json;
        JsonLinesWriter writer(json, true);
        read_session(session_files({path}), writer);
        std::istringstream in(json.str());
        std::string line;
        std::size_t calls = 0;
        while (std::getline(in, line)) calls += nlohmann::json::parse(line).contains("seq");
        EXPECT_EQ(calls, s.calls.size());

        std::ostringstream diff;
        EXPECT_EQ(diff_sessions(s, s, diff), 0u);

        Checker checker([](const Finding& f) { std::cout << "  finding " << f.call << " " << f.rule << ": " << f.message << '\n'; });
        for (const Call& c : s.calls) checker.feed(c);
        checker.finish();
        EXPECT_EQ(checker.calls(), s.calls.size());
    }
}
