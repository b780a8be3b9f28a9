// The flight record a load writes beside its log: one record per call with
// its start, end, thread and state, joined to the call's blocks; what is
// left when the host hangs, crashes or is killed inside a call; a second
// load of one log; a full disk; a log that reads the same without it; and
// what the log reader (summary, export, check) makes of these records.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "DataSourceHarness.h"
#include "RecordFile.h"

// The calendar clock, held still while g_heldSeconds is set, so that two
// loads name the same log file. The data source reads it through these
// (this executable exports them).
namespace {
std::atomic<time_t> g_heldSeconds{0};
}  // namespace
static timespec Now() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return g_heldSeconds ? timespec{g_heldSeconds.load(), 754000000} : now;
}
extern "C" time_t time(time_t* out) noexcept { return out ? *out = Now().tv_sec : Now().tv_sec; }
extern "C" int gettimeofday(struct timeval* __restrict tv, void* __restrict) noexcept {
    const timespec now = Now();
    *tv = timeval{now.tv_sec, now.tv_nsec / 1000};
    return 0;
}

namespace {

uint32_t ThisThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

TW_UINT16 ManagerStandIn(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}

// The source side, played by the scripted companion: keeps the manager
// entry it is handed, signals "transfer ready" inside MSG_ENABLEDS and a
// notice inside DAT_DEVICEEVENT, and does what `imageInfo` says inside
// DAT_IMAGEINFO.
enum class InImageInfo { Answer, Sleep200ms, Hang, Crash };
struct Source {
    pTW_IDENTITY app = nullptr;
    TW_IDENTITY identity{};
    TW_ENTRYPOINT handed{};
    InImageInfo imageInfo = InImageInfo::Answer;

    TW_UINT16 Send(TW_UINT16 MSG) { return handed.DSM_Entry(&identity, app, DG_CONTROL, DAT_NULL, MSG, nullptr); }

    static void Fill(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
        Source& s = *static_cast<Source*>(context);
        if (DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) memcpy(&s.handed, pData, sizeof s.handed);
        if (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS) s.Send(MSG_XFERREADY);
        if (DAT == DAT_DEVICEEVENT) s.Send(MSG_CLOSEDSOK);
        if (DAT != DAT_IMAGEINFO) return;
        if (s.imageInfo == InImageInfo::Sleep200ms) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        while (s.imageInfo == InImageInfo::Hang) pause();
        if (s.imageInfo == InImageInfo::Crash) raise(SIGSEGV);
    }
};

// A loaded data source with the source wired to a manager stand-in (the
// entry point set, block 1).
struct Wired {
    LoadedDataSource ds;
    Source source;
    explicit Wired(void (*beforeLoad)() = nullptr, void (*afterLoad)() = nullptr)
        : ds(Companion::Scripted, true, beforeLoad) {
        static TW_ENTRYPOINT entry{sizeof entry, ManagerStandIn, nullptr, nullptr, nullptr, nullptr};
        if (afterLoad) afterLoad();
        source.app = &ds.app;
        ds.control->fill = Source::Fill;
        ds.control->context = &source;
        ds.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);
    }
};

RecordFile TheRecord() { return RecordFile::OnlyIn(LoadedDataSource::LogFolder()); }

std::string FirstLine(const char* path) {
    const std::string text = ReadFile(path);
    return text.substr(0, text.find('\n'));
}

// tracelet-log with its arguments on the log folder: its exit status and output.
std::pair<int, std::string> Reader(const std::string& args) {
    const std::string command = std::string(TRACELET_LOG_PROGRAM) + " " + args + " '" + LoadedDataSource::LogFolder() + "' 2>&1";
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return {-1, out};
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int st = pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}
bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
// The no-heap run counts allocations and has no reader to run; a build
// without the reader has none either.
bool NoReader() { return TraceletAllocationsBegin != nullptr || strlen(TRACELET_LOG_PROGRAM) == 0; }

