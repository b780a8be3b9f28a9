// What a traced call costs. For seven representative triplets:
//   LogOn      DS_Entry of a data source whose log folder exists (a real file)
//   LogOff     DS_Entry of a data source without its log folder
//   Companion  the companion's TripletEntry called directly: the call
//              without the trace
//   Floor      the bytes LogOn writes for the triplet, written with the
//              same fwrite and fflush calls to a stream set up the same
//              way, and nothing else
//   Paired     LogOn and Floor in alternating blocks of 64 calls in one
//              run: their times per call and their ratio, measured under
//              the same conditions
//   Mixed      LogOn and Floor of all the triplets in turn, one call of
//              each, as a session makes them: no call finds the caches
//              as the same call left them
// The log and the floor's file are emptied every few thousand calls
// (outside the timing) so that they stay small.
//
// And one row for the flight record alone:
//   RecordCall  a call's start record and its end record (with the end's
//               clock reading), written by a recorder of the benchmark's
//               own into a record file beside a log that is never written;
//               a new record file every 60,000 calls, outside the timing
//   ClockReadings  the two clock readings such a call takes, alone
//   SystemClockReadings  the same two readings from clock_gettime itself,
//               the cost the counter-based clock saves
//
// And the capture's rows:
//   Capture/InOut/<type>  an application call's pData captured going in and
//                         coming out (a capability with its container)
//   Capture/Strip64K/...  a 64 KB memory strip: the sampled hash a capture
//                         takes without the image folder, the strip's
//                         memcpy, its full hash, and the whole image record

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "bounds/BlockTable.h"
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "platform/FlightFile.h"
#include "record/Capture.h"
#include "record/FlightRecorder.h"
#include "tracelet/TripletOperator.h"
#include "tracelet/twain.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

namespace {

typedef TW_UINT16 (*DsEntryProc)(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

const std::string kRoot = TRACELET_BENCH_ROOT;
constexpr int kTruncateEvery = 2048;

struct Loaded {
    DsEntryProc entry = nullptr;
    FILE** logFile = nullptr;
};
Loaded g_on, g_off;
TripletOperator* g_direct = nullptr;
TW_IDENTITY g_app{};

void Fail(const std::string& what) {
    fprintf(stderr, "benchmark set-up: %s\n", what.c_str());
    exit(1);
}

void MakeFolders(const std::string& path) {
    for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0777);
    mkdir(path.c_str(), 0777);
}

Loaded Load(const char* path) {
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!h) Fail(dlerror());
    Loaded l;
    l.entry = reinterpret_cast<DsEntryProc>(dlsym(h, "DS_Entry"));
    l.logFile = static_cast<FILE**>(dlsym(h, "g_pLogFile"));
    if (!l.entry || !l.logFile) Fail("missing symbols");
    return l;
}

void SetUp() {
    MakeFolders(kRoot + "/Core");
    MakeFolders(kRoot + "/LOG/TWAIN");
    if (system(("rm -f '" + kRoot + "/LOG/TWAIN'/*.txt '" + kRoot + "/LOG/TWAIN'/*.calls '" + kRoot + "/RECORD'/*.calls '" + kRoot + "/floor.txt'").c_str()) != 0) Fail("rm");
    rmdir((kRoot + "/NOLOG/TWAIN").c_str());
    const std::string companion = kRoot + "/Core/TwainWrapper.bundle";
    unlink(companion.c_str());
    if (symlink(TRACELET_BENCH_COMPANION, companion.c_str()) != 0) Fail("cannot place the companion");
    g_on = Load(TRACELET_BENCH_DS_ON);
    g_off = Load(TRACELET_BENCH_DS_OFF);
    if (!*g_on.logFile) Fail("the log-on data source has no log");
    if (*g_off.logFile) Fail("the log-off data source has a log");
    void* c = dlopen(companion.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto create = reinterpret_cast<CreateTwainWrapperProc>(c ? dlsym(c, "CreateTwainWrapper") : nullptr);
    if (!create) Fail("no companion factory");
    create("bench", &g_direct);
    if (!g_direct) Fail("no companion operator");
    g_app.Id = 1;
    strcpy(g_app.ProductName, "Tracelet benchmark");
}

// --- The triplets ------------------------------------------------------------------------

struct Case {
    const char* name;
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    void* data;
    // The texts LogOn writes for it, one per fwrite.
    std::vector<std::string> writes;
};

TW_HANDLE Container(const std::vector<unsigned char>& bytes) {
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(bytes.size()));
    memcpy(TwainLockHandle(h), bytes.data(), bytes.size());
    TwainUnlockHandle(h);
    return h;
}

