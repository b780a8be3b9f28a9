// Fuzz target: the data source as a data source manager loads it, with the
// fuzzing companion behind it. Each input is a short session: a list of
// calls, each naming its triplet, the companion's answer and the bytes the
// companion leaves behind pData (and, for capabilities, in a container of
// exactly the size the input gives; under native, where a handle's size
// cannot be known, the container ends where a mapping ends, before a page
// that faults, so that counts that lie are read up to it; or, where the
// input says so, the companion allocates it with the memory functions of
// the entry point it was handed, a heap block of exactly its size, which
// the trace must read no further than its end). The log is on, so every call goes the
// whole way to the log file.
//
// Besides the sanitizers, each call checks what a host relies on: the
// companion's return code comes back unchanged (TWRC_FAILURE when it
// threw), no byte behind pData changes after the companion wrote it, the
// numbering advances by one for every listed triplet and by none for the
// event loop, the state stays within 0 to 7, and the log grows by no more
// than the three texts a call may write, none of them holding a NUL.
//
// The companion may also signal as a Linux source does: a DAT_NULL notice
// through the manager entry point it was handed with DAT_ENTRYPOINT/MSG_SET
// (Tracelet's own, in front of a manager stand-in here), sent from inside
// the call or between calls. Each such notice gets the manager's answer
// unchanged and one more number.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "FuzzControl.h"
#include "analyzer/ParaAnalyze.h"
#include "tracelet/twain.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

namespace {

// --- The loaded data source --------------------------------------------------

typedef TW_UINT16 (*DsEntryProc)(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

DsEntryProc g_entry = nullptr;
FuzzControl* g_control = nullptr;
CParaAnalyze* g_analyzer = nullptr;
FILE** g_logFile = nullptr;
// The log file opened a second time, for reading back what each call wrote
// (the data source's stream is write-only).
int g_logReader = -1;

// The log is emptied once it passes this size, so that a long run keeps a
// small file (the stream appends, so writing goes on at the new end).
constexpr off_t kLogLimit = 4 << 20;

void Die(const char* what) {
    fprintf(stderr, "fuzz set-up: %s\n", what);
    abort();
}

void MakeFolders(const std::string& path) {
    for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0777);
    mkdir(path.c_str(), 0777);
}

void RemoveOldLogs(const std::string& folder) {
    std::string command = "rm -f '" + folder + "'/Twainlog_*.txt";
    if (system(command.c_str()) != 0) Die("cannot empty the log folder");
}

void Load() {
    MakeFolders(TRACELET_FUZZ_LOG_DIR);
    RemoveOldLogs(TRACELET_FUZZ_LOG_DIR);
    void* ds = dlopen(TRACELET_FUZZ_DS, RTLD_NOW | RTLD_LOCAL);
    if (!ds) Die(dlerror());
    g_entry = reinterpret_cast<DsEntryProc>(dlsym(ds, "DS_Entry"));
    g_analyzer = static_cast<CParaAnalyze*>(dlsym(ds, "g_cParaAnalyze"));
    g_logFile = static_cast<FILE**>(dlsym(ds, "g_pLogFile"));
    void* companion = dlopen(TRACELET_FUZZ_COMPANION, RTLD_NOW | RTLD_NOLOAD);
    if (!companion) Die("the data source did not load the fuzzing companion");
    auto control = reinterpret_cast<FuzzControl* (*)()>(dlsym(companion, "FuzzCompanionControl"));
    if (!g_entry || !g_analyzer || !g_logFile || !control) Die("missing symbols");
    g_control = control();
    if (!*g_logFile) Die("the log is not on");
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(*g_logFile));
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) Die("cannot find the log file");
    path[n] = '\0';
    g_logReader = open(path, O_RDONLY);
    if (g_logReader < 0) Die("cannot read the log file");
}

off_t LogSize() {
    struct stat st;
    if (!*g_logFile || fstat(fileno(*g_logFile), &st) != 0) return 0;
    return st.st_size;
}

void Check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}

