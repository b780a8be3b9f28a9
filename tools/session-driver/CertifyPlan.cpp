#include "CertifyPlan.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <tuple>

#include "CertifyChecks.h"
#include "MemXfer.h"
#include "Session.h"
#include "tables/TwNames.h"
#include "tracelet/twain_memory.h"
#include "trace/states.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CERTIFY_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define CERTIFY_UNDER_SANITIZER 1
#endif
#endif

namespace certify {

namespace {

// Resident memory may grow this much over the stress cycles.
constexpr long kRssToleranceBytes = 8L * 1024 * 1024;
// How long a source may take to say a page is ready after it was enabled.
constexpr auto kReadyWait = std::chrono::seconds(5);

// A value by its name, or in hexadecimal where the names library has none.
std::string Named(std::string_view name, std::uint64_t value) {
    if (!name.empty()) return std::string(name);
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(value));
    return text;
}

std::string CapName(TW_UINT16 cap) { return Named(twnames::Name(twnames::Kind::Cap, cap), cap); }
std::string CcName(TW_UINT16 cc) { return Named(twnames::Name(twnames::Kind::Cc, cc), cc); }
std::string RcName(TW_UINT16 rc) { return Named(twnames::Name(twnames::Kind::Rc, rc), rc); }
std::string ConName(TW_UINT16 con) { return Named(twnames::NameIn("twon_macros", con), con); }
std::string TypeName(TW_UINT16 type) { return Named(twnames::NameIn("twty_macros", type), type); }
std::string MsgName(TW_UINT16 msg) { return Named(twnames::Name(twnames::Kind::Msg, msg), msg); }

double Fix32(std::uint32_t word) {
    TW_FIX32 f;
    std::memcpy(&f, &word, sizeof f);
    return f.Whole + f.Frac / 65536.0;
}

// --- Capability containers as the application reads them ---------------------

// An item is kept as its bytes, so that every item type compares the same
// way; range values are the low bytes of their 32-bit fields.
using Item = std::string;

std::uint32_t ItemWord(const Item& item) {
    std::uint32_t word = 0;
    std::memcpy(&word, item.data(), std::min(item.size(), sizeof word));
    return word;
}

// An item as the report shows it; a TWTY_UINT16 value of a capability
// whose values have names (ICAP_PIXELTYPE, ...) by its name.
std::string ItemText(TW_UINT16 type, const Item& item, TW_UINT16 cap) {
    const std::uint32_t w = ItemWord(item);
    std::ostringstream s;
    if (type == TWTY_UINT16) {
        const std::string_view name = twnames::CapValueName(cap, static_cast<TW_UINT16>(w));
        if (!name.empty()) return std::string(name);
    }
    switch (type) {
    case TWTY_INT8: s << int(std::int8_t(w)); break;
    case TWTY_INT16: s << std::int16_t(w); break;
    case TWTY_INT32: s << std::int32_t(w); break;
    case TWTY_FIX32: s << Fix32(w); break;
    case TWTY_FRAME: {
        std::uint32_t f[4] = {};
        std::memcpy(f, item.data(), std::min(item.size(), sizeof f));
        s << Fix32(f[0]) << "," << Fix32(f[1]) << "," << Fix32(f[2]) << "," << Fix32(f[3]);
        break;
    }
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255: s << '"' << std::string(item.c_str()) << '"'; break;
    default: s << w;
    }
    return s.str();
}

struct Container {
    TW_UINT16 conType = 0;
    TW_UINT16 itemType = 0;
    bool readable = false;  // an item type this program knows, a list it could read
    std::vector<Item> items;  // one value: its item; enumeration and array: the list
    std::uint32_t currentIndex = 0, defaultIndex = 0;
    Item minValue, maxValue, stepSize, defaultValue, currentValue;  // range

    // What a one-value answer of MSG_GETCURRENT or MSG_GETDEFAULT holds.
    const Item* One() const { return conType == TWON_ONEVALUE && !items.empty() ? &items[0] : nullptr; }
};

Container ReadContainer(TW_UINT16 conType, TW_HANDLE handle) {
    Container c;
    c.conType = conType;
    const auto* p = static_cast<const unsigned char*>(TwainLockHandle(handle));
    if (!p) return c;
    auto u32 = [p](std::size_t at) {
        TW_UINT32 v;
        std::memcpy(&v, p + at, sizeof v);
        return v;
    };
    std::memcpy(&c.itemType, p, sizeof c.itemType);
    const std::size_t size = TwainItemSize(c.itemType);
    auto item = [&](std::size_t at, std::size_t bytes) { return Item(reinterpret_cast<const char*>(p + at), bytes); };
    if (size) {
        c.readable = true;
        switch (conType) {
        case TWON_ONEVALUE: c.items.push_back(item(offsetof(TW_ONEVALUE, Item), size)); break;
        case TWON_ENUMERATION:
        case TWON_ARRAY: {
            const bool isEnum = conType == TWON_ENUMERATION;
            const TW_UINT32 n = u32(isEnum ? offsetof(TW_ENUMERATION, NumItems) : offsetof(TW_ARRAY, NumItems));
            if (n > 4096) {
                c.readable = false;
                break;
            }
            const std::size_t list = isEnum ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
            for (TW_UINT32 i = 0; i < n; ++i) c.items.push_back(item(list + i * size, size));
            if (isEnum) {
                c.currentIndex = u32(offsetof(TW_ENUMERATION, CurrentIndex));
                c.defaultIndex = u32(offsetof(TW_ENUMERATION, DefaultIndex));
            }
            break;
        }
        case TWON_RANGE: {
            const std::size_t bytes = std::min(size, sizeof(TW_UINT32));
            c.minValue = item(offsetof(TW_RANGE, MinValue), bytes);
            c.maxValue = item(offsetof(TW_RANGE, MaxValue), bytes);
            c.stepSize = item(offsetof(TW_RANGE, StepSize), bytes);
            c.defaultValue = item(offsetof(TW_RANGE, DefaultValue), bytes);
            c.currentValue = item(offsetof(TW_RANGE, CurrentValue), bytes);
            break;
        }
        default: c.readable = false;
        }
    }
    TwainUnlockHandle(handle);
    return c;
}

// Range items compare as numbers of their type.
double Number(TW_UINT16 type, const Item& item) {
    const std::uint32_t w = ItemWord(item);
    switch (type) {
    case TWTY_INT8: return std::int8_t(w);
    case TWTY_INT16: return std::int16_t(w);
    case TWTY_INT32: return std::int32_t(w);
    case TWTY_FIX32: return Fix32(w);
    default: return w;
    }
}

Item Add(TW_UINT16 type, const Item& a, const Item& b) {
    std::uint32_t w = ItemWord(a) + ItemWord(b);
    if (type == TWTY_FIX32) {
        const double v = Number(type, a) + Number(type, b);
        const auto scaled = static_cast<std::int32_t>(v * 65536.0 + (v < 0 ? -0.5 : 0.5));
        TW_FIX32 f;
        f.Whole = static_cast<TW_INT16>(scaled >> 16);
        f.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
        std::memcpy(&w, &f, sizeof w);
    }
    return Item(reinterpret_cast<const char*>(&w), a.size());
}

// --- Checks as the plan fills them ----------------------------------------------

class Recorder {
public:
    explicit Recorder(const std::string& path) : m_out(path, std::ios::binary | std::ios::trunc) {}