template <class T>
void Put(std::vector<unsigned char>& v, const T& x) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&x);
    v.insert(v.end(), p, p + sizeof x);
}

std::vector<Case> MakeCases() {
    static TW_STATUS status{};
    status.ConditionCode = TWCC_SEQERROR;
    static TW_USERINTERFACE ui{};
    ui.ShowUI = 1;
    // One strip of a memory transfer.
    static TW_IMAGEMEMXFER strip{};
    strip.Compression = TWCP_NONE;
    strip.BytesPerRow = 7200;
    strip.Columns = 2400;
    strip.Rows = 64;
    strip.YOffset = 640;
    strip.BytesWritten = 7200 * 64;
    strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    strip.Memory.Length = 7200 * 64;

    // ICAP_PIXELTYPE as a 10-item enumeration of TW_UINT16.
    static TW_CAPABILITY enumeration{};
    {
        TW_ENUMERATION e{};
        e.ItemType = TWTY_UINT16;
        e.NumItems = 10;
        e.CurrentIndex = 2;
        e.DefaultIndex = 0;
        std::vector<unsigned char> v(offsetof(TW_ENUMERATION, ItemList));
        memcpy(v.data(), &e, v.size());
        for (TW_UINT16 i = 0; i < 10; ++i) Put(v, i);
        enumeration.Cap = ICAP_PIXELTYPE;
        enumeration.ConType = TWON_ENUMERATION;
        enumeration.hContainer = Container(v);
    }
    // ICAP_XRESOLUTION as a 200-item array of TW_FIX32 (50 to 2040 dpi).
    static TW_CAPABILITY array{}, crossing{};
    {
        TW_ARRAY a{};
        a.ItemType = TWTY_FIX32;
        a.NumItems = 200;
        std::vector<unsigned char> v(offsetof(TW_ARRAY, ItemList));
        memcpy(v.data(), &a, v.size());
        for (int i = 0; i < 200; ++i) Put(v, TwainFix32Of(50 + 10 * i));
        array.Cap = ICAP_XRESOLUTION;
        array.ConType = TWON_ARRAY;
        array.hContainer = Container(v);
#if !defined(TRACELET_TWAIN_ABI_MACOS)
        // The same list in a block that starts 64 bytes before a page ends
        // (a native handle is the block's address): every call checks the
        // next page before it reads the items there.
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* m = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) Fail("mmap");
        unsigned char* at = static_cast<unsigned char*>(m) + page - 64;
        memcpy(at, v.data(), v.size());
        crossing = array;
        crossing.hContainer = at;
#endif
    }
    // A CIE colour description with every value set.
    static TW_CIECOLOR cie{};
    {
        cie.ColorSpace = 8;
        cie.LowEndian = 1;
        cie.VersionNumber = 1;
        TW_FIX32* f = reinterpret_cast<TW_FIX32*>(&cie.StageABC);
        const size_t n = (offsetof(TW_CIECOLOR, Samples) - offsetof(TW_CIECOLOR, StageABC)) / sizeof(TW_FIX32);
        for (size_t i = 0; i < n; ++i) {
            TW_FIX32 v = TwainFix32Of(0.125 * static_cast<double>(i % 97) - 3.0);
            memcpy(f + i, &v, sizeof v);
        }
        cie.Samples[0] = TwainFix32Of(1.5);
    }
    // Hardware information with texts and matrices.
    static TWNV_HARDWAREINFO hw{};
    {
        hw.ModelID = 0x2a;
        const char product[] = "Vistrel Film Scanner";
        hw.ProductName[0] = sizeof product - 1;
        memcpy(hw.ProductName + 1, product, sizeof product - 1);
        const char model[] = "VF-4800";
        hw.ModelName[0] = sizeof model - 1;
        memcpy(hw.ModelName + 1, model, sizeof model - 1);
        hw.OptXResolution = hw.OptYResolution = 4800;
        hw.MinResolution = 50;
        hw.MaxResolution = 9600;
        hw.BitDepth = 0x30;
        hw.FullAutoModeSupport = 1;
        strcpy(hw.ProfileNameFB, "Reflective.icc");
        strcpy(hw.ProfileNameTPU, "Transparency.icc");
        TW_FIX32 one = TwainFix32Of(1.0);
        for (TW_FIX32* m : {hw.ColorCorrectionFB, hw.ColorCorrectionPOSI, hw.ColorCorrectionNEGA,
                            hw.HMPColorCorrectionFB, hw.HMPColorCorrectionPOSI, hw.HMPColorCorrectionNEGA})
            for (int i = 0; i < 9; i += 4) memcpy(m + i, &one, sizeof one);
        strcpy(hw.ROMVersion, "1.07");
    }

    return {
        {"Status", DG_CONTROL, DAT_STATUS, MSG_GET, &status, {}},
        {"EnableDS", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui, {}},
        {"MemoryXfer", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip, {}},
        {"Enumeration10", DG_CONTROL, DAT_CAPABILITY, MSG_GET, &enumeration, {}},
        {"Array200", DG_CONTROL, DAT_CAPABILITY, MSG_GET, &array, {}},
        {"Array200Crossing", DG_CONTROL, DAT_CAPABILITY, MSG_GET, &crossing, {}},
        {"CieColor", DG_IMAGE, DAT_CIECOLOR, MSG_GET, &cie, {}},
        {"HardwareInfo", DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, &hw, {}},
    };
}