// A session's calls, those that leave no text among them, and the last one
// slow (200 ms in the companion).
TEST(FlightRecord, EveryCallHasOneRecordJoinedToItsBlocksWithItsDuration) {
    Wired w;
    LoadedDataSource& ds = w.ds;
    TW_CAPABILITY cap{};
    cap.Cap = ICAP_XRESOLUTION;
    cap.ConType = TWON_DONTCARE16;
    TW_EVENT event{};
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, nullptr);
    ds.control->rc = TWRC_NOTDSEVENT;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);  // no text
    ds.control->rc = TWRC_SUCCESS;
    ds.Call(DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);  // the application's: no text
    w.source.Send(MSG_CLOSEDSOK);                            // from no call
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);
    ds.control->rc = TWRC_FAILURE;
    w.source.imageInfo = InImageInfo::Sleep200ms;
    ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
    const std::string logName = LoadedDataSource::LogFiles().back();
    const RecordFile open = TheRecord();
    ds.Unload();
    const RecordFile r = TheRecord();

    const struct {
        uint8_t tag;
        TW_UINT32 dg;
        TW_UINT16 dat, msg, rc;
        int before, after;
        uint32_t seq;  // 0: no text
        int cap;       // -1: none read
        int during, concurrent;  // the index of that call in this table, or -1
    } expected[] = {
        {fr::kTagApplication, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, TWRC_SUCCESS, 3, 3, 1, -1, -1, -1},
        {fr::kTagApplication, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_SUCCESS, 3, 4, 2, -1, -1, -1},
        {fr::kTagApplication, DG_CONTROL, DAT_CAPABILITY, MSG_GET, TWRC_SUCCESS, 4, 4, 3, ICAP_XRESOLUTION, -1, -1},
        {fr::kTagApplication, DG_CONTROL, DAT_CAPABILITY, MSG_GET, TWRC_SUCCESS, 4, 4, 4, -1, -1, -1},
        {fr::kTagApplication, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT, 4, 4, 0, -1, -1, -1},
        {fr::kTagApplication, DG_CONTROL, DAT_NULL, MSG_XFERREADY, TWRC_SUCCESS, 4, 4, 0, -1, -1, -1},
        {fr::kTagSource, DG_CONTROL, DAT_NULL, MSG_CLOSEDSOK, TWRC_SUCCESS, 4, 4, 5, -1, -1, -1},
        {fr::kTagApplication, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_SUCCESS, 4, 6, 7, -1, -1, -1},
        {fr::kTagSource, DG_CONTROL, DAT_NULL, MSG_XFERREADY, TWRC_SUCCESS, 4, 6, 6, -1, 7, 7},
        {fr::kTagApplication, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, TWRC_FAILURE, 6, 6, 8, -1, -1, -1},
    };
    ASSERT_EQ(r.calls.size(), std::size(expected));
    const uint32_t me = ThisThreadId();
    auto idOf = [&](int index) { return index < 0 ? 0u : r.calls[index].call_id; };
    for (size_t i = 0; i < r.calls.size(); ++i) {
        const fr::CallRecord& c = r.calls[i];
        const auto& e = expected[i];
        const bool traced = c.flags & fr::kCallTraced, hasCap = c.flags & fr::kCallHasCap;
        EXPECT_EQ(std::make_tuple(c.tag, c.dg, c.dat, c.msg, c.rc, int(c.state_before), int(c.state_after), traced,
                                  traced ? c.seq : 0u, hasCap ? int(c.cap) : -1, c.during_id, c.concurrent_id),
                  std::make_tuple(e.tag, e.dg, e.dat, e.msg, e.rc, e.before, e.after, e.seq != 0, e.seq, e.cap,
                                  idOf(e.during), idOf(e.concurrent)))
            << "call " << i;
        EXPECT_TRUE(RecordFile::Ended(c) && c.thread == me && c.start_ns <= c.end_ns &&
                    (!i || r.calls[i - 1].start_ns <= c.start_ns))
            << "call " << i;
        const int64_t took = c.end_ns - c.start_ns;
        EXPECT_TRUE(c.dat != DAT_IMAGEINFO || (took >= 200000000 && took <= 1000000000)) << took;
    }
    // The blocks each record names are in the log, in that order.
    const std::string log = LoadedDataSource::Log();
    EXPECT_NE(log.find("[00007] [APP] DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS"), std::string::npos);
    EXPECT_NE(log.find("[00006] [DS] DG_CONTROL/DAT_NULL/MSG_XFERREADY"), std::string::npos);

    const fr::FileHeader& h = r.header;
    EXPECT_EQ(memcmp(h.magic, fr::kMagic, sizeof h.magic), 0);
    EXPECT_EQ(std::make_tuple(h.version, h.header_size, h.slot_size, h.pid, h.load_in_log, h.max_file_size),
              std::make_tuple(fr::kVersion, uint16_t(fr::kHeaderSize), uint16_t(fr::kSlotSize), uint32_t(getpid()), 1u,
                              fr::kMaxFileSize));
    EXPECT_EQ(std::make_tuple(std::string(h.log_name), std::string(h.ds_path), std::string(h.companion_path)),
              std::make_tuple(logName, std::string(TRACELET_TEST_DS), LoadedDataSource::CompanionPath()));
    EXPECT_EQ(std::make_tuple(std::string(h.boot_id), std::string(h.process_name), r.threadNames.at(me)),
              std::make_tuple(FirstLine("/proc/sys/kernel/random/boot_id"), FirstLine("/proc/self/comm"),
                              FirstLine("/proc/thread-self/comm")));
    EXPECT_TRUE(h.process_start_ticks && h.ticks_per_second && h.load_mono_ns <= r.calls[0].start_ns);
    EXPECT_NEAR(double(h.load_wall_ns) / 1e9, double(::time(nullptr)), 60.0);
    // Closed only by the unload, which counts the calls.
    EXPECT_TRUE(!open.Closed() && open.unloads.empty() && r.Closed() && r.stops.empty());
    ASSERT_EQ(r.unloads.size(), 1u);
    EXPECT_EQ(r.unloads[0].calls, std::size(expected));

    // The log reader gives the slow call 200 ms to 1 s, in summary and in the exported trace.
    if (NoReader()) return;
    const auto [summaryStatus, summary] = Reader("summary");
    const std::string slowest = "\nSlowest calls:\n  00008    ";
    const size_t at = summary.find(slowest);
    ASSERT_TRUE(summaryStatus == 0 && at != std::string::npos) << summary;
    const std::string row = summary.substr(at + slowest.size(), 60);
    double v = 0;
    char unit[8] = {};
    ASSERT_EQ(sscanf(row.c_str(), "%lf %7s", &v, unit), 2) << row;
    const double ns = v * (strcmp(unit, "s") == 0 ? 1e9 : strcmp(unit, "ms") == 0 ? 1e6 : 1e3);
    EXPECT_TRUE(Has(row, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET") && ns >= 200e6 && ns <= 1e9) << row;
    const auto [traceStatus, trace] = Reader("export --format chrome-trace");
    ASSERT_EQ(traceStatus, 0) << trace;
    std::vector<double> spans;
    const nlohmann::json doc = nlohmann::json::parse(trace);
    for (const auto& e : doc["traceEvents"])
        if (e["ph"] == "X" && e["name"] == "DG_IMAGE/DAT_IMAGEINFO/MSG_GET") spans.push_back(e["dur"].get<double>());
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_TRUE(spans[0] >= 200e3 && spans[0] <= 1e6) << spans[0];
}

// A host that hangs (and is killed) or crashes inside DAT_IMAGEINFO: the
// call's start is in the file on the child's named thread, its end is not,
// and the load is not closed. The reader's check names that call as running
// while the hung host lives, and once it is gone says it stopped without
// unloading.
TEST(FlightRecord, AHostThatDiesInACallLeavesTheCallStartedOnItsThread) {
    for (const InImageInfo way : {InImageInfo::Hang, InImageInfo::Crash}) {
        SCOPED_TRACE(way == InImageInfo::Hang ? "hang" : "crash");
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
        for (int i = 0; i < 500 && !(started = TheRecord().calls.size() == 3); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(started);
        const std::string call = "never-returned  DG_IMAGE/DAT_IMAGEINFO/MSG_GET on thread " + std::to_string(child);
        if (way == InImageInfo::Hang) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            if (!NoReader()) {
                const auto [status, out] = Reader("check");
                EXPECT_TRUE(status == 1 && Has(out, call.c_str()) && Has(out, "until now (the host still runs)") &&
                            !Has(out, "stopped without unloading") && !Has(out, "no-unload"))
                    << status << out;
            }
            kill(child, SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child returned";

        const RecordFile r = TheRecord();
        EXPECT_EQ(std::make_tuple(r.header.pid, r.Closed(), r.unloads.size()), std::make_tuple(uint32_t(child), false, size_t(0)));
        ASSERT_EQ(r.calls.size(), 3u);
        EXPECT_TRUE(RecordFile::Ended(r.calls[0]) && RecordFile::Ended(r.calls[1]));
        const fr::CallRecord& f = r.calls[2];
        EXPECT_EQ(std::make_tuple(f.dg, f.dat, f.msg, int(f.state_before), RecordFile::Ended(f), f.end_ns, f.thread,
                                  r.threadNames.count(f.thread)),
                  std::make_tuple(TW_UINT32(DG_IMAGE), TW_UINT16(DAT_IMAGEINFO), TW_UINT16(MSG_GET), 4, false, int64_t(0),
                                  uint32_t(child), size_t(1)));
        if (NoReader()) continue;
        const auto [goneStatus, gone] = Reader("check");
        EXPECT_TRUE(goneStatus == 1 && Has(gone, call.c_str()) && !Has(gone, "still runs") &&
                    Has(gone, "  no-unload  the load of ") &&
                    Has(gone, "(the host is gone: until the last record any thread wrote); the host stopped "
                              "without unloading\n"))
            << goneStatus << gone;
    }
}

// The manager may load the source twice in one millisecond: both loads
// write one log, and each gets its own record.
TEST(FlightRecord, TwoLoadsOfOneLogKeepTheirOwnRecords) {
    g_heldSeconds = 1765150674;
    LoadedDataSource first;
    first.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
    first.Unload();
    const std::string log = LoadedDataSource::LogFolder() + "/" + LoadedDataSource::LogFiles().back();
    const size_t firstLength = ReadFile(log).size();
    {
        DsLibrary second(TRACELET_TEST_DS);
        ASSERT_NE(second.entry(), nullptr);
        second.entry()(&first.app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
        second.entry()(&first.app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    }
    g_heldSeconds = 0;

    const std::vector<std::string> records = RecordFiles(LoadedDataSource::LogFolder());
    const std::string stem = log.substr(log.rfind('/') + 1, log.size() - log.rfind('/') - 5);
    ASSERT_EQ(records, (std::vector<std::string>{stem + ".2.calls", stem + ".calls"}));
    const RecordFile one = RecordFile::Read(LoadedDataSource::LogFolder() + "/" + records[1]);
    const RecordFile two = RecordFile::Read(LoadedDataSource::LogFolder() + "/" + records[0]);
    EXPECT_EQ(std::make_tuple(one.header.load_in_log, one.header.log_offset), std::make_tuple(1u, uint64_t(0)));
    EXPECT_EQ(std::make_tuple(two.header.load_in_log, two.header.log_offset), std::make_tuple(2u, uint64_t(firstLength)));
    EXPECT_TRUE(one.Closed() && two.Closed());
    std::vector<std::tuple<int, TW_UINT16, uint32_t>> calls;
    for (const RecordFile* f : {&one, &two})
        for (const auto& c : f->calls) calls.emplace_back(f == &one ? 1 : 2, c.msg, c.seq);
    EXPECT_EQ(calls, (decltype(calls){{1, MSG_OPENDS, 1}, {2, MSG_OPENDS, 1}, {2, MSG_CLOSEDS, 2}}));
}

// On a full disk the record stops at its next step and says so; the host
// goes on, and so does the log once there is room for it.
TEST(FlightRecord, AFullDiskStopsTheRecordAndTheLogGoesOn) {
    const std::string folder = LoadedDataSource::LogFolder();
    ResetFolder(folder, true);
    if (mount("tracelet-test", folder.c_str(), "tmpfs", 0, "size=6m") != 0)
        GTEST_SKIP() << "cannot mount a small file system on the log folder (" << strerror(errno)
                     << "): the full-disk test needs to run as root";
    struct Unmount {
        std::string folder;
        ~Unmount() { umount2(folder.c_str(), MNT_DETACH); }
    } unmount{folder};

    LoadedDataSource ds;
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
    // Fill what is left.
    const std::string ballast = folder + "/ballast";
    const int fd = open(ballast.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    static const char zeros[4096] = {};
    while (write(fd, zeros, sizeof zeros) > 0) {
    }
    close(fd);
    // Calls that write no text, past the first step's slots.
    const uint32_t firstStep = fr::kGrowStep / fr::kSlotSize;
    TW_EVENT event{};
    ds.control->rc = TWRC_NOTDSEVENT;
    for (uint32_t i = 0; i < firstStep + 100; ++i)
        ASSERT_EQ(ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    unlink(ballast.c_str());
    ds.control->rc = TWRC_SUCCESS;
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    ds.Unload();

    EXPECT_NE(LoadedDataSource::Log().find("[00002] [APP] DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS"), std::string::npos);
    const RecordFile r = TheRecord();
    EXPECT_EQ(r.fileSize, fr::kHeaderSize + fr::kGrowStep);
    EXPECT_EQ(r.header.flags, uint32_t(fr::kFlagFull | fr::kFlagClosed));
    ASSERT_EQ(r.stops.size(), 1u);
    EXPECT_EQ(std::make_tuple(r.stops[0].reason, r.stops[0].error), std::make_tuple(uint32_t(fr::kStopNoSpace), uint32_t(ENOSPC)));
    // Every slot but the stop record's went to the thread's name and the
    // first calls with their captures, which all ended, but for the part of
    // a call's captures that did not fit.
    EXPECT_LT(firstStep - 1 - (r.sealedSlots - r.stops.size()), uint64_t{2 * fr::CaptureSlots(sizeof(TW_EVENT))});
    EXPECT_GT(r.captures.size(), r.calls.size());
    for (const auto& c : r.calls) ASSERT_TRUE(RecordFile::Ended(c)) << c.call_id;
    EXPECT_TRUE(r.unloads.empty());
}

// The record changes nothing in the log: the same session writes the same
// text when its record cannot be created (no file descriptor left for it:
// the loader's come and go, the next free one goes to the log).
rlimit g_files{};
void LeaveOneDescriptor() {
    const int next = dup(0);
    close(next);
    rlimit tight = g_files;
    tight.rlim_cur = static_cast<rlim_t>(next) + 1;
    setrlimit(RLIMIT_NOFILE, &tight);
}
void RestoreDescriptors() { setrlimit(RLIMIT_NOFILE, &g_files); }

TEST(FlightRecord, TheLogIsTheSameWhenTheRecordCannotBeCreated) {
    static TW_CAPABILITY cap{};
    cap.Cap = ICAP_PIXELTYPE;
    std::string logs[2];
    for (int blocked = 0; blocked < 2; ++blocked) {
        getrlimit(RLIMIT_NOFILE, &g_files);
        Wired w(blocked ? LeaveOneDescriptor : nullptr, RestoreDescriptors);
        EXPECT_EQ(RecordFiles(LoadedDataSource::LogFolder()).size(), blocked ? 0u : 1u);
        w.ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
        w.ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
        w.ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);
        w.source.Send(MSG_CLOSEDSREQ);
        w.ds.control->rc = TWRC_FAILURE;
        w.ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
        w.ds.Unload();
        logs[blocked] = LoadedDataSource::Log();
    }
    EXPECT_NE(logs[0].find("[00007] [APP] DG_IMAGE/DAT_IMAGEINFO/MSG_GET"), std::string::npos);
    EXPECT_EQ(logs[1], logs[0]);
}

// Three threads call while the source signals from a fourth; one of the
// three has the source signal from inside its calls. Every call is recorded
// once on its own thread, and each notice names the calls it came during
// and beside. (Named for the ThreadSanitizer run.)
TEST(SourceRecordThreads, EveryCallOnceOnItsThreadWithItsNoticesJoined) {
    Wired w;
    w.ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);
    constexpr int kCalls = 150;
    const TW_UINT16 dats[3] = {DAT_DEVICEEVENT, DAT_FILESYSTEM, DAT_XFERGROUP};
    uint32_t ids[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            ids[t] = ThisThreadId();
            for (int i = 0; i < kCalls; ++i) t < 3 ? w.ds.Call(DG_CONTROL, dats[t], MSG_GET, nullptr) : w.source.Send(MSG_DEVICEEVENT);
        });
    for (auto& t : threads) t.join();
    w.ds.Unload();
    const RecordFile r = TheRecord();

    std::map<std::tuple<uint32_t, uint8_t, TW_UINT16, TW_UINT16>, int> count;
    std::set<uint32_t> seqs;
    for (const auto& c : r.calls) {
        ++count[std::make_tuple(c.thread, c.tag, c.dat, c.msg)];
        ASSERT_TRUE(RecordFile::Ended(c) && (c.flags & fr::kCallTraced)) << c.call_id;
        seqs.insert(c.seq);
        if (c.tag != fr::kTagSource) continue;
        // A notice from inside a call: that call, on its thread, around it.
        if (c.msg == MSG_CLOSEDSOK) {
            const fr::CallRecord* d = r.Call(c.during_id);
            ASSERT_NE(d, nullptr) << c.call_id;
            // Around it on its thread, and the latest call in flight.
            EXPECT_TRUE(d->thread == c.thread && d->dat == DAT_DEVICEEVENT && d->start_ns <= c.start_ns &&
                        c.end_ns <= d->end_ns && c.concurrent_id >= c.during_id)
                << c.call_id;
        } else {
            EXPECT_EQ(c.during_id, 0u) << c.call_id;
        }
        // Beside it: an application call in flight on some thread.
        if (c.concurrent_id) {
            const fr::CallRecord* a = r.Call(c.concurrent_id);
            ASSERT_NE(a, nullptr) << c.call_id;
            EXPECT_EQ(a->tag, fr::kTagApplication);
            EXPECT_TRUE(a->start_ns <= c.end_ns && c.start_ns <= a->end_ns) << c.call_id << " beside " << a->call_id;
        }
    }
    const std::map<std::tuple<uint32_t, uint8_t, TW_UINT16, TW_UINT16>, int> expected = {
        {{ThisThreadId(), fr::kTagApplication, DAT_ENTRYPOINT, MSG_SET}, 1},
        {{ThisThreadId(), fr::kTagApplication, DAT_IDENTITY, MSG_OPENDS}, 1},
        {{ids[0], fr::kTagApplication, DAT_DEVICEEVENT, MSG_GET}, kCalls},
        {{ids[0], fr::kTagSource, DAT_NULL, MSG_CLOSEDSOK}, kCalls},
        {{ids[1], fr::kTagApplication, DAT_FILESYSTEM, MSG_GET}, kCalls},
        {{ids[2], fr::kTagApplication, DAT_XFERGROUP, MSG_GET}, kCalls},
        {{ids[3], fr::kTagSource, DAT_NULL, MSG_DEVICEEVENT}, kCalls},
    };
    EXPECT_EQ(count, expected);
    // Each record joins blocks of its own: the numbers 1 to N, once each.
    EXPECT_TRUE(seqs.size() == r.calls.size() && *seqs.begin() == 1u && *seqs.rbegin() == r.calls.size());
    for (const uint32_t id : ids) EXPECT_EQ(r.threadNames.count(id), 1u) << id;
}

}  // namespace