// --- Reading the input -------------------------------------------------------

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ >= end_; }
    uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    uint16_t U16() {
        uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | (Byte() << 8));
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }
    // `n` bytes into `out`, zeros once the input runs out.
    void Take(unsigned char* out, size_t n) {
        size_t have = static_cast<size_t>(end_ - p_);
        if (have > n) have = n;
        if (have) memcpy(out, p_, have);
        memset(out + have, 0, n - have);
        p_ += have;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// Every data argument type of the dispatch, some that have no dump, and
// the vendor ones past the dispatch; a selector byte from 0xE0 on takes the
// value raw from the input instead.
const TW_UINT16 kDats[] = {
    DAT_NULL, DAT_CAPABILITY, DAT_EVENT, DAT_IDENTITY, DAT_PARENT, DAT_PENDINGXFERS,
    DAT_SETUPMEMXFER, DAT_SETUPFILEXFER, DAT_STATUS, DAT_USERINTERFACE, DAT_XFERGROUP,
    DAT_TWUNKIDENTITY, DAT_CUSTOMDSDATA, DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER,
    DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER, DAT_CIECOLOR, DAT_GRAYRESPONSE, DAT_RGBRESPONSE,
    DAT_JPEGCOMPRESSION, DAT_PALETTE8, DAT_EXTIMAGEINFO, DAT_NV_AUTOEXPOSURE, DAT_NV_RGBMATRIX,
    DAT_NV_COLORSMOOTHING, DAT_NV_EVENT, DAT_NV_HARDWAREINFO, DAT_NV_SKEWINFO,
    DAT_NV_UNSHARPMASKPARAM, DAT_NV_REDCORRECTIONMATRIX, DAT_NV_TWAINCALLBACKMSG,
    DAT_NV_SETTINGFRAME, DAT_NV_USMINFO, DAT_DEVICEEVENT, DAT_FILESYSTEM, DAT_PASSTHRU,
    DAT_SETUPFILEXFER2, DAT_ENTRYPOINT, 0x800C, 0x8015, 0xFFFF,
    // The capability path twice more: it is the one with the most to read.
    DAT_CAPABILITY, DAT_CAPABILITY,
};
const TW_UINT16 kMsgs[] = {
    MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET, MSG_RESET, MSG_QUERYSUPPORT, MSG_GETFIRST,
    MSG_GETNEXT, MSG_XFERREADY, MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT, MSG_OPENDSM,
    MSG_CLOSEDSM, MSG_OPENDS, MSG_CLOSEDS, MSG_USERSELECT, MSG_DISABLEDS, MSG_ENABLEDS,
    MSG_ENABLEDSUIONLY, MSG_PROCESSEVENT, MSG_ENDXFER, MSG_STOPFEEDER, MSG_NULL,
    MSG_NV_TIMERRESET, MSG_NV_XFERREQUEST, 0x8003, 0xFFFF,
};
const TW_UINT16 kRcs[] = {
    TWRC_SUCCESS, TWRC_FAILURE, TWRC_CHECKSTATUS, TWRC_CANCEL, TWRC_DSEVENT, TWRC_NOTDSEVENT,
    TWRC_XFERDONE, TWRC_ENDOFLIST, TWRC_INFONOTSUPPORTED, TWRC_DATANOTAVAILABLE, 0x8000, 0x8001,
    0xFFFF, TWRC_SUCCESS, TWRC_SUCCESS,
};
template <class T, size_t N>
constexpr size_t Count(const T (&)[N]) { return N; }

void FreeContainer(TW_HANDLE h) {
    if (h) TwainDisposeHandle(h);
}

// The manager behind Tracelet's entry point: answers what the input says.
TW_UINT16 g_managerRc = TWRC_SUCCESS;
TW_UINT16 ManagerStandIn(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return g_managerRc;
}
// The manager's memory functions: each block a heap block of exactly the
// size asked for (one byte for none), so that a read past it shows.
TW_HANDLE MemAllocateStandIn(TW_UINT32 size) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    return NewHandleClear(size);
#else
    return calloc(1, size ? size : 1);
#endif
}
void MemFreeStandIn(TW_HANDLE h) { FreeContainer(h); }
TW_MEMREF MemLockStandIn(TW_HANDLE h) { return TwainLockHandle(h); }
void MemUnlockStandIn(TW_HANDLE h) { TwainUnlockHandle(h); }