// The texts the log-on data source writes for a case: one call, read back
// from its log, split at the end of the triplet line.
void Capture(Case& c) {
    FILE* log = *g_on.logFile;
    fflush(log);
    struct stat st;
    fstat(fileno(log), &st);
    const off_t before = st.st_size;
    g_on.entry(&g_app, c.dg, c.dat, c.msg, c.data);
    fstat(fileno(log), &st);
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(log));
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) Fail("cannot find the log");
    path[n] = '\0';
    std::string text(static_cast<size_t>(st.st_size - before), '\0');
    const int fd = open(path, O_RDONLY);
    if (fd < 0 || pread(fd, &text[0], text.size(), before) != static_cast<ssize_t>(text.size())) Fail("read");
    close(fd);
    const size_t eol = text.find("\r\n");
    if (eol == std::string::npos || text.find("Size of CAP_xxx too long") != std::string::npos)
        Fail(std::string("unexpected text for ") + c.name);
    c.writes = {text.substr(0, eol + 2), text.substr(eol + 2)};
}

void Empty(FILE* f) {
    if (f && ftruncate(fileno(f), 0) != 0) Fail("cannot empty a log");
}

// --- The four measurements -----------------------------------------------------------------

void LogOn(benchmark::State& state, const Case* c) {
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_on.entry(&g_app, c->dg, c->dat, c->msg, c->data));
        if (++n == kTruncateEvery) {
            state.PauseTiming();
            Empty(*g_on.logFile);
            n = 0;
            state.ResumeTiming();
        }
    }
    size_t bytes = 0;
    for (const std::string& w : c->writes) bytes += w.size();
    state.counters["bytes"] = static_cast<double>(bytes);
}

void LogOff(benchmark::State& state, const Case* c) {
    for (auto _ : state) benchmark::DoNotOptimize(g_off.entry(&g_app, c->dg, c->dat, c->msg, c->data));
}

// A new record file for the flight record row, the last one removed.
void NewRecord(tracelet::record::FlightRecorder& recorder) {
    if (recorder.IsOpen()) {
        const std::string old = recorder.Path();
        recorder.Close(false);
        unlink(old.c_str());
    }
    const std::string folder = kRoot + "/RECORD";
    MakeFolders(folder);
    if (!recorder.Open({folder.c_str(), "Twainlog_bench.txt", 0, TRACELET_BENCH_DS_ON, TRACELET_BENCH_COMPANION, false}))
        Fail("cannot create a flight record");
}

