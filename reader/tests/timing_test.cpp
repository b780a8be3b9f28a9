// The reports on a log with its flight record: summary's time sections,
// check's time findings, json's times, show, and the chrome-trace export.
// Each test writes a copy of a test log and a record timing its calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"
#include "trace/chrome_trace.hpp"
#include "trace/names.hpp"
#include "trace/record.hpp"
#include "trace/record_writer.hpp"
#include "trace/session.hpp"
#include "trace/timing.hpp"
#include "tracelet/flightrecord.h"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kMs = 1000000;
const char* const kLogName = "Twainlog_20261207_233754_0754.txt";

struct Timing {
    std::function<int64_t(const Call&)> duration = [](const Call&) { return kMs; };
    std::function<int64_t(const Call&)> gap_before = [](const Call&) { return kMs; };
    std::string hang_in;   // the first call of this DAT never returns: the log and the record end with it
    bool closed = true;
    bool running = false;  // the record names this process as its host
};

int rc_code(const std::string& rc) {
    static const std::map<std::string, int> codes = {{"TWRC_SUCCESS", 0},  {"TWRC_FAILURE", 1}, {"TWRC_CHECKSTATUS", 2},
                                                     {"TWRC_CANCEL", 3},   {"TWRC_DSEVENT", 4},  {"TWRC_NOTDSEVENT", 5},
                                                     {"TWRC_XFERDONE", 6}, {"TWRC_ENDOFLIST", 7}};
    auto it = codes.find(rc);
    return it == codes.end() ? 0 : it->second;
}

// A folder with a copy of the log and a record that times its calls.
class TimedLog {
public:
    TimedLog(const std::string& log_text, const Timing& t) {
        static int n = 0;
        dir_ = fs::temp_directory_path() / ("tracelet-timing-" + std::to_string(getpid()) + "-" + std::to_string(++n));
        fs::create_directories(dir_);
        Session s = Session::from_text(log_text);
        std::string text = log_text;
        RecordWriter::Header h;
        h.log_name = kLogName;
        if (t.running) {
            h.boot_id = this_boot_id();
            h.pid = static_cast<uint32_t>(getpid());
            h.process_start_ticks = start_ticks_of(getpid());
            h.load_mono_ns = monotonic_now_ns() - 60000 * kMs;
        }
        RecordWriter w(h);
        w.thread_name(100, "scanapp", h.load_mono_ns);
        int64_t at = h.load_mono_ns;
        for (std::size_t i = 0; i < s.calls.size(); ++i) {
            const Call& c = s.calls[i];
            if (c.seq < 0) continue;  // a claimed event: no call of its own
            at += t.gap_before(c);
            RecordWriter::Start st;
            st.start_ns = at;
            st.dg = c.dg == "DG_IMAGE" ? 2 : 1;
            st.dat = static_cast<uint16_t>(dat_code(c.dat));
            st.msg = static_cast<uint16_t>(msg_code(c.msg));
            st.from_source = c.from_source();
            st.state_before = s.steps[i].before;
            uint32_t slot = w.start(st);
            if (c.dat == t.hang_in) {
                text.resize(text.find("[" + std::string(c.id()) + "]"));
                break;
            }
            at += t.duration(c);
            w.end(slot, at, static_cast<uint16_t>(rc_code(c.rc)), s.steps[i].after, c.seq);
        }
        if (t.closed) w.unload(at + kMs);
        std::ofstream(log(), std::ios::binary) << text;
        w.write(record());
        last_ns_ = at;
    }
    ~TimedLog() { fs::remove_all(dir_); }
    std::string log() const { return (dir_ / kLogName).string(); }
    std::string record() const { return (dir_ / "Twainlog_20261207_233754_0754.calls").string(); }
    ProgramRun run(const std::string& args) const { return run_program(args + " '" + log() + "'"); }

private:
    fs::path dir_;
    int64_t last_ns_ = 0;
};

std::string memory_log() { return read_file(data_path("session-memory.txt")); }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