    void Line(const nlohmann::json& j) {
        m_out << j.dump() << '\n';
        m_out.flush();
    }

    void Fail(const char* id, long call, std::string text) {
        Result& r = Get(id);
        if (r.findings.size() < kFindingsKept)
            r.findings.push_back({call, std::move(text)});
        else
            ++r.moreFindings;
    }
    void NotApplicable(const char* id, std::string why) {
        Result& r = Get(id);
        r.verdict = Verdict::NotApplicable;
        r.note = std::move(why);
    }
    void Note(const char* id, std::string note) { Get(id).note = std::move(note); }
    // Marks a check as run: it passes unless it found something.
    void Ran(const char* id) {
        Result& r = Get(id);
        if (r.verdict == Verdict::NotRun) r.verdict = Verdict::Pass;
    }
    bool Failed(const char* id) { return !Get(id).findings.empty(); }

    // Writes every check of the group that was run.
    void Finish(int group) {
        for (const CheckDef& def : Checks()) {
            if (def.group != group) continue;
            auto it = m_results.find(def.id);
            if (it == m_results.end()) continue;
            Result& r = it->second;
            if (!r.findings.empty()) r.verdict = Verdict::Fail;
            if (r.verdict == Verdict::NotRun) continue;
            nlohmann::json findings = nlohmann::json::array();
            for (const Finding& f : r.findings) findings.push_back({{"call", f.call}, {"text", f.text}});
            Line({{"type", "result"},
                  {"id", r.id},
                  {"verdict", VerdictName(r.verdict)},
                  {"note", r.note},
                  {"findings", findings},
                  {"more", r.moreFindings}});
        }
    }

private:
    Result& Get(const char* id) {
        Result& r = m_results[id];
        r.id = id;
        return r;
    }

    std::ofstream m_out;
    std::map<std::string, Result> m_results;
};

// --- The manager's entry point, as the source sees it ----------------------------

std::atomic<int> g_xferReady{0};
std::atomic<int> g_closeRequests{0};

TW_UINT16 ManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF) {
    if (dg != DG_CONTROL || dat != DAT_NULL) return TWRC_FAILURE;
    if (msg == MSG_XFERREADY) ++g_xferReady;
    if (msg == MSG_CLOSEDSREQ) ++g_closeRequests;
    return TWRC_SUCCESS;
}

int OpenFiles() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// What one enable of the source delivered.
struct Batch {
    bool enabled = false;
    bool ready = false;
    bool byCallback = false;
    int pages = 0;
    bool failed = false;  // a call of the batch failed
};

class Bench {
public:
    Bench(const PlanOptions& o, Recorder& rec) : m_options(o), m_rec(rec) {
        // A TWAIN 2 application: the source signals through the manager.
        m_app = session::AppIdentity("conformance run", "Conformance run", "tracelet-session --certify",
                            DG_CONTROL | DG_IMAGE | DF_APP2);
    }
    ~Bench() {
        if (m_library) dlclose(m_library);
    }

    int Run() {
        m_library = dlopen(m_options.dataSource.c_str(), RTLD_NOW | RTLD_LOCAL);
        m_entry = m_library ? reinterpret_cast<DSENTRYPROC>(dlsym(m_library, "DS_Entry")) : nullptr;
        if (!m_entry) {
            const char* why = dlerror();
            std::fprintf(stderr, "tracelet-session: cannot load %s: %s\n", m_options.dataSource.c_str(),
                         why ? why : "no DS_Entry");
            return 1;
        }
        Group(1, &Bench::Identity);
        Group(2, &Bench::Mandatory);
        Group(3, &Bench::EveryCapability);
        Group(4, &Bench::StatusGroup);
        Group(5, &Bench::Sequence);
        Group(6, &Bench::Transfers);
        Group(7, &Bench::Stress);
        if (m_open) Close();
        // The status after every failure is checked to the end of the run:
        // its result is written again, with what the later groups found.
        m_rec.Finish(4);
        m_rec.Ran("run.completes");
        m_rec.Finish(0);
        m_rec.Line({{"type", "end"}});
        return 0;
    }

private:
    void Group(int number, void (Bench::*body)()) {
        m_rec.Line({{"type", "group"}, {"group", number}});
        (this->*body)();
        m_rec.Finish(number);
    }

    // --- Calls ----------------------------------------------------------------------

