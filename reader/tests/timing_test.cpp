// The reports on a log with its flight record: summary's time sections,
// check's time findings, json's times, show, and the chrome-trace export.
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
#include "trace/record_writer.hpp"
#include "trace/session.hpp"
#include "trace/timing.hpp"
#include "tracelet/flightrecord.h"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kMs = 1000000;
const std::string kLogName = "Twainlog_20261207_233754_0754.txt";
using Ns = std::function<int64_t(const Call&)>;

// Calls of `what` (a DAT or a MSG) take `ms`, the others 1 ms.
Ns took(const std::string& what, int64_t ms) {
    return [=](const Call& c) { return c.dat == what || c.msg == what ? ms * kMs : kMs; };
}

// Calls 1 ms apart, 2 s before MSG_DISABLEDS, taking `duration`.
struct Timing {
    Ns duration = took("", 1);
    std::string hang_in{};  // the first call of this DAT never returns: the log and the record end with it
    bool closed = true;
    bool running = false;  // the record names this process as its host
};

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
            at += c.msg == "MSG_DISABLEDS" ? 2000 * kMs : kMs;
            uint32_t slot = w.start({100, at, c.dg == "DG_IMAGE" ? 2u : 1u, static_cast<uint16_t>(dat_code(c.dat)),
                                     static_cast<uint16_t>(msg_code(c.msg)), -1, c.from_source(), s.steps[i].before});
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
    }
    ~TimedLog() { fs::remove_all(dir_); }
    std::string log() const { return (dir_ / kLogName).string(); }
    std::string record() const { return (dir_ / "Twainlog_20261207_233754_0754.calls").string(); }
    ProgramRun run(const std::string& args) const { return run_program(args + " '" + log() + "'"); }

private:
    fs::path dir_;
};

std::string memory_log() { return read_file(data_path("session-memory.txt")); }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