void RecordCall(benchmark::State& state) {
    constexpr int kCallsPerRecord = 60000;  // within the first step of the file
    static tracelet::record::FlightRecorder recorder;
    NewRecord(recorder);
    tracelet::record::CallStart start{};
    start.dg = DG_CONTROL;
    start.dat = DAT_STATUS;
    start.msg = MSG_GET;
    start.stateBefore = 4;
    int n = 0;
    for (auto _ : state) {
        tracelet::flightrecord::CallRecord* r = recorder.StartCall(start);
        recorder.EndCall(r, tracelet::platform::MonotonicNanoseconds(), TWRC_SUCCESS, 4, true, 1);
        benchmark::DoNotOptimize(r);
        if (++n == kCallsPerRecord) {
            state.PauseTiming();
            if (!r) Fail("the flight record stopped");
            NewRecord(recorder);
            n = 0;
            state.ResumeTiming();
        }
    }
}

// What the capture adds to an application call: its pData going in and
// coming out (with the container of a capability), into a record of the
// benchmark's own; a new record file before the first one fills its first
// step, outside the timing.
struct CaptureCase {
    const char* name;
    TW_UINT16 dat, msg;
    void* data;
    TW_UINT16 rc;
};

void CaptureInOut(benchmark::State& state, const CaptureCase* c) {
    // Within the record file's first step, as RecordCall: growing the file
    // is a cost per 65,536 slots, not per call.
    const int kCallsPerRecord = static_cast<int>(60000 / (2 * tracelet::flightrecord::CaptureSlots(
                                                             TwainStructureSize(c->dat) + 64)));
    static tracelet::record::FlightRecorder recorder;
    NewRecord(recorder);
    int n = 0;
    for (auto _ : state) {
        tracelet::record::CaptureData(recorder, 1, tracelet::flightrecord::kPhaseIn, c->dat, c->msg, c->data, 0);
        tracelet::record::CaptureData(recorder, 1, tracelet::flightrecord::kPhaseOut, c->dat, c->msg, c->data, c->rc);
        if (++n == kCallsPerRecord) {
            state.PauseTiming();
            NewRecord(recorder);
            n = 0;
            state.ResumeTiming();
        }
    }
    state.counters["bytes"] = TwainStructureSize(c->dat);
}

// A 64 KB memory strip: the hash a capture takes of it without the image
// folder (a fixed sample), the strip's memcpy, the whole strip's hash for
// comparison, and the whole ImageRecord of a memory transfer.
alignas(64) unsigned char g_strip[65536];
alignas(64) unsigned char g_stripCopy[65536];
uint64_t BenchHash(const void* p, size_t n) { return XXH3_64bits_withSeed(p, n, n); }

void StripSampleHash(benchmark::State& state) {
    uint64_t hash = 0, hashed = 0;
    bool full = false;
    for (auto _ : state) {
        tracelet::record::SampleHash(g_strip, sizeof g_strip, &hash, &hashed, &full);
        benchmark::DoNotOptimize(hash);
    }
}

// The hash of the sample alone: the same 16 pieces, from memory known to
// be readable, without the page checks an unvouched buffer takes.
void StripSampleHashOnly(benchmark::State& state) {
    unsigned char sample[tracelet::flightrecord::kCaptureHashSample];
    constexpr size_t kPiece = sizeof sample / 16;
    for (auto _ : state) {
        for (size_t k = 0; k < 16; ++k)
            memcpy(sample + k * kPiece, g_strip + (sizeof g_strip - kPiece) * k / 15, kPiece);
        benchmark::DoNotOptimize(BenchHash(sample, sizeof sample));
    }
}

void StripMemcpy(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_stripCopy);
        memcpy(g_stripCopy, g_strip, sizeof g_strip);
        benchmark::DoNotOptimize(g_stripCopy);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof g_strip));
}

void StripFullHash(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(BenchHash(g_strip, sizeof g_strip));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof g_strip));
}

void StripImageRecord(benchmark::State& state) {
    constexpr int kCallsPerRecord = 20000;
    static tracelet::record::FlightRecorder recorder;
    NewRecord(recorder);
    TW_IMAGEMEMXFER x{};
    x.BytesWritten = sizeof g_strip;
    x.Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, sizeof g_strip, g_strip};
    int n = 0;
    for (auto _ : state) {
        tracelet::record::CaptureImage(recorder, 1, DAT_IMAGEMEMXFER, &x, TWRC_SUCCESS);
        if (++n == kCallsPerRecord) {
            state.PauseTiming();
            NewRecord(recorder);
            n = 0;
            state.ResumeTiming();
        }
    }
}

