// The log reader on flight records a loaded data source wrote: a slow call's
// time in summary and in the exported trace, and what check says about a
// host that hangs (while it still runs, and once killed) or crashes inside a
// call.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "DataSourceHarness.h"
#include "RecordFile.h"

namespace {

struct ReaderRun {
    int status = -1;
    std::string out;
};

// tracelet-log with its arguments, on the test's log folder.
ReaderRun Reader(const std::string& args) {
    ReaderRun r;
    const std::string command =
        std::string(TRACELET_LOG_PROGRAM) + " " + args + " '" + LoadedDataSource::LogFolder() + "' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TW_UINT16 ManagerStandIn(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}

// The source: sleeps, hangs or crashes inside DAT_IMAGEINFO as told.
enum class InImageInfo { Answer, Sleep200ms, Hang, Crash };
struct Source {
    InImageInfo imageInfo = InImageInfo::Answer;
    static void Fill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16, TW_MEMREF) {
        if (DAT != DAT_IMAGEINFO) return;
        switch (static_cast<Source*>(context)->imageInfo) {
            case InImageInfo::Answer: break;
            case InImageInfo::Sleep200ms: std::this_thread::sleep_for(std::chrono::milliseconds(200)); break;
            case InImageInfo::Hang:
                for (;;) pause();
            case InImageInfo::Crash: raise(SIGSEGV); break;
        }
    }
};

struct Wired {
    LoadedDataSource ds;
    Source source;
    TW_ENTRYPOINT entry{};
    Wired() {
        ds.control->fill = Source::Fill;
        ds.control->context = &source;
        entry.Size = sizeof entry;
        entry.DSM_Entry = ManagerStandIn;
        ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);
    }
};

// The no-heap run counts allocations and has no reader to run; a build
// without the reader has none either.
bool Skipped() { return TraceletAllocationsBegin != nullptr || std::strlen(TRACELET_LOG_PROGRAM) == 0; }

// A "1.234 s", "201.5 ms" or "850 us" text in nanoseconds.
double Nanoseconds(const std::string& text) {
    double v = 0;
    char unit[8] = {};
    if (std::sscanf(text.c_str(), "%lf %7s", &v, unit) != 2) return -1;
    return v * (std::strcmp(unit, "s") == 0 ? 1e9 : std::strcmp(unit, "ms") == 0 ? 1e6 : 1e3);
}

}  // namespace

// A call the companion spends 200 ms in: summary gives it 200 ms to 1 s, and
// so does its span in the exported trace.
TEST(RecordReader, ASlowCallHasItsTimeInSummaryAndInTheTrace) {
    if (Skipped()) GTEST_SKIP() << "runs the log reader";
    {
        Wired w;
        w.ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
        w.source.imageInfo = InImageInfo::Sleep200ms;
        w.ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
        w.ds.Unload();
    }
    const ReaderRun summary = Reader("summary");
    ASSERT_EQ(summary.status, 0) << summary.out;
    const std::string slowest = "\nSlowest calls:\n  00003    ";
    const size_t at = summary.out.find(slowest);
    ASSERT_NE(at, std::string::npos) << summary.out;
    const std::string row = summary.out.substr(at + slowest.size(), 60);
    EXPECT_TRUE(Has(row, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET")) << row;
    const double ns = Nanoseconds(row);
    EXPECT_GE(ns, 200e6) << row;
    EXPECT_LE(ns, 1e9) << row;

    const ReaderRun trace = Reader("export --format chrome-trace");
    ASSERT_EQ(trace.status, 0) << trace.out;
    int spans = 0;
    const nlohmann::json doc = nlohmann::json::parse(trace.out);
    for (const auto& e : doc["traceEvents"])
        if (e["ph"] == "X" && e["name"] == "DG_IMAGE/DAT_IMAGEINFO/MSG_GET") {
            ++spans;
            EXPECT_GE(e["dur"].get<double>(), 200e3) << e;
            EXPECT_LE(e["dur"].get<double>(), 1e6) << e;
        }
    EXPECT_EQ(spans, 1);
}

// A child hangs in DAT_IMAGEINFO: while it runs, check reports the call as
// running; once it is killed (or when it crashes instead), check names the
// call, its thread, and says the host stopped without unloading.
TEST(RecordReader, CheckNamesTheCallInFlightOfAHungOrCrashedHost) {
    if (Skipped()) GTEST_SKIP() << "runs the log reader";
    for (const InImageInfo way : {InImageInfo::Hang, InImageInfo::Crash}) {
        const char* name = way == InImageInfo::Hang ? "hang" : "crash";
        SCOPED_TRACE(name);
        ResetFolder(LoadedDataSource::LogFolder(), true);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Wired w;
            w.ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
            w.source.imageInfo = way;
            w.ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
            _exit(0);
        }
        bool started = false;
        for (int i = 0; i < 500 && !started; ++i) {
            const std::vector<std::string> files = RecordFiles(LoadedDataSource::LogFolder());
            started = !files.empty() &&
                      RecordFile::Read(LoadedDataSource::LogFolder() + "/" + files[0]).calls.size() == 3;
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(started);
        const std::string call = "never-returned  DG_IMAGE/DAT_IMAGEINFO/MSG_GET on thread " + std::to_string(child);
        if (way == InImageInfo::Hang) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const ReaderRun running = Reader("check");
            EXPECT_EQ(running.status, 1) << running.out;
            EXPECT_TRUE(Has(running.out, call)) << running.out;
            EXPECT_TRUE(Has(running.out, "until now (the host still runs)")) << running.out;
            EXPECT_FALSE(Has(running.out, "stopped without unloading")) << running.out;
            EXPECT_FALSE(Has(running.out, "no-unload")) << running.out;
            kill(child, SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const ReaderRun gone = Reader("check");
        EXPECT_EQ(gone.status, 1) << gone.out;
        EXPECT_TRUE(Has(gone.out, call)) << gone.out;
        EXPECT_TRUE(Has(gone.out, "(the host is gone: until the last record any thread wrote); the host stopped "
                                  "without unloading\n"))
            << gone.out;
        EXPECT_TRUE(Has(gone.out, "  no-unload  the load of ")) << gone.out;
        EXPECT_FALSE(Has(gone.out, "still runs")) << gone.out;
    }
}