// Summary's times, calls in flight and the load's end, and check's
// findings, for a host that is gone and for one that still runs (in flight
// until the last record any thread wrote, or until now).
TEST(Timing, SummaryAndCheckTellSlowCallsCallsThatNeverReturnedAndLoadsNeverClosed) {
    const Timing slow{took("DAT_IMAGEINFO", 6000)}, slow_ui{took("MSG_ENABLEDS", 60000)};
    const Timing hung{took("", 1), "DAT_IMAGEINFO", false}, hung_running{took("", 1), "DAT_IMAGEINFO", false, true};
    const std::string in_flight = "DG_IMAGE/DAT_IMAGEINFO/MSG_GET on thread 100 (scanapp)";
    const std::string gone = "for at least 0 ns (the host is gone: until the last record any thread wrote)";
    const struct {
        const char* what;
        Timing timing;
        std::string args;
        bool show_ui;  // the log's ShowUI is true
        int status;
        std::vector<std::string> shown, not_shown;
    } rows[] = {
        {"summary", slow, "summary", false, 0,
         {"unloaded", "\nSlowest calls:\n  00015        6.000 s  DG_IMAGE/DAT_IMAGEINFO/MSG_GET  at ",
          "        1     6.000 s     6.000 s     6.000 s     6.000 s  DG_IMAGE/DAT_IMAGEINFO/MSG_GET\n",
          "     2.000 s  after 00022 DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER, before 00023 "
          "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS", "  1 page in "},
         {"in flight"}},
        {"summary, a hung host that is gone", hung, "summary", false, 0,
         {"Calls in flight when the record ends:\n  #16       " + in_flight + ", started 00:33:20.029, in flight " +
              gone, "never unloaded (the host stopped without unloading)"},
         {}},
        {"summary, a hung host that still runs", hung_running, "summary", false, 0,
         {"until now (the host still runs)", "still loaded (the host still runs)"}, {}},
        {"all in time", Timing{}, "check", false, 0, {"0 findings in 25 calls"}, {}},
        {"a slow call", slow, "check", false, 1,
         {"00015  slow-call  DG_IMAGE/DAT_IMAGEINFO/MSG_GET took 6.000 s (on thread 100 (scanapp), from "}, {}},
        {"under a higher threshold", slow, "check --slow-ms 6001", false, 0, {"0 findings"}, {}},
        {"a slow MSG_ENABLEDS without the user interface", slow_ui, "check", false, 1,
         {"00014  slow-call  DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS took 60.000 s"}, {}},
        {"a slow MSG_ENABLEDS with the user interface", slow_ui, "check", true, 0, {"0 findings"}, {}},
        {"a hung host that is gone", hung, "check", false, 1,
         {"#16  never-returned  " + in_flight + " started 00:33:20.029 in state 6 and never returned: in flight " +
              gone + "; the host stopped without unloading\n",
          "  no-unload  the load of " + kLogName + " by scanapp (pid 4242) was never closed: the host stopped "
          "without unloading"},
         {}},
        {"a hung host that still runs", hung_running, "check", false, 1,
         {"#16  never-returned  " + in_flight, "until now (the host still runs)\n", "1 finding in 15 calls"}, {}},
        {"a call in flight at a clean unload", {took("", 1), "DAT_IDENTITY"}, "check", false, 1,
         {"#2  never-returned  DG_CONTROL/DAT_IDENTITY/MSG_GET", "1 finding in 0 calls"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string text = memory_log();
        for (std::size_t at; row.show_ui && (at = text.find("ShowUI  = [false]")) != std::string::npos;)
            text.replace(at + 10, 7, "[true]");
        ProgramRun r = TimedLog(text, row.timing).run(row.args);
        EXPECT_EQ(r.status, row.status) << r.out;
        for (const std::string& s : row.shown) EXPECT_TRUE(has(r.out, s)) << s << "\n" << r.out;
        for (const std::string& s : row.not_shown) EXPECT_FALSE(has(r.out, s)) << s << "\n" << r.out;
        if (row.args != "summary") {
            EXPECT_EQ(has(r.out, "no-unload"), !row.timing.closed && !row.timing.running);
        }
    }
    // Before its time sections, the summary is the one of the log without a record.
    const std::string o = TimedLog(memory_log(), slow).run("summary").out;
    const std::string plain = read_file(data_path("expected/summary/session-memory.txt"));
    const std::string before = o.substr(0, o.find("\nTimes ("));
    EXPECT_EQ(before.substr(before.find("\nCalls")), plain.substr(plain.find("\nCalls")));
    const std::string rules = run_program("check --rules").out;
    for (const char* id : {"never-returned  ", "slow-call  ", "no-unload  "}) EXPECT_TRUE(has(rules, id));
}

TEST(Timing, JsonAndShowGiveEachCallItsTimes) {
    TimedLog log(memory_log(), {[](const Call& c) { return c.seq * kMs; }});
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
    std::map<std::string, int> phases;
    std::map<long long, std::vector<std::pair<double, double>>> spans;  // per thread
    std::map<long long, std::string> names;
    const auto doc = nlohmann::json::parse(r.out);
    for (const auto& e : doc["traceEvents"]) {
        ASSERT_TRUE(e.contains("ph") && e.contains("pid") && e["pid"].is_number_integer()) << e;
        const std::string ph = e["ph"];
        ++phases[ph];
        if (ph != "M") {
            ASSERT_TRUE(e["ts"].is_number() && e["ts"].get<double>() >= 0) << e;
        }
        if (ph == "M" && e["name"] == "thread_name") names[e["tid"]] = e["args"]["name"];
        if (ph != "X") continue;
        ASSERT_TRUE(e["dur"].is_number() && e["dur"].get<double>() >= 0 && e["tid"].is_number_integer()) << e;
        spans[e["tid"]].emplace_back(e["ts"].get<double>(), e["ts"].get<double>() + e["dur"].get<double>());
    }
    EXPECT_EQ(std::make_tuple(phases["X"], phases["s"], phases["f"], phases["i"]), std::make_tuple(5, 1, 1, 1));
    EXPECT_GE(phases["C"], 2);
    EXPECT_EQ(names, (std::map<long long, std::string>{
                         {100, "scanapp"}, {200, "thread 200"}, {300, "thread 300"}, {400, "scanner-io"}}));
    EXPECT_EQ(spans[100].size(), 2u);
    // On each track, a span that starts inside another ends inside it.
    for (const auto& [tid, list] : spans)
        for (const auto& a : list)
            for (const auto& b : list)
                if (&a != &b && b.first >= a.first && b.first < a.second) {
                    EXPECT_LE(b.second, a.second) << tid;
                }
}

// Every prefix of a record reads without a crash; it never shows a call the
// whole file does not, never an end it does not, and says what it lost;
// every report reads it too, and summary says what it could not read.
TEST(Timing, ATruncatedRecordReadsAsFarAsItIsSoundInEveryReport) {
    namespace fr = tracelet::flightrecord;
    const std::string whole = threaded_record().bytes();
    const FlightRecord full = parse_flight_record(whole);
    const Session s = Session::from_text(memory_log());
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        FlightRecord r = parse_flight_record(std::string_view(whole).substr(0, n));
        EXPECT_EQ(r.header_ok, n >= fr::kHeaderSize);
        ASSERT_FALSE(r.problems.empty());
        if (r.header_ok) {
            EXPECT_TRUE(has(r.problems.back(), "cut")) << r.problems.back();
        }
        ASSERT_LE(r.calls.size(), full.calls.size());
        for (std::size_t i = 0; i < r.calls.size(); ++i)
            EXPECT_EQ(std::make_pair(r.calls[i].start_ns, r.calls[i].end_ns),
                      std::make_pair(full.calls[i].start_ns, full.calls[i].end_ns));
        if (n < fr::kHeaderSize && n % 97) continue;
        SessionTimes times;
        times.add(std::move(r), 0, 1);
        std::ostringstream out;
        print_times(times, {}, out, monotonic_now_ns());
        TimeChecker check(times, [](const Finding&) {}, 5000 * kMs, monotonic_now_ns());
        for (const Call& c : s.calls) check.feed(c);
        check.finish();
        write_chrome_trace(times, out, monotonic_now_ns());
        EXPECT_TRUE(has(out.str(), "Record problems:")) << out.str();
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
    ASSERT_EQ(run_command("cd '" + dir + "' && printf 'speedscope.loadFileFromBase64(\"trace.json\", \"%s\")' " +
                          "\"$(base64 -w0 trace.json)\" > load.js").status, 0);
    ProgramRun dom = headless_dom("file://" + viewer + "#localProfilePath=" + dir + "/load.js", dir + "/profile",
                                  "--virtual-time-budget=10000");
    ASSERT_EQ(dom.status, 0) << dom.out;
    for (const char* shown : {"trace.json - speedscope", "scanapp (tid 100)", "thread 200 (tid 200)",
                              "thread 300 (tid 300)", "scanner-io (tid 400)", "(1/4)"})
        EXPECT_TRUE(has(dom.out, shown)) << shown << "\n" << dom.out;
    for (const char* error : {"Something went wrong", "Unrecognized format"})
        EXPECT_FALSE(has(dom.out, error)) << error << "\n" << dom.out;
}