// The slowest call, the pause before MSG_DISABLEDS and the throughput, all
// from times the record was written with.
TEST(Timing, SummaryGivesTimesFromTheRecord) {
    Timing t;
    t.duration = [](const Call& c) { return c.dat == "DAT_IMAGEINFO" ? 1500 * kMs : 2 * kMs; };
    t.gap_before = [](const Call& c) { return c.msg == "MSG_DISABLEDS" ? 2000 * kMs : kMs; };
    TimedLog log(memory_log(), t);
    ProgramRun r = log.run("summary");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string& o = r.out;
    // Before the time sections, the summary kept for the log without a
    // record, unchanged.
    std::string plain = read_file(data_path("expected/summary/session-memory.txt"));
    std::string before = o.substr(0, o.find("\nTimes ("));
    EXPECT_EQ(before.substr(before.find("\nCalls")), plain.substr(plain.find("\nCalls")));
    EXPECT_TRUE(has(o, "unloaded")) << o;
    EXPECT_TRUE(has(o, "\nSlowest calls:\n  00015        1.500 s  DG_IMAGE/DAT_IMAGEINFO/MSG_GET  at ")) << o;
    EXPECT_TRUE(has(o, "        1     1.500 s     1.500 s     1.500 s     1.500 s  DG_IMAGE/DAT_IMAGEINFO/MSG_GET\n")) << o;
    EXPECT_TRUE(has(o, "     2.000 s  after 00022 DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER, before 00023 "
                       "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS")) << o;
    EXPECT_TRUE(has(o, "  1 page in ")) << o;
    EXPECT_FALSE(has(o, "in flight")) << o;
}

// A call in flight: for a host that is gone, at least until the last record;
// for one that still runs, until now.
TEST(Timing, SummaryNamesTheCallInFlightAndSaysWhichMeasure) {
    Timing gone;
    gone.hang_in = "DAT_IMAGEINFO";
    gone.closed = false;
    ProgramRun r = TimedLog(memory_log(), gone).run("summary");
    EXPECT_TRUE(has(r.out, "Calls in flight when the record ends:\n  #16       DG_IMAGE/DAT_IMAGEINFO/MSG_GET on "
                           "thread 100 (scanapp), started 00:33:20.029, in flight ")) << r.out;
    EXPECT_TRUE(has(r.out, "for at least 0 ns (the host is gone: until the last record any thread wrote)")) << r.out;
    EXPECT_TRUE(has(r.out, "never unloaded (the host stopped without unloading)")) << r.out;
    Timing running = gone;
    running.running = true;
    r = TimedLog(memory_log(), running).run("summary");
    EXPECT_TRUE(has(r.out, "until now (the host still runs)")) << r.out;
    EXPECT_TRUE(has(r.out, "still loaded (the host still runs)")) << r.out;
}

TEST(Timing, CheckFindsSlowCallsCallsThatNeverReturnedAndLoadsNeverClosed) {
    struct Row {
        const char* what;
        Timing timing;
        std::string args;
        std::string log_edit;  // replaces ShowUI's value in the log
        int status;
        std::vector<std::string> expect;  // lines or parts of lines of the output
    };
    Timing slow_info;
    slow_info.duration = [](const Call& c) { return c.dat == "DAT_IMAGEINFO" ? 6000 * kMs : kMs; };
    Timing slow_ui;
    slow_ui.duration = [](const Call& c) { return c.msg == "MSG_ENABLEDS" ? 60000 * kMs : kMs; };
    Timing hung;
    hung.hang_in = "DAT_IMAGEINFO";
    hung.closed = false;
    Timing hung_running = hung;
    hung_running.running = true;
    Timing closed_early;
    closed_early.hang_in = "DAT_IDENTITY";
    for (const Row& row : std::vector<Row>{
             {"all in time", Timing{}, "check", "", 0, {"0 findings in 25 calls"}},
             {"a slow call", slow_info, "check", "", 1,
              {"00015  slow-call  DG_IMAGE/DAT_IMAGEINFO/MSG_GET took 6.000 s (on thread 100 (scanapp), from "}},
             {"under a higher threshold", slow_info, "check --slow-ms 6001", "", 0, {"0 findings"}},
             {"a slow MSG_ENABLEDS without the user interface", slow_ui, "check", "", 1,
              {"00014  slow-call  DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS took 60.000 s"}},
             {"a slow MSG_ENABLEDS with the user interface", slow_ui, "check", "[true]", 0, {"0 findings"}},
             {"a hung host that is gone", hung, "check", "", 1,
              {"#16  never-returned  DG_IMAGE/DAT_IMAGEINFO/MSG_GET on thread 100 (scanapp) started 00:33:20.029",
               " in state 6 and never returned: in flight for at least 0 ns (the host is gone: until the last record",
               "; the host stopped without unloading\n", "  no-unload  the load of " + std::string(kLogName) +
               " by scanapp (pid 4242) was never closed: the host stopped without unloading"}},
             {"a hung host that still runs", hung_running, "check", "", 1,
              {"#16  never-returned  DG_IMAGE/DAT_IMAGEINFO/MSG_GET", "until now (the host still runs)\n",
               "1 finding in 15 calls"}},
             {"a call in flight at a clean unload", closed_early, "check", "", 1,
              {"#2  never-returned  DG_CONTROL/DAT_IDENTITY/MSG_GET", "1 finding in 0 calls"}},
         }) {
        SCOPED_TRACE(row.what);
        std::string text = memory_log();
        if (!row.log_edit.empty())
            for (std::size_t at; (at = text.find("ShowUI  = [false]")) != std::string::npos;)
                text.replace(at + 10, 7, row.log_edit);
        ProgramRun r = TimedLog(text, row.timing).run(row.args);
        EXPECT_EQ(r.status, row.status) << r.out;
        for (const std::string& part : row.expect) EXPECT_TRUE(has(r.out, part)) << part << "\n" << r.out;
        EXPECT_EQ(has(r.out, "no-unload"), !row.timing.closed && !row.timing.running);
    }
    ProgramRun rules = run_program("check --rules");
    for (const char* id : {"never-returned  ", "slow-call  ", "no-unload  "}) EXPECT_TRUE(has(rules.out, id));
}