// A notice the companion sends with no call in flight (none before it has
// been handed a manager entry).
void NoticeBetweenCalls(TW_UINT16 msg) {
    FuzzControl& c = *g_control;
    if (!c.managerEntry) return;
    const int64_t sequence = g_analyzer->m_lSequence;
    static TW_IDENTITY source, app;
    const TW_UINT16 got = c.managerEntry(&source, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
    Check(got == g_managerRc, "the manager's answer reaches the source unchanged");
    const bool traced = c.managerEntry != ManagerStandIn;
    Check(g_analyzer->m_lSequence == sequence + (traced ? 1 : 0), "one number per notice");
    Check(g_analyzer->m_nTwainStatus >= 0 && g_analyzer->m_nTwainStatus <= 7, "a TWAIN state");
}

constexpr size_t kMaxCalls = 24;
constexpr size_t kMaxBlock = 8192;

// One call: what the record says, through DS_Entry, then the checks.
void OneCall(Input& in) {
    const uint8_t datSel = in.Byte();
    const TW_UINT16 dat = datSel < 0xE0 ? kDats[datSel % Count(kDats)] : in.U16();
    const uint8_t msgSel = in.Byte();
    const TW_UINT16 msg = msgSel < 0xE0 ? kMsgs[msgSel % Count(kMsgs)] : in.U16();
    const uint8_t rcSel = in.Byte();
    const TW_UINT16 rc = rcSel < 0xF0 ? kRcs[rcSel % Count(kRcs)] : in.U16();
    const uint8_t flags = in.Byte();
    const bool nullData = (flags & 0x03) == 0x03;
    // Bit 6: the source sends a notice, inside the call or after it, and
    // the manager answers it with the code the input gives.
    const uint8_t noticeSel = (flags & 0x40) ? in.Byte() : 0;
    const TW_UINT16 notice = (flags & 0x40) ? kMsgs[(noticeSel & 0x7F) % Count(kMsgs)] : 0;
    const bool noticeInside = (noticeSel & 0x80) == 0;
    if (flags & 0x40) g_managerRc = kRcs[in.Byte() % Count(kRcs)];
    const bool throws = (flags & 0x04) != 0 && (flags & 0x80) != 0;
    const bool nullOrigin = (flags & 0x08) != 0;
    TW_UINT32 dg = DG_CONTROL;
    switch ((flags >> 4) & 0x03) {
        case 0: dg = DG_CONTROL; break;
        case 1: dg = DG_IMAGE; break;
        case 2: dg = DG_AUDIO; break;
        default: dg = in.U32(); break;
    }

    // The application's identity, exactly its size (its texts may hold no NUL).
    TW_IDENTITY* origin = nullptr;
    if (!nullOrigin) {
        origin = static_cast<TW_IDENTITY*>(malloc(sizeof(TW_IDENTITY)));
        in.Take(reinterpret_cast<unsigned char*>(origin), sizeof(TW_IDENTITY));
    }

    // pData: exactly the structure's size, filled by the companion.
    size_t size = 0;
    unsigned char bytes[sizeof(TW_PALETTE8) + sizeof(TWNV_HARDWAREINFO)];
    static_assert(sizeof bytes >= sizeof(TW_CIECOLOR), "room for the largest structure");
    unsigned char* pData = nullptr;
    if (!nullData) {
        size = TwainStructureSize(dat);
        if (size == 0) size = in.Byte() % 64;
        in.Take(bytes, size);
        pData = static_cast<unsigned char*>(malloc(size ? size : 1));
        if (dat == DAT_ENTRYPOINT) {
            // The application fills its entry points; the companion writes
            // nothing. A manager entry the input gives is the stand-in.
            TW_ENTRYPOINT entry;
            memcpy(&entry, bytes, sizeof entry);
            if (entry.DSM_Entry) entry.DSM_Entry = ManagerStandIn;
            if (entry.DSM_MemAllocate) entry.DSM_MemAllocate = MemAllocateStandIn;
            if (entry.DSM_MemFree) entry.DSM_MemFree = MemFreeStandIn;
            if (entry.DSM_MemLock) entry.DSM_MemLock = MemLockStandIn;
            if (entry.DSM_MemUnlock) entry.DSM_MemUnlock = MemUnlockStandIn;
            memcpy(bytes, &entry, sizeof entry);
            memcpy(pData, bytes, size);
        }
    }

    // A capability's container: null, or a block of the input's size.
    static unsigned char block[kMaxBlock];
    FuzzControl& c = *g_control;
    c.giveContainer = false;
    c.overrideConType = false;
    c.throughEntryPoint = false;
    if (dat == DAT_CAPABILITY && pData) {
        const uint8_t mode = in.Byte();
        if (mode & 0x07) {
            c.giveContainer = true;
            // From the entry point's allocator while the companion holds the
            // data source's own entry point; else in the guarded mapping.
            c.throughEntryPoint = (mode & 0x08) && c.managerEntry && c.managerEntry != ManagerStandIn;
            const size_t blockSize = in.U16() % (kMaxBlock + 1);
            in.Take(block, blockSize);
            c.block = block;
            c.blockSize = blockSize;
            // Mostly one of the four container types, sometimes what the bytes say.
            if ((mode & 0x07) <= 4) {
                c.overrideConType = true;
                c.conType = static_cast<TW_UINT16>(TWON_ARRAY + (mode & 0x07) - 1);
            }
        }
    }
    c.rc = rc;
    c.throwNext = throws;
    c.bytes = bytes;
    c.size = pData && dat != DAT_ENTRYPOINT ? size : 0;
    c.notice = noticeInside ? notice : 0;
    const int notices = c.notices;

    const int64_t sequence = g_analyzer->m_lSequence;
    const off_t before = LogSize();

    const TW_UINT16 got = g_entry(origin, dg, dat, msg, pData);

    Check(got == (throws ? TWRC_FAILURE : rc), "the return code reaches the caller unchanged");
    if (pData && dat == DAT_ENTRYPOINT)
        Check(memcmp(pData, bytes, size) == 0, "the caller's entry points are never written");
    else if (pData && !throws)
        Check(memcmp(pData, c.written, c.writtenSize) == 0, "pData is as the companion left it");
    // The entry the companion used was the one it held after the call.
    const bool tracedNotice = c.notices != notices && c.managerEntry != ManagerStandIn;
    if (c.notices != notices)
        Check(c.noticeRc == g_managerRc, "the manager's answer reaches the source unchanged");
    const bool listed = !(msg == MSG_PROCESSEVENT || (dat == DAT_NULL && msg == MSG_XFERREADY));
    const int64_t noticed = tracedNotice ? c.notices - notices : 0;
    Check(g_analyzer->m_lSequence == sequence + (listed ? 1 : 0) + noticed, "one number per listed triplet");
    Check(g_analyzer->m_nTwainStatus >= 0 && g_analyzer->m_nTwainStatus <= 7, "a TWAIN state");

    const off_t after = LogSize();
    const off_t bound = (2 * static_cast<off_t>(kLogTextSize) + 24 + 72) * (1 + noticed);
    Check(after >= before && after - before <= bound, "a call writes at most its three texts");
    if (after > before) {
        static char text[2 * kLogTextSize + 128];
        const size_t n = static_cast<size_t>(after - before);
        Check(pread(g_logReader, text, n, before) == static_cast<ssize_t>(n), "log read back");
        Check(memchr(text, '\0', n) == nullptr, "the log holds text only");
    }
    if (after > kLogLimit && ftruncate(fileno(*g_logFile), 0) != 0) Die("cannot empty the log");

    if (!c.guarded) FreeContainer(c.container);
    c.container = nullptr;
    c.notice = 0;
    free(pData);
    free(origin);
    if (notice && !noticeInside) NoticeBetweenCalls(notice);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Load();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    for (size_t i = 0; i < kMaxCalls && !in.empty(); ++i) OneCall(in);
    return 0;
}