// The two clock readings a recorded call takes (its start and its end),
// alone: what the record costs on this machine at the least.
void ClockReadings(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(tracelet::platform::MonotonicNanoseconds());
        benchmark::DoNotOptimize(tracelet::platform::MonotonicNanoseconds());
    }
}

void SystemClockReadings(benchmark::State& state) {
    struct timespec ts;
    for (auto _ : state) {
        clock_gettime(CLOCK_MONOTONIC, &ts);
        benchmark::DoNotOptimize(ts);
        clock_gettime(CLOCK_MONOTONIC, &ts);
        benchmark::DoNotOptimize(ts);
    }
}

// The bound of a container: the table lookup alone, with the table as a
// source with a few calls in flight leaves it (16 blocks of 4 calls), for a
// block of the call being traced and for a handle the table does not hold.
void BlockLookup(benchmark::State& state, bool held) {
    tracelet::bounds::Blocks().Clear();
    static unsigned char blocks[16][64];
    const tracelet::bounds::CallScope call;
    for (int i = 0; i < 16; ++i)
        tracelet::bounds::Blocks().Add(blocks[i], 64, i % 4 == 3 ? call.Token() : call.Token() + 1 + i % 4);
    TW_HANDLE h = held ? reinterpret_cast<TW_HANDLE>(blocks[15]) : reinterpret_cast<TW_HANDLE>(&blocks[15][1]);
    for (auto _ : state) {
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(tracelet::bounds::ContainerBytes(h));
    }
    tracelet::bounds::Blocks().Clear();
}

void Companion(benchmark::State& state, const Case* c) {
    for (auto _ : state) benchmark::DoNotOptimize(g_direct->TripletEntry(&g_app, c->dg, c->dat, c->msg, c->data));
}

// The floor's stream is set up as the data source sets up its log: opened
// for appending, with a static buffer of the same size.
char g_floorBuffer[8192];
FILE* g_floor = nullptr;

// The floor of one call: the bytes of its triplet line, then those of its
// result block, each written and flushed.
void WriteFloor(const Case& c) {
    for (const std::string& w : c.writes) {
        fwrite(w.data(), 1, w.size(), g_floor);
        fflush(g_floor);
    }
}

void Floor(benchmark::State& state, const Case* c) {
    const std::string& a = c->writes[0];
    const std::string& b = c->writes[1];
    int n = 0;
    for (auto _ : state) {
        WriteFloor(*c);
        if (++n == kTruncateEvery) {
            state.PauseTiming();
            Empty(g_floor);
            n = 0;
            state.ResumeTiming();
        }
    }
    state.counters["bytes"] = static_cast<double>(a.size() + b.size());
}

// Log on and its floor in alternating blocks of calls within one run, so
// that whatever else the machine does weighs on both alike: each
// iteration is one traced call and one floor call, and the counters give
// each one's time per call and their ratio.
void Paired(benchmark::State& state, const Case* c) {
    using Clock = std::chrono::steady_clock;
    constexpr int kBlock = 64;
    Clock::duration on{}, floor{};
    long calls = 0;
    int n = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        for (int i = 0; i < kBlock; ++i) benchmark::DoNotOptimize(g_on.entry(&g_app, c->dg, c->dat, c->msg, c->data));
        const Clock::time_point t1 = Clock::now();
        for (int i = 0; i < kBlock; ++i) WriteFloor(*c);
        on += t1 - t0;
        floor += Clock::now() - t1;
        calls += kBlock;
        if ((n += kBlock) >= kTruncateEvery) {
            state.PauseTiming();
            Empty(*g_on.logFile);
            Empty(g_floor);
            n = 0;
            state.ResumeTiming();
        }
    }
    const double onNs = std::chrono::duration<double, std::nano>(on).count();
    const double floorNs = std::chrono::duration<double, std::nano>(floor).count();
    state.counters["log_on_ns"] = calls ? onNs / static_cast<double>(calls) : 0;
    state.counters["floor_ns"] = calls ? floorNs / static_cast<double>(calls) : 0;
    state.counters["on_per_floor"] = floorNs > 0 ? onNs / floorNs : 0;
}

