// "watch --once" on a log folder the test writes: a log cut where a live
// session stands, and its flight record with the call in flight.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "test_support.hpp"
#include "trace/generator.hpp"
#include "trace/record.hpp"
#include "trace/record_writer.hpp"
#include "trace/watch.hpp"
#include "tracelet/twain.h"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kMs = 1000000;
constexpr char kLog[] = "Twainlog_20261207_233754_0754.txt";

// The generated session up to the n-th call of `triplet` (that call's text
// is left out: it has not returned yet).
std::string log_until(const std::string& triplet, int n) {
    GeneratorOptions options;
    options.calls = 200;
    const std::string log = generate_session(options);
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) at = log.find(triplet, at + 1);
    return log.substr(0, log.rfind("\r\n[", at) + 2);
}

enum class Host { running, gone, unloaded };

struct Load {
    std::string log;
    Host host;
    uint16_t dat_in_flight;  // 0: none in flight
    int64_t in_flight_for;
    int transfers_done = 0;
    bool failure = false;
    uint32_t load_in_log = 1;
};

void write_load(const fs::path& dir, const Load& l) {
    std::ofstream(dir / kLog, std::ios::binary) << l.log;
    RecordWriter::Header h;
    h.log_name = kLog;
    h.load_in_log = l.load_in_log;
    if (l.host != Host::gone) {
        h.boot_id = this_boot_id();
        h.pid = static_cast<uint32_t>(getpid());
        h.process_start_ticks = start_ticks_of(getpid());
    }
    const int64_t now = monotonic_now_ns(), start = h.load_mono_ns = now - l.in_flight_for - 100 * kMs;
    RecordWriter w(h);
    w.thread_name(100, "scanapp", start);
    long long seq = 0;
    w.end(w.start({100, start, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, -1, false, 3}), start + kMs, TWRC_SUCCESS, 4, ++seq);
    if (l.failure)
        w.end(w.start({100, start + 2 * kMs, DG_CONTROL, DAT_CAPABILITY, MSG_SET, ICAP_XRESOLUTION, false, 4}),
              start + 3 * kMs, TWRC_FAILURE, 4, ++seq);
    for (int i = 0; i < l.transfers_done; ++i)
        w.end(w.start({100, start + (4 + i) * kMs, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, -1, false, 7}),
              start + (5 + i) * kMs, TWRC_XFERDONE, 7, ++seq);
    if (l.dat_in_flight) w.start({100, now - l.in_flight_for, DG_IMAGE, l.dat_in_flight, MSG_GET, -1, false, 7});
    w.thread_name(300, "poller", now);  // another thread's last record
    if (l.host == Host::unloaded) w.unload(now - kMs);
    const std::string n = l.load_in_log == 1 ? "" : "." + std::to_string(l.load_in_log);
    w.write((dir / ("Twainlog_20261207_233754_0754" + n + ".calls")).string());
}

// A fresh folder, removed at the end of the test, and "watch --once" on it.
struct WatchDir {
    fs::path path = fs::path(::testing::TempDir()) / ("tracelet-watch-" + std::to_string(getpid()));
    WatchDir() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~WatchDir() { fs::remove_all(path); }
    ProgramRun watch(const std::string& args = "") const { return run_program("watch --once '" + path.string() + "'" + args); }
};

}  // namespace

// Each frame names what a person watching must see: the call in flight and
// how long it has run (marked past the threshold), the host's fate, the
// page's progress or the transfer's time, pages done, the last failure.
TEST(Watch, OneFrameShowsTheLoadAsItStands) {
    const std::string memxfer = "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET";
    const struct {
        const char* what;
        Load load;
        std::string args;
        std::vector<std::string> shown, not_shown;
    } rows[] = {
        {"a memory transfer hangs in a running host",
         {log_until(memxfer, 4), Host::running, DAT_IMAGEMEMXFER, 6000 * kMs},
         "",
         {", scanapp pid ", ", running", "State     7 transferring",
          "In flight #3 DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET on thread 100 (scanapp), for 6.",
          "until now (the host still runs)  SLOW (over 5.000 s)",
          "Page 1    [###########...................] 37%, 192 of 512 rows", "Pages     0 done", "Failure   none"},
         {"gone"}},
        {"the same below a higher threshold",
         {log_until(memxfer, 4), Host::running, DAT_IMAGEMEMXFER, 6000 * kMs},
         " --slow-ms 10000",
         {"until now (the host still runs)\n"},
         {"SLOW"}},
        {"a native transfer in a host that is gone, after a page and a failure",
         {log_until(memxfer, 4), Host::gone, DAT_IMAGENATIVEXFER, 300 * kMs, 1, true},
         "",
         {", gone without unloading", "Page 2    native transfer, for at least 300.0 ms",
          "In flight #5 DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET on thread 100 (scanapp), for at least",
          "Pages     1 done", "Failure   00002 DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_XRESOLUTION) at "},
         {"SLOW", "until now"}},
        {"a load unloaded cleanly, the second in its log",
         {log_until("DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS", 1), Host::unloaded, 0, 0, 2, false, 2},
         "",
         {"(load 2)", ", unloaded at ", "In flight none (last: 00003 DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET",
          "Pages     2 done", "Page      none in transfer"},
         {"SLOW"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        WatchDir dir;
        write_load(dir.path, row.load);
        if (row.load.load_in_log > 1) write_load(dir.path, {row.load.log, Host::gone, DAT_IMAGEINFO, kMs});
        ProgramRun r = dir.watch(row.args);
        EXPECT_EQ(r.status, 0) << r.out;
        for (const std::string& s : row.shown) EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
        for (const std::string& s : row.not_shown) EXPECT_EQ(r.out.find(s), std::string::npos) << s << "\n" << r.out;
    }
}

// A folder without logs, a log without its record, a record that is not one.
TEST(Watch, SaysWhatItCannotRead) {
    WatchDir dir;
    ProgramRun r = dir.watch();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No trace log in "), std::string::npos) << r.out;
    std::ofstream(dir.path / kLog, std::ios::binary) << log_until("DG_IMAGE/DAT_IMAGEINFO/MSG_GET", 1);
    r = dir.watch();
    EXPECT_NE(r.out.find(std::string(kLog) + ": no flight record beside it"), std::string::npos) << r.out;
    std::ofstream(dir.path / "Twainlog_20261207_233754_0754.calls", std::ios::binary) << "TRCLFREC";
    r = dir.watch();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("its flight record cannot be read"), std::string::npos) << r.out;
}