TEST(Timing, JsonAndShowGiveEachCallItsTimes) {
    Timing t;
    t.duration = [](const Call& c) { return c.seq * kMs; };
    TimedLog log(memory_log(), t);
    std::istringstream lines(log.run("json").out);
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line);) {
        auto j = nlohmann::json::parse(line);
        if (j["seq"].is_null()) {
            EXPECT_FALSE(j.contains("start"));  // a claimed event has no call of its own
            continue;
        }
        ++n;
        EXPECT_EQ(j["duration_ms"].get<double>(), j["seq"].get<double>()) << line;
        EXPECT_EQ(j["thread"], 100);
        EXPECT_EQ(j["start"].get<std::string>().substr(0, 11), "2026-12-07T");
    }
    EXPECT_EQ(n, 24u);
    ProgramRun show = log.run("show");
    EXPECT_TRUE(has(show.out, "00:33:20.120      15.0 ms  [00015] [APP] DG_IMAGE/DAT_IMAGEINFO/MSG_GET\n")) << show.out;
    EXPECT_TRUE(has(show.out, "\n                            TWAIN Status = [6]\n")) << show.out;
}

namespace {

// Three application threads, a notice from inside a call and one from a
// thread of the source's own, a failure, a call that never returned.
RecordWriter threaded_record() {
    RecordWriter::Header h;
    h.log_name = kLogName;
    RecordWriter w(h);
    const int64_t t0 = h.load_mono_ns;
    w.thread_name(100, "scanapp", t0);
    w.thread_name(400, "scanner-io", t0);
    uint32_t enable = w.start({100, t0 + 10 * kMs, 1, 9, 0x0502, -1, false, 4});
    uint32_t inside = w.start({100, t0 + 12 * kMs, 1, 0, 0x0101, -1, true, 5, enable + 1, enable + 1});
    w.end(inside, t0 + 13 * kMs, 0, 6, 2);
    w.end(enable, t0 + 20 * kMs, 0, 6, 1);
    uint32_t info = w.start({200, t0 + 30 * kMs, 2, 0x0101, 1, -1, false, 6});
    uint32_t own = w.start({400, t0 + 31 * kMs, 1, 0, 0x0104, -1, true, 6, 0, info + 1});
    w.end(own, t0 + 32 * kMs, 0, 6, 4);
    w.end(info, t0 + 40 * kMs, 1, 6, 3);
    w.start({300, t0 + 50 * kMs, 2, 0x0105, 1, -1, false, 6});
    return w;
}

}  // namespace