// All the triplets in turn, traced or as their floor; time per call.
const std::vector<Case>* g_cases = nullptr;

void MixedLogOn(benchmark::State& state) {
    int n = 0;
    for (auto _ : state) {
        for (const Case& c : *g_cases) benchmark::DoNotOptimize(g_on.entry(&g_app, c.dg, c.dat, c.msg, c.data));
        if (++n == kTruncateEvery / 8) {
            state.PauseTiming();
            Empty(*g_on.logFile);
            n = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g_cases->size()));
}

void MixedFloor(benchmark::State& state) {
    int n = 0;
    for (auto _ : state) {
        for (const Case& c : *g_cases) WriteFloor(c);
        if (++n == kTruncateEvery / 8) {
            state.PauseTiming();
            Empty(g_floor);
            n = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g_cases->size()));
}

}  // namespace

int main(int argc, char** argv) {
    SetUp();
    static std::vector<Case> cases = MakeCases();
    for (Case& c : cases) Capture(c);
    Empty(*g_on.logFile);
    g_floor = fopen((kRoot + "/floor.txt").c_str(), "a");
    if (!g_floor) Fail("cannot open the floor's file");
    setvbuf(g_floor, g_floorBuffer, _IOFBF, sizeof g_floorBuffer);

    for (const Case& c : cases) {
        const std::string name = c.name;
        benchmark::RegisterBenchmark((name + "/LogOn").c_str(), LogOn, &c);
        benchmark::RegisterBenchmark((name + "/Floor").c_str(), Floor, &c);
        benchmark::RegisterBenchmark((name + "/LogOff").c_str(), LogOff, &c);
        benchmark::RegisterBenchmark((name + "/Companion").c_str(), Companion, &c);
        benchmark::RegisterBenchmark((name + "/Paired").c_str(), Paired, &c);
    }
    g_cases = &cases;
    benchmark::RegisterBenchmark("Mixed/LogOn", MixedLogOn);
    benchmark::RegisterBenchmark("Mixed/Floor", MixedFloor);
    benchmark::RegisterBenchmark("FlightRecord/RecordCall", RecordCall);
    benchmark::RegisterBenchmark("FlightRecord/ClockReadings", ClockReadings);
    benchmark::RegisterBenchmark("FlightRecord/SystemClockReadings", SystemClockReadings);
    benchmark::RegisterBenchmark("BlockTable/LookupHeld", BlockLookup, true);
    benchmark::RegisterBenchmark("BlockTable/LookupOther", BlockLookup, false);
    static TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, nullptr};
    cap.hContainer = TwainNewHandle(sizeof(TW_ONEVALUE));
    static TW_IDENTITY identity{};
    static TW_IMAGEMEMXFER memXfer{};
    static TW_PALETTE8 palette{};  // the largest fixed structure under 1 KB
    static const CaptureCase captureCases[] = {
        {"CapabilitySet", DAT_CAPABILITY, MSG_SET, &cap, TWRC_SUCCESS},
        {"Identity", DAT_IDENTITY, MSG_GET, &identity, TWRC_SUCCESS},
        {"ImageMemXfer", DAT_IMAGEMEMXFER, MSG_GET, &memXfer, TWRC_SUCCESS},
        {"Palette8", DAT_PALETTE8, MSG_GET, &palette, TWRC_SUCCESS},
    };
    for (const CaptureCase& c : captureCases)
        benchmark::RegisterBenchmark((std::string("Capture/InOut/") + c.name).c_str(), CaptureInOut, &c);
    for (size_t i = 0; i < sizeof g_strip; ++i) g_strip[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    benchmark::RegisterBenchmark("Capture/Strip64K/SampleHash", StripSampleHash);
    benchmark::RegisterBenchmark("Capture/Strip64K/SampleHashOnly", StripSampleHashOnly);
    benchmark::RegisterBenchmark("Capture/Strip64K/Memcpy", StripMemcpy);
    benchmark::RegisterBenchmark("Capture/Strip64K/FullHash", StripFullHash);
    benchmark::RegisterBenchmark("Capture/Strip64K/ImageRecord", StripImageRecord);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fclose(g_floor);
    return 0;
}