    // One call through DS_Entry. `m_call` numbers the calls the trace lists
    // (every call but event polling and the application's own DAT_NULL).
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, pTW_IDENTITY origin) {
        if (msg != MSG_PROCESSEVENT && !(dat == DAT_NULL && msg == MSG_XFERREADY)) ++m_call;
        return m_entry(origin, dg, dat, msg, data);
    }

    // A call as the application makes it: after a failure it asks why, and
    // the answer is checked.
    TW_UINT16 Send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        const TW_UINT16 rc = Call(dg, dat, msg, data, &m_app);
        m_lastCall = m_call;
        m_lastCc = TWCC_SUCCESS;
        if (rc == TWRC_FAILURE) {
            const long failed = m_call;
            TW_STATUS status{};
            const TW_UINT16 src = Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status, &m_app);
            const TW_UINT16 cc = status.ConditionCode;
            m_lastCc = cc;
            m_rec.Ran("status.after-failure");
            if (src != TWRC_SUCCESS)
                m_rec.Fail("status.after-failure", m_call, "DAT_STATUS after the failure just before returned " +
                                                               RcName(src));
            else if (cc == TWCC_SUCCESS)
                m_rec.Fail("status.after-failure", m_call, "TWCC_SUCCESS after the failure just before");
            m_lastCall = failed;
        }
        return rc;
    }

    TW_UINT16 StatusNow(long* call) {
        TW_STATUS status{};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status, &m_app);
        *call = m_call;
        return rc == TWRC_SUCCESS ? TW_UINT16(status.ConditionCode) : TW_UINT16(0xffff);
    }

    struct Answer {
        TW_UINT16 rc = TWRC_FAILURE;
        TW_UINT16 cc = TWCC_SUCCESS;
        long call = 0;
        Container c;
        bool ok() const { return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS; }
    };

    Answer Cap(TW_UINT16 cap, TW_UINT16 msg) {
        TW_CAPABILITY data{};
        data.Cap = cap;
        data.ConType = TWON_DONTCARE16;
        Answer a;
        a.rc = Send(DG_CONTROL, DAT_CAPABILITY, msg, &data);
        a.call = m_lastCall;
        a.cc = m_lastCc;
        TW_HANDLE h = data.hContainer;
        if (a.ok() && h) a.c = ReadContainer(data.ConType, h);
        // The application owns what the source handed back.
        if (h) TwainDisposeHandle(h);
        return a;
    }

    // MSG_SET with a one-value container of the item.
    Answer SetCap(TW_UINT16 cap, TW_UINT16 type, const Item& item) {
        TW_CAPABILITY data{};
        data.Cap = cap;
        data.ConType = TWON_ONEVALUE;
        data.hContainer = TwainNewHandle(static_cast<TW_UINT32>(sizeof(TW_ONEVALUE) + item.size()));
        auto* p = static_cast<unsigned char*>(TwainLockHandle(data.hContainer));
        Answer a;
        if (!p) return a;
        std::memcpy(p + offsetof(TW_ONEVALUE, ItemType), &type, sizeof type);
        std::memcpy(p + offsetof(TW_ONEVALUE, Item), item.data(), item.size());
        TwainUnlockHandle(data.hContainer);
        a.rc = Send(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &data);
        a.call = m_lastCall;
        a.cc = m_lastCc;
        TwainDisposeHandle(data.hContainer);
        return a;
    }

    static Item Word(TW_UINT16 type, std::uint32_t value) {
        return Item(reinterpret_cast<const char*>(&value), std::min<std::size_t>(TwainItemSize(type), 4));
    }

    bool Supported(TW_UINT16 cap) const {
        return std::find(m_supported.begin(), m_supported.end(), cap) != m_supported.end();
    }

    // --- 1. Identity and opening ---------------------------------------------------

    bool Open() {
        m_source.Id = 2;
        const TW_UINT16 rc = Send(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &m_source);
        m_open = rc == TWRC_SUCCESS;
        return m_open;
    }

    bool Close() {
        const TW_UINT16 rc = Send(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &m_source);
        if (rc == TWRC_SUCCESS) m_open = false;
        return rc == TWRC_SUCCESS;
    }

    void Identity() {
        // What a manager asks first, with no origin.
        TW_IDENTITY id{};
        id.Id = 2;
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id, nullptr);
        m_rec.Ran("identity.get");
        if (rc != TWRC_SUCCESS)
            m_rec.Fail("identity.get", m_call, "returned " + RcName(rc));
        else if (!id.ProductName[0] || !id.Manufacturer[0])
            m_rec.Fail("identity.get", m_call, "no product name or no manufacturer");
        m_source = id;
        m_source.Id = 2;
        m_isImage = (id.SupportedGroups & DG_IMAGE) != 0;
        m_rec.Line({{"type", "source"},
                    {"name", std::string(id.ProductName)},
                    {"manufacturer", std::string(id.Manufacturer)},
                    {"family", std::string(id.ProductFamily)},
                    {"version", std::string(id.Version.Info)},
                    {"protocol", std::to_string(id.ProtocolMajor) + "." + std::to_string(id.ProtocolMinor)}});

        if (id.SupportedGroups & DF_DS2) {
            // The manager's memory functions are the handle functions every
            // part of this program uses.
            TW_ENTRYPOINT entry{sizeof(TW_ENTRYPOINT), ManagerEntry, TwainNewHandle, TwainDisposeHandle,
                                TwainLockHandle, TwainUnlockHandle};
            Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry, &m_app);
        }

        m_rec.Ran("identity.open");
        if (!Open()) {
            m_rec.Fail("identity.open", m_lastCall, "refused with " + CcName(m_lastCc));
            return;
        }
        m_rec.Ran("identity.close");
        if (!Close()) {
            m_rec.Fail("identity.close", m_lastCall, "refused with " + CcName(m_lastCc));
            return;
        }
        m_rec.Ran("identity.reopen");
        if (!Open()) m_rec.Fail("identity.reopen", m_lastCall, "refused with " + CcName(m_lastCc));
    }

    // The groups below need an open source; without one they are not run.
    bool NeedOpen() const { return m_open; }

    // --- 2. Mandatory capabilities -----------------------------------------------------

    // Each message on the capability answers; MSG_SET sets the current value.
    void AllMessages(const char* check, TW_UINT16 cap, bool withSetAndReset) {
        m_rec.Ran(check);
        for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
            const Answer a = Cap(cap, msg);
            if (!a.ok()) {
                m_rec.Fail(check, a.call, CapName(cap) + " " + MsgName(msg) + " failed with " + CcName(a.cc));
                continue;
            }
            if (msg == MSG_GETCURRENT && withSetAndReset && a.c.One()) {
                const Answer s = SetCap(cap, a.c.itemType, *a.c.One());
                if (!s.ok())
                    m_rec.Fail(check, s.call, CapName(cap) + " MSG_SET of its current value failed with " +
                                                  CcName(s.cc));
            }
        }
        if (!withSetAndReset) return;
        const Answer r = Cap(cap, MSG_RESET);
        if (!r.ok()) m_rec.Fail(check, r.call, CapName(cap) + " MSG_RESET failed with " + CcName(r.cc));
    }

    void Mandatory() {
        if (!NeedOpen()) return;
        AllMessages("mandatory.xfercount", CAP_XFERCOUNT, true);
        m_rec.Ran("mandatory.lists");
        const Answer caps = Cap(CAP_SUPPORTEDCAPS, MSG_GET);
        if (!caps.ok())
            m_rec.Fail("mandatory.lists", caps.call, "CAP_SUPPORTEDCAPS MSG_GET failed with " + CcName(caps.cc));
        for (const Item& i : caps.c.items) m_supported.push_back(static_cast<TW_UINT16>(ItemWord(i)));
        const Answer ui = Cap(CAP_UICONTROLLABLE, MSG_GET);
        if (!ui.ok())
            m_rec.Fail("mandatory.lists", ui.call, "CAP_UICONTROLLABLE MSG_GET failed with " + CcName(ui.cc));
        if (!m_isImage) {
            m_rec.NotApplicable("mandatory.image-read", "not an image source (no DG_IMAGE)");
            m_rec.NotApplicable("mandatory.image-all", "not an image source (no DG_IMAGE)");
            return;
        }
        for (TW_UINT16 cap : {ICAP_COMPRESSION, ICAP_PLANARCHUNKY, ICAP_PHYSICALHEIGHT, ICAP_PHYSICALWIDTH,
                              ICAP_PIXELFLAVOR})
            AllMessages("mandatory.image-read", cap, false);
        for (TW_UINT16 cap : {ICAP_BITDEPTH, ICAP_BITORDER, ICAP_PIXELTYPE, ICAP_UNITS, ICAP_XFERMECH,
                              ICAP_XRESOLUTION, ICAP_YRESOLUTION})
            AllMessages("mandatory.image-all", cap, true);
    }

    // --- 3. Every supported capability ------------------------------------------------

    static int StandardType(TW_UINT16 cap) {
        switch (cap) {
        case CAP_XFERCOUNT: return TWTY_INT16;
        case CAP_UICONTROLLABLE: return TWTY_BOOL;
        case CAP_SUPPORTEDCAPS:
        case ICAP_XFERMECH:
        case ICAP_PIXELTYPE:
        case ICAP_UNITS:
        case ICAP_BITDEPTH:
        case ICAP_BITORDER:
        case ICAP_COMPRESSION:
        case ICAP_PLANARCHUNKY:
        case ICAP_PIXELFLAVOR: return TWTY_UINT16;
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION:
        case ICAP_PHYSICALWIDTH:
        case ICAP_PHYSICALHEIGHT: return TWTY_FIX32;
        default: return -1;
        }
    }

    // The values MSG_SET is tried with: every offered one, or a range's ends
    // and one step.
    static std::vector<Item> Offered(const Container& c) {
        if (c.conType == TWON_RANGE) {
            std::vector<Item> v{c.minValue, c.maxValue};
            const Item next = Add(c.itemType, c.minValue, c.stepSize);
            if (Number(c.itemType, c.stepSize) > 0 && Number(c.itemType, next) < Number(c.itemType, c.maxValue))
                v.push_back(next);
            return v;
        }
        if (c.conType == TWON_ARRAY) return {};  // a list is set as a whole
        return c.items;
    }

    static bool IsOffered(const Container& get, const Item& value) {
        if (get.conType == TWON_RANGE) {
            const double v = Number(get.itemType, value);
            return v >= Number(get.itemType, get.minValue) && v <= Number(get.itemType, get.maxValue);
        }
        return std::find(get.items.begin(), get.items.end(), value) != get.items.end();
    }

    void EveryCapability() {
        if (!NeedOpen()) return;
        for (const char* id : {"caps.querysupport", "caps.itemtype", "caps.container", "caps.standard-types",
                               "caps.current-offered", "caps.set", "caps.reset", "caps.resetall"})
            m_rec.Ran(id);
        int settable = 0;
        std::vector<std::tuple<TW_UINT16, TW_UINT16, Item>> originals, moved;
        for (TW_UINT16 cap : m_supported) {
            const std::string name = CapName(cap);
            const Answer qs = Cap(cap, MSG_QUERYSUPPORT);
            TW_INT32 ops = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
            if (!qs.ok() || !qs.c.One() || qs.c.itemType != TWTY_INT32) {
                m_rec.Fail("caps.querysupport", qs.call,
                           name + ": MSG_QUERYSUPPORT " +
                               (qs.ok() ? "did not answer a TW_ONEVALUE of TWTY_INT32" : "failed with " + CcName(qs.cc)));
            } else {
                ops = static_cast<TW_INT32>(ItemWord(*qs.c.One()));
            }
            m_queryOps[cap] = ops;
            const Answer get = Cap(cap, MSG_GET);
            const Answer cur = Cap(cap, MSG_GETCURRENT);
            const Answer def = Cap(cap, MSG_GETDEFAULT);
            const struct {
                TW_INT32 flag;
                const Answer* a;
                TW_UINT16 msg;
            } claims[] = {{TWQC_GET, &get, MSG_GET}, {TWQC_GETCURRENT, &cur, MSG_GETCURRENT},
                          {TWQC_GETDEFAULT, &def, MSG_GETDEFAULT}};
            for (const auto& k : claims)
                if ((ops & k.flag) && !k.a->ok())
                    m_rec.Fail("caps.querysupport", k.a->call,
                               name + ": MSG_QUERYSUPPORT claims " + MsgName(k.msg) + ", which failed with " +
                                   CcName(k.a->cc));
            if (!get.ok() || !cur.ok() || !def.ok()) continue;

            if (cur.c.itemType != get.c.itemType || def.c.itemType != get.c.itemType)
                m_rec.Fail("caps.itemtype", cur.c.itemType != get.c.itemType ? cur.call : def.call,
                           name + ": MSG_GET gives " + TypeName(get.c.itemType) + ", MSG_GETCURRENT " +
                               TypeName(cur.c.itemType) + ", MSG_GETDEFAULT " + TypeName(def.c.itemType));
            const TW_UINT16 oneCon = get.c.conType == TWON_ARRAY ? TW_UINT16(TWON_ARRAY) : TW_UINT16(TWON_ONEVALUE);
            for (const Answer* a : {&cur, &def})
                if (a->c.conType != oneCon)
                    m_rec.Fail("caps.container", a->call,
                               name + ": " + (a == &cur ? "MSG_GETCURRENT" : "MSG_GETDEFAULT") + " answered in " +
                                   ConName(a->c.conType) + ", not " + ConName(oneCon));
            const int standard = StandardType(cap);
            if (standard >= 0 && get.c.itemType != standard)
                m_rec.Fail("caps.standard-types", get.call,
                           name + " is " + TypeName(get.c.itemType) + ", not " + TypeName(TW_UINT16(standard)));
            if (cap == CAP_SUPPORTEDCAPS && get.c.conType != TWON_ARRAY)
                m_rec.Fail("caps.standard-types", get.call, name + " answered in " + ConName(get.c.conType) +
                                                                ", not TWON_ARRAY");
            if (!get.c.readable || !cur.c.readable || !def.c.readable) continue;
            if (cur.c.One() && get.c.conType != TWON_ARRAY && !IsOffered(get.c, *cur.c.One()))
                m_rec.Fail("caps.current-offered", cur.call,
                           name + ": the current value " + ItemText(cur.c.itemType, *cur.c.One(), cap) +
                               " is not among what MSG_GET offers");

            if (!(ops & TWQC_SET) || !cur.c.One()) continue;
            ++settable;
            const Item original = *cur.c.One();
            bool changed = false;
            for (const Item& value : Offered(get.c)) {
                const Answer s = SetCap(cap, get.c.itemType, value);
                if (!s.ok()) {
                    m_rec.Fail("caps.set", s.call, name + ": MSG_SET of the offered " +
                                                       ItemText(get.c.itemType, value, cap) + " failed with " +
                                                       CcName(s.cc));
                    continue;
                }
                const Answer back = Cap(cap, MSG_GETCURRENT);
                // TWRC_CHECKSTATUS: the source took a value close to it.
                if (s.rc == TWRC_SUCCESS && back.ok() && back.c.One() && *back.c.One() != value)
                    m_rec.Fail("caps.set", back.call, name + ": set to " + ItemText(get.c.itemType, value, cap) +
                                                          ", MSG_GETCURRENT gives " +
                                                          ItemText(get.c.itemType, *back.c.One(), cap));
                if (def.c.One() && value != *def.c.One() && !changed) {
                    changed = true;
                    moved.push_back({cap, get.c.itemType, value});
                }
            }
            if ((ops & TWQC_RESET) && changed && HeldToDefault(cap)) {
                // Leave a value other than the default, then reset it.
                for (const Item& value : Offered(get.c)) {
                    if (value == *def.c.One()) continue;
                    SetCap(cap, get.c.itemType, value);
                    break;
                }
                const Answer r = Cap(cap, MSG_RESET);
                const Answer after = Cap(cap, MSG_GETCURRENT);
                if (!r.ok())
                    m_rec.Fail("caps.reset", r.call, name + ": MSG_RESET failed with " + CcName(r.cc));
                else if (after.ok() && after.c.One() && *after.c.One() != *def.c.One())
                    m_rec.Fail("caps.reset", after.call, name + ": after MSG_RESET, MSG_GETCURRENT gives " +
                                                             ItemText(get.c.itemType, *after.c.One(), cap) +
                                                             ", MSG_GETDEFAULT " +
                                                             ItemText(get.c.itemType, *def.c.One(), cap));
            }
            // Restore what it was.
            SetCap(cap, get.c.itemType, original);
            originals.push_back({cap, get.c.itemType, original});
        }
        if (!settable) m_rec.NotApplicable("caps.set", "no capability takes MSG_SET");
        // MSG_RESETALL must have something to undo: every capability that
        // took a value other than its default is left at it.
        for (const auto& [cap, type, value] : moved) SetCap(cap, type, value);
        ResetAll();
        for (const auto& [cap, type, value] : originals) SetCap(cap, type, value);
    }

    // Whether MSG_RESET and MSG_RESETALL must bring the capability back to its
    // default: not when TWAIN lets an application only read it (a feeder's
    // paper sensor), nor when its MSG_QUERYSUPPORT offers neither MSG_SET nor
    // MSG_RESET.
    bool HeldToDefault(TW_UINT16 cap) {
        if (twnames::ReadOnly(cap)) return false;
        auto it = m_queryOps.find(cap);
        if (it == m_queryOps.end()) {
            const Answer qs = Cap(cap, MSG_QUERYSUPPORT);
            const TW_INT32 ops = qs.ok() && qs.c.One() ? static_cast<TW_INT32>(ItemWord(*qs.c.One())) : 0;
            it = m_queryOps.emplace(cap, ops).first;
        }
        return (it->second & (TWQC_SET | TWQC_RESET)) != 0;
    }

    void ResetAll() {
        TW_CAPABILITY all{};
        all.Cap = CAP_SUPPORTEDCAPS;
        all.ConType = TWON_DONTCARE16;
        const TW_UINT16 rc = Send(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all);
        if (all.hContainer) TwainDisposeHandle(all.hContainer);
        if (rc == TWRC_FAILURE) {
            m_rec.Fail("caps.resetall", m_lastCall, "MSG_RESETALL failed with " + CcName(m_lastCc));
            return;
        }
        for (TW_UINT16 cap : m_supported) {
            if (!HeldToDefault(cap)) continue;
            const Answer cur = Cap(cap, MSG_GETCURRENT);
            const Answer def = Cap(cap, MSG_GETDEFAULT);
            if (cur.ok() && def.ok() && cur.c.One() && def.c.One() && *cur.c.One() != *def.c.One())
                m_rec.Fail("caps.resetall", cur.call, CapName(cap) + ": after MSG_RESETALL, MSG_GETCURRENT gives " +
                                                          ItemText(cur.c.itemType, *cur.c.One(), cap) +
                                                          ", MSG_GETDEFAULT " + ItemText(def.c.itemType, *def.c.One(), cap));
        }
    }

    // --- 4. Status -----------------------------------------------------------------------

    void Refused(const Answer& a, const std::string& what) {
        m_rec.Ran("status.refused-capability");
        if (a.rc != TWRC_FAILURE) return;
        if (a.cc != TWCC_CAPUNSUPPORTED && a.cc != TWCC_BADVALUE && a.cc != TWCC_CAPBADOPERATION)
            m_rec.Fail("status.refused-capability", a.call, what + " was refused with " + CcName(a.cc));
        // A success right after: the condition code must not stay.
        const Answer ok = Cap(CAP_XFERCOUNT, MSG_GETCURRENT);
        if (!ok.ok()) return;
        long call = 0;
        const TW_UINT16 cc = StatusNow(&call);
        m_rec.Ran("status.after-success");
        if (cc != TWCC_SUCCESS)
            m_rec.Fail("status.after-success", call, "after a failure with " + CcName(a.cc) +
                                                         " and the success just before, DAT_STATUS gives " + CcName(cc));
    }

    void StatusGroup() {
        if (!NeedOpen()) return;
        for (TW_UINT16 cap : {TW_UINT16(CAP_DEVICEONLINE), TW_UINT16(CAP_LANGUAGE), TW_UINT16(0x7fff)}) {
            if (Supported(cap)) continue;
            Refused(Cap(cap, MSG_GET), "MSG_GET of the unlisted " + CapName(cap));
            break;
        }
        if (Supported(ICAP_PIXELTYPE))
            Refused(SetCap(ICAP_PIXELTYPE, TWTY_UINT16, Word(TWTY_UINT16, 0x7fff)), "ICAP_PIXELTYPE = 32767");
        for (TW_UINT16 cap : m_supported) {
            const Answer qs = Cap(cap, MSG_QUERYSUPPORT);
            if (!qs.ok() || !qs.c.One() || (ItemWord(*qs.c.One()) & TWQC_SET)) continue;
            const Answer cur = Cap(cap, MSG_GETCURRENT);
            if (!cur.ok() || !cur.c.One()) continue;
            Refused(SetCap(cap, cur.c.itemType, *cur.c.One()), "MSG_SET of the read-only " + CapName(cap));
            break;
        }
    }

    // --- 5. Sequence -----------------------------------------------------------------------

    struct OutOfTurn {
        int state;
        TW_UINT32 dg;
        TW_UINT16 dat, msg;
        const char *dgName, *datName, *msgName;
    };

    void SendOutOfTurn(int state) {
#define CERTIFY_TRIPLET(s, dg, dat, msg) {s, dg, dat, msg, #dg, #dat, #msg}
        static const OutOfTurn table[] = {
            CERTIFY_TRIPLET(6, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS),
            CERTIFY_TRIPLET(6, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS),
            CERTIFY_TRIPLET(6, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET),
            CERTIFY_TRIPLET(5, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET),
            CERTIFY_TRIPLET(5, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS),
            CERTIFY_TRIPLET(5, DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
            CERTIFY_TRIPLET(5, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
            CERTIFY_TRIPLET(4, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
            CERTIFY_TRIPLET(4, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET),
            CERTIFY_TRIPLET(4, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS),
            CERTIFY_TRIPLET(4, DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
        };
#undef CERTIFY_TRIPLET
        const tracelet::trace::ValidStates& valid = tracelet::trace::ValidStates::builtin();
        for (const OutOfTurn& t : table) {
            if (t.state != state) continue;
            const tracelet::trace::TripletStates* allowed = valid.find(t.dgName, t.datName, t.msgName);
            if (!allowed || allowed->allows(state)) continue;
            // Each with a structure a source would take in the right state.
            union {
                TW_USERINTERFACE ui;
                TW_IDENTITY id;
                TW_IMAGELAYOUT layout;
                TW_IMAGEINFO info;
                TW_PENDINGXFERS px;
            } data;
            std::memset(&data, 0, sizeof data);
            if (t.dat == DAT_IMAGELAYOUT) data.layout = m_layout;
            if (t.dat == DAT_IDENTITY) data.id = m_source;
            const TW_UINT16 rc = Send(t.dg, t.dat, t.msg, &data);
            m_rec.Ran("sequence.seqerror");
            const std::string what = std::string(t.datName) + "/" + t.msgName + " in state " + std::to_string(state);
            if (rc != TWRC_FAILURE)
                m_rec.Fail("sequence.seqerror", m_lastCall, what + " returned " + RcName(rc));
            else if (m_lastCc != TWCC_SEQERROR)
                m_rec.Fail("sequence.seqerror", m_lastCall, what + " failed with " + CcName(m_lastCc));
        }
    }

    void Usable(TW_UINT16 rc, const std::string& what) {
        m_rec.Ran("sequence.usable");
        if (rc != TWRC_SUCCESS)
            m_rec.Fail("sequence.usable", m_lastCall, what + " failed afterwards with " + CcName(m_lastCc));
    }

    void Sequence() {
        if (!NeedOpen()) return;
        Send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &m_layout);
        SendOutOfTurn(4);
        Answer a = Cap(CAP_XFERCOUNT, MSG_GET);
        Usable(a.rc, "CAP_XFERCOUNT MSG_GET");
        SetCap(CAP_XFERCOUNT, TWTY_INT16, Word(TWTY_INT16, 1));
        const Batch b = Enable();
        if (!b.enabled) {
            Usable(TWRC_FAILURE, "MSG_ENABLEDS");
            return;
        }
        if (b.ready) {
            SendOutOfTurn(6);
            TW_PENDINGXFERS px{};
            Usable(Send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px), "DAT_PENDINGXFERS/MSG_RESET");
        }
        SendOutOfTurn(5);
        Usable(Disable(), "MSG_DISABLEDS");
        Usable(Close() ? TWRC_SUCCESS : TWRC_FAILURE, "MSG_CLOSEDS");
        Usable(Open() ? TWRC_SUCCESS : TWRC_FAILURE, "MSG_OPENDS");
    }

    // --- Enabling and transfers ---------------------------------------------------------

    Batch Enable() {
        Batch b;
        const int before = g_xferReady;
        TW_USERINTERFACE ui{};
        ui.ShowUI = 0;
        ui.ModalUI = 0;
        const TW_UINT16 rc = Send(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
        if (rc == TWRC_FAILURE) return b;
        b.enabled = true;
        // The notification may come from inside the call, later from a thread
        // of the source's, or, from an older source, through event polling.
        const auto deadline = std::chrono::steady_clock::now() + kReadyWait;
        unsigned char platformEvent[32] = {};
        while (std::chrono::steady_clock::now() < deadline) {
            if (g_xferReady != before) {
                b.ready = b.byCallback = true;
                return b;
            }
            TW_EVENT event{};
            event.pEvent = platformEvent;
            if (Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, &m_app) == TWRC_DSEVENT &&
                event.TWMessage == MSG_XFERREADY) {
                b.ready = true;
                return b;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return b;
    }

    TW_UINT16 Disable() {
        TW_USERINTERFACE ui{};
        return Send(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }

    // The lowest resolution the source offers, so that pages are quick.
    void SmallPages() {
        for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
            const Answer get = Cap(cap, MSG_GET);
            if (!get.ok() || !get.c.readable) continue;
            const std::vector<Item> values = Offered(get.c);
            if (values.empty()) continue;
            const Item lowest = *std::min_element(values.begin(), values.end(), [&](const Item& a, const Item& b) {
                return Number(get.c.itemType, a) < Number(get.c.itemType, b);
            });
            SetCap(cap, get.c.itemType, lowest);
        }
    }

    // One page by memory: the strips are checked against the image info
    // when `check` is set.
    bool MemoryPage(const TW_IMAGEINFO& info, bool check) {
        TW_SETUPMEMXFER setup{};
        if (Send(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) return false;
        const TW_UINT32 minimum = setup.MinBufSize, preferred = setup.Preferred, maximum = setup.MaxBufSize;
        TW_UINT32 size = preferred != 0xffffffffu && preferred ? preferred : std::max<TW_UINT32>(minimum, 64 * 1024);
        if (maximum != 0xffffffffu && maximum && size > maximum) size = maximum;
        std::vector<unsigned char> buffer(std::max<TW_UINT32>(size, 1));
        const std::int64_t width = info.ImageWidth, length = info.ImageLength, bits = info.BitsPerPixel;
        const TW_UINT16 compression = info.Compression;
        const std::uint64_t rowBytes = (std::uint64_t(std::max<std::int64_t>(width, 0)) * bits + 7) / 8;
        std::uint64_t rows = 0, nextRow = 0;  // rows the strips said they hold; where the next one starts
        for (std::int64_t guard = 0; guard <= std::max<std::int64_t>(length, 0) + 1; ++guard) {
            TW_IMAGEMEMXFER x = session::MemXferRequest(buffer.data(), static_cast<TW_UINT32>(buffer.size()));
            const TW_UINT16 rc = Send(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
            if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
                if (check)
                    m_rec.Fail("transfer.memory", m_lastCall, "a strip " + (rc == TWRC_FAILURE ? "failed with " +
                                                                            CcName(m_lastCc) : "returned " + RcName(rc)));
                return false;
            }
            const TW_UINT32 columns = x.Columns, bytesPerRow = x.BytesPerRow, stripRows = x.Rows,
                            yOffset = x.YOffset, written = x.BytesWritten;
            const TW_UINT16 stripCompression = x.Compression;
            if (check) {
                if (columns != width || stripCompression != compression || bytesPerRow < rowBytes)
                    m_rec.Fail("transfer.memory", m_lastCall,
                               "the strip has " + std::to_string(columns) + " columns of " +
                                   std::to_string(bytesPerRow) + " bytes, compression " +
                                   std::to_string(stripCompression) + "; DAT_IMAGEINFO says " +
                                   std::to_string(width) + " columns of " + std::to_string(rowBytes) +
                                   " bytes, compression " + std::to_string(compression));
                if (yOffset != nextRow)
                    m_rec.Fail("transfer.strips", m_lastCall, "the strip starts at row " + std::to_string(yOffset) +
                                                                  ", the strips before it end at row " +
                                                                  std::to_string(nextRow));
                if (written > buffer.size() ||
                    (compression == TWCP_NONE && std::uint64_t(written) != std::uint64_t(stripRows) * bytesPerRow))
                    m_rec.Fail("transfer.strips", m_lastCall,
                               std::to_string(written) + " bytes written for " + std::to_string(stripRows) +
                                   " rows of " + std::to_string(bytesPerRow) + " bytes in a buffer of " +
                                   std::to_string(buffer.size()));
            }
            rows += stripRows;
            nextRow = std::uint64_t(yOffset) + stripRows;
            if (rc == TWRC_XFERDONE) {
                if (check && compression == TWCP_NONE && rows != std::uint64_t(length))
                    m_rec.Fail("transfer.strips", m_lastCall, "the strips hold " + std::to_string(rows) +
                                                                  " rows; DAT_IMAGEINFO says " +
                                                                  std::to_string(length));
                return true;
            }
        }
        if (check) m_rec.Fail("transfer.strips", m_lastCall, "more strips than the page has rows");
        return false;
    }

    bool NativePage(bool check) {
        TW_HANDLE handle = nullptr;
        const TW_UINT16 rc = Send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
        if (handle) TwainDisposeHandle(handle);  // the application owns it
        if (check && rc != TWRC_XFERDONE)
            m_rec.Fail("transfer.native", m_lastCall,
                       rc == TWRC_FAILURE ? "failed with " + CcName(m_lastCc) : "returned " + RcName(rc));
        else if (check && !handle)
            m_rec.Fail("transfer.native", m_lastCall, "TWRC_XFERDONE without a handle");
        return rc == TWRC_XFERDONE && handle;
    }

    bool FilePage(int page, bool check) {
        TW_SETUPFILEXFER setup{};
        Send(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &setup);
        const std::string path = m_options.workDir + "/file-transfer-" + std::to_string(++m_files) + ".img";
        std::snprintf(setup.FileName, sizeof setup.FileName, "%s", path.c_str());
        if (Send(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup) == TWRC_FAILURE) {
            if (check) m_rec.Fail("transfer.file", m_lastCall, "the file name was refused with " + CcName(m_lastCc));
            return false;
        }
        const TW_UINT16 rc = Send(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        const bool written = file && file.tellg() > 0;
        if (check && rc != TWRC_XFERDONE)
            m_rec.Fail("transfer.file", m_lastCall,
                       rc == TWRC_FAILURE ? "failed with " + CcName(m_lastCc) : "returned " + RcName(rc));
        else if (check && !written)
            m_rec.Fail("transfer.file", m_lastCall, "page " + std::to_string(page) + ": " + path + " is missing or empty");
        return rc == TWRC_XFERDONE && written;
    }

    // Transfers the pages of one enabled batch; with `limit` -1 it stops
    // after the first page with MSG_RESET.
    void TransferBatch(TW_UINT16 mech, int limit, const char* check, Batch* b) {
        long lastCount = -2;  // -2: none yet
        for (int page = 1; page <= 10; ++page) {
            TW_IMAGEINFO info{};
            if (Send(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
                if (check) m_rec.Fail(check, m_lastCall, "DAT_IMAGEINFO failed with " + CcName(m_lastCc));
                b->failed = true;
                break;
            }
            const bool done = mech == TWSX_MEMORY ? MemoryPage(info, check != nullptr)
                              : mech == TWSX_NATIVE ? NativePage(check != nullptr)
                                                    : FilePage(page, check != nullptr);
            if (done) ++b->pages;
            b->failed |= !done;
            TW_PENDINGXFERS px{};
            if (Send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &px) != TWRC_SUCCESS) {
                if (check) m_rec.Fail("transfer.endxfer", m_lastCall, "MSG_ENDXFER failed with " + CcName(m_lastCc));
                b->failed = true;
                break;
            }
            const long count = px.Count;
            if (check) {
                if (count != 0xffff && lastCount >= 0 && lastCount != 0xffff && count >= lastCount)
                    m_rec.Fail("transfer.endxfer", m_lastCall, "Count " + std::to_string(count) + " after " +
                                                                   std::to_string(lastCount));
                if (limit > 0 && page == limit && count != 0)
                    m_rec.Fail("transfer.endxfer", m_lastCall, "Count " + std::to_string(count) + " after the " +
                                                                   std::to_string(limit) + " pages of CAP_XFERCOUNT");
            }
            lastCount = count;
            if (count == 0) break;
            if (limit < 0 || page == limit) {
                Send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px);
                break;
            }
        }
        if (check && limit > 0 && b->pages != limit && !b->failed)
            m_rec.Fail(check, m_lastCall, std::to_string(b->pages) + " pages with CAP_XFERCOUNT " +
                                              std::to_string(limit));
    }

    void Transfers() {
        if (!NeedOpen()) return;
        const Answer mechs = Cap(ICAP_XFERMECH, MSG_GET);
        const struct {
            TW_UINT16 mech;
            const char* check;
            const char* name;
        } mechanisms[] = {{TWSX_MEMORY, "transfer.memory", "memory"},
                          {TWSX_NATIVE, "transfer.native", "native"},
                          {TWSX_FILE, "transfer.file", "file"}};
        SmallPages();
        bool memory = false, any = false;
        for (const auto& m : mechanisms) {
            const bool offered = mechs.ok() && IsOffered(mechs.c, Word(TWTY_UINT16, m.mech));
            if (!offered) {
                m_rec.NotApplicable(m.check, std::string("the source offers no ") + m.name + " transfer");
                continue;
            }
            m_rec.Ran(m.check);
            any = true;
            memory |= m.mech == TWSX_MEMORY;
            for (int count : {1, 2, -1}) {
                const Answer s = SetCap(ICAP_XFERMECH, TWTY_UINT16, Word(TWTY_UINT16, m.mech));
                const Answer c = SetCap(CAP_XFERCOUNT, TWTY_INT16, Word(TWTY_INT16, std::uint32_t(count)));
                if (!s.ok() || !c.ok()) {
                    m_rec.Fail(m.check, !s.ok() ? s.call : c.call,
                               std::string("the source refused ") + (!s.ok() ? "ICAP_XFERMECH" : "CAP_XFERCOUNT"));
                    continue;
                }
                Batch b = Enable();
                m_rec.Ran("transfer.notification");
                m_rec.Ran("transfer.endxfer");
                if (!b.enabled) {
                    m_rec.Fail(m.check, m_lastCall, "MSG_ENABLEDS failed with " + CcName(m_lastCc));
                    continue;
                }
                if (!b.ready)
                    m_rec.Fail("transfer.notification", m_lastCall, "no transfer ready after MSG_ENABLEDS");
                else if (!b.byCallback)
                    m_rec.Fail("transfer.notification", m_lastCall,
                               "transfer ready came through DAT_EVENT, not the manager entry point");
                if (b.ready) TransferBatch(m.mech, count, m.check, &b);
                Disable();
            }
        }
        if (any) m_rec.Ran("transfer.notification");
        if (memory) m_rec.Ran("transfer.strips");
        if (!memory) m_rec.NotApplicable("transfer.strips", "the source offers no memory transfer");
        if (!any) {
            m_rec.NotApplicable("transfer.notification", "the source offers no transfer");
            m_rec.NotApplicable("transfer.endxfer", "the source offers no transfer");
        }
        ResetAll();
    }

    // --- 7. Stress -------------------------------------------------------------------------

    void Stress() {
        if (!NeedOpen()) return;
        const Answer mechs = Cap(ICAP_XFERMECH, MSG_GET);
        const TW_UINT16 mech = mechs.ok() && IsOffered(mechs.c, Word(TWTY_UINT16, TWSX_MEMORY)) ? TW_UINT16(TWSX_MEMORY)
                                                                                              : TW_UINT16(TWSX_NATIVE);
        Close();
        int filesAfterFirst = 0, filesAfterLast = 0;
        long rssAfterFirst = 0, rssAfterLast = 0;
        int failedCycles = 0;
        const int cycles = std::max(2, m_options.stressCycles);
        m_rec.Ran("stress.cycles");
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            bool ok = Open();
            long failedCall = ok ? 0 : m_lastCall;
            if (ok) {
                SetCap(ICAP_XFERMECH, TWTY_UINT16, Word(TWTY_UINT16, mech));
                SetCap(CAP_XFERCOUNT, TWTY_INT16, Word(TWTY_INT16, 1));
                SmallPages();
                Batch b = Enable();
                if (b.ready) TransferBatch(mech, 1, nullptr, &b);
                ok = b.enabled && b.ready && !b.failed && b.pages == 1;
                if (!ok) failedCall = m_lastCall;
                if (b.enabled && Disable() != TWRC_SUCCESS) ok = false;
                if (!Close()) ok = false;
                if (!ok && !failedCall) failedCall = m_lastCall;
            }
            if (!ok) {
                ++failedCycles;
                m_rec.Fail("stress.cycles", failedCall, "cycle " + std::to_string(cycle) + " failed");
                if (m_open) Close();
            }
            if (cycle == 1) {
                filesAfterFirst = OpenFiles();
                rssAfterFirst = ResidentBytes();
            }
        }
        filesAfterLast = OpenFiles();
        rssAfterLast = ResidentBytes();
        m_rec.Note("stress.cycles", std::to_string(cycles) + " cycles, " + std::to_string(failedCycles) + " failed");
        m_rec.Ran("stress.files");
        const std::string files = std::to_string(filesAfterFirst) + " open files after cycle 1, " +
                                  std::to_string(filesAfterLast) + " after cycle " + std::to_string(cycles);
        m_rec.Note("stress.files", files);
        if (filesAfterLast > filesAfterFirst) m_rec.Fail("stress.files", m_lastCall, files);
#ifdef CERTIFY_UNDER_SANITIZER
        (void)rssAfterFirst;
        (void)rssAfterLast;
        m_rec.NotApplicable("stress.memory", "a sanitizer build: its allocator keeps freed memory");
#else
        m_rec.Ran("stress.memory");
        const long grown = rssAfterLast - rssAfterFirst;
        const std::string rss = "resident memory " + std::to_string(rssAfterFirst / 1024) + " KiB after cycle 1, " +
                                std::to_string(rssAfterLast / 1024) + " KiB after cycle " + std::to_string(cycles);
        m_rec.Note("stress.memory", rss);
        if (grown > kRssToleranceBytes) m_rec.Fail("stress.memory", m_lastCall, rss);
#endif
        Open();
    }

    const PlanOptions& m_options;
    Recorder& m_rec;
    void* m_library = nullptr;
    DSENTRYPROC m_entry = nullptr;
    TW_IDENTITY m_app{};
    TW_IDENTITY m_source{};
    TW_IMAGELAYOUT m_layout{};
    bool m_open = false;
    bool m_isImage = true;
    std::vector<TW_UINT16> m_supported;
    std::map<TW_UINT16, TW_INT32> m_queryOps;  // what each capability's MSG_QUERYSUPPORT offers
    long m_call = 0;
    long m_lastCall = 0;
    TW_UINT16 m_lastCc = TWCC_SUCCESS;
    int m_files = 0;
};

}  // namespace

int RunPlan(const PlanOptions& options) {
    Recorder rec(options.resultsPath);
    Bench bench(options, rec);
    return bench.Run();
}

}  // namespace certify