// Every event well formed, every span on its thread inside the span it
// starts in, a flow for the notice from the source's own thread.
TEST(Timing, ChromeTraceIsWellFormedAndNestsNoticesInTheirCalls) {
    TimedLog log("", Timing{});
    threaded_record().write(log.record());
    ProgramRun r = log.run("export --format chrome-trace");
    ASSERT_EQ(r.status, 0) << r.out;
    auto doc = nlohmann::json::parse(r.out);
    std::map<std::string, int> phases;
    std::map<long long, std::vector<std::pair<double, double>>> spans;  // per thread
    std::map<long long, std::string> names;
    for (const auto& e : doc["traceEvents"]) {
        ASSERT_TRUE(e.contains("ph") && e.contains("pid") && e["pid"].is_number_integer()) << e;
        std::string ph = e["ph"];
        ++phases[ph];
        if (ph != "M") {
            ASSERT_TRUE(e["ts"].is_number() && e["ts"].get<double>() >= 0) << e;
        }
        if (ph == "M" && e["name"] == "thread_name") names[e["tid"]] = e["args"]["name"];
        if (ph == "X") {
            ASSERT_TRUE(e["dur"].is_number() && e["dur"].get<double>() >= 0 && e["tid"].is_number_integer()) << e;
            spans[e["tid"]].emplace_back(e["ts"].get<double>(), e["ts"].get<double>() + e["dur"].get<double>());
        }
    }
    EXPECT_EQ(phases["X"], 5);
    EXPECT_EQ(phases["s"], 1);
    EXPECT_EQ(phases["f"], 1);
    EXPECT_EQ(phases["i"], 1);
    EXPECT_GE(phases["C"], 2);
    EXPECT_EQ(names, (std::map<long long, std::string>{
                         {100, "scanapp"}, {200, "thread 200"}, {300, "thread 300"}, {400, "scanner-io"}}));
    // On each track, a span that starts inside another ends inside it.
    for (const auto& [tid, list] : spans)
        for (const auto& a : list)
            for (const auto& b : list)
                if (&a != &b && b.first >= a.first && b.first < a.second) {
                    EXPECT_LE(b.second, a.second) << tid;
                }
    EXPECT_EQ(spans[100].size(), 2u);
}

// A record truncated at every length, with its log: every report reads it
// without a crash, and summary says what it could not read.
TEST(Timing, ReportsReadATruncatedRecordAtEveryLength) {
    const std::string whole = threaded_record().bytes();
    Session s = Session::from_text(memory_log());
    for (std::size_t n = 0; n <= whole.size(); n += (n < 4000 ? 97 : 1)) {
        SCOPED_TRACE(n);
        SessionTimes times;
        times.add(parse_flight_record(std::string_view(whole).substr(0, n)), 0, 1);
        std::ostringstream out;
        print_times(times, {}, out, monotonic_now_ns());
        std::size_t findings = 0;
        TimeChecker check(times, [&](const Finding&) { ++findings; }, 5000 * kMs, monotonic_now_ns());
        for (const Call& c : s.calls) check.feed(c);
        check.finish();
        write_chrome_trace(times, out, monotonic_now_ns());
        if (n < whole.size()) {
            EXPECT_TRUE(has(out.str(), "Record problems:")) << out.str();
        }
    }
}

// The exported trace in a real viewer: speedscope (installed from npm into
// the build tree by the test fixture) in headless Chromium, loaded the way
// its own command line loads a file. It lists one profile per thread, by
// name, and shows no import error.
TEST(Viewer, ChromeTraceOpensInSpeedscope) {
    const std::string viewer = TRACELET_SPEEDSCOPE "/node_modules/speedscope/dist/release/index.html";
    if (!fs::exists(viewer)) GTEST_SKIP() << "speedscope is not installed (the speedscope fixture installs it)";
    if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
    TimedLog log("", Timing{});
    threaded_record().write(log.record());
    const std::string dir = ::testing::TempDir() + "tracelet-speedscope";
    ASSERT_EQ(run_command("rm -rf '" + dir + "' && mkdir -p '" + dir + "/profile'").status, 0);
    ASSERT_EQ(log.run("export -f chrome-trace -o '" + dir + "/trace.json'").status, 0);
    ASSERT_EQ(run_command("printf 'speedscope.loadFileFromBase64(\"trace.json\", \"%s\")' \"$(base64 -w0 '" + dir +
                          "/trace.json')\" > '" + dir + "/load.js'")
                  .status,
              0);
    ProgramRun dom = headless_dom("file://" + viewer + "#localProfilePath=" + dir + "/load.js", dir + "/profile",
                                  "--virtual-time-budget=10000");
    ASSERT_EQ(dom.status, 0) << dom.out;
    EXPECT_TRUE(has(dom.out, "trace.json - speedscope")) << dom.out;
    for (const char* thread : {"scanapp (tid 100)", "thread 200 (tid 200)", "thread 300 (tid 300)",
                               "scanner-io (tid 400)"})
        EXPECT_TRUE(has(dom.out, thread)) << thread << "\n" << dom.out;
    EXPECT_TRUE(has(dom.out, "(1/4)")) << dom.out;
    for (const char* error : {"Something went wrong", "Unrecognized format"})
        EXPECT_FALSE(has(dom.out, error)) << error << "\n" << dom.out;
}
