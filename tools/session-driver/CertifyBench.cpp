#include "CertifyBench.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "Session.h"
#include "tracelet/twain_memory.h"

namespace certify {

namespace {

// How long a source may take to say a page is ready after it was enabled.
constexpr auto kReadyWait = std::chrono::seconds(5);

std::atomic<int> g_xferReady{0};
std::atomic<int> g_closeRequests{0};

}  // namespace

// --- The checks' results ------------------------------------------------------------

void Recorder::Line(const nlohmann::json& j) {
    m_out << j.dump() << '\n';
    m_out.flush();
}

void Recorder::Fail(const char* id, long call, std::string text) {
    Result& r = Get(id);
    if (r.findings.size() < kFindingsKept)
        r.findings.push_back({call, std::move(text)});
    else
        ++r.moreFindings;
}

void Recorder::NotApplicable(const char* id, std::string why) {
    Result& r = Get(id);
    r.verdict = Verdict::NotApplicable;
    r.note = std::move(why);
}

void Recorder::Ran(const char* id) {
    Result& r = Get(id);
    if (r.verdict == Verdict::NotRun) r.verdict = Verdict::Pass;
}

void Recorder::Finish(int group) {
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

Result& Recorder::Get(const char* id) {
    Result& r = m_results[id];
    r.id = id;
    return r;
}

// --- The manager's entry point, as the source sees it ----------------------------

TW_UINT16 ManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF) {
    if (dg != DG_CONTROL || dat != DAT_NULL) return TWRC_FAILURE;
    if (msg == MSG_XFERREADY) ++g_xferReady;
    if (msg == MSG_CLOSEDSREQ) ++g_closeRequests;
    return TWRC_SUCCESS;
}

// --- The bench ------------------------------------------------------------------------

Bench::Bench(const PlanOptions& o, Recorder& rec) : m_options(o), m_rec(rec) {
    // A TWAIN 2 application: the source signals through the manager.
    m_app = session::AppIdentity("conformance run", "Conformance run", "tracelet-session --certify",
                                 DG_CONTROL | DG_IMAGE | DF_APP2);
}

Bench::~Bench() {
    if (m_library) dlclose(m_library);
}

// One call through DS_Entry. `m_call` numbers the calls the trace lists
// (every call but event polling and the application's own DAT_NULL).
TW_UINT16 Bench::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, pTW_IDENTITY origin) {
    if (msg != MSG_PROCESSEVENT && !(dat == DAT_NULL && msg == MSG_XFERREADY)) ++m_call;
    return m_entry(origin, dg, dat, msg, data);
}

// A call as the application makes it: after a failure it asks why, and
// the answer is checked.
TW_UINT16 Bench::Send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
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

TW_UINT16 Bench::StatusNow(long* call) {
    TW_STATUS status{};
    const TW_UINT16 rc = Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status, &m_app);
    *call = m_call;
    return rc == TWRC_SUCCESS ? TW_UINT16(status.ConditionCode) : TW_UINT16(0xffff);
}

Bench::Answer Bench::Cap(TW_UINT16 cap, TW_UINT16 msg) {
    TW_CAPABILITY data{};
    data.Cap = cap;
    data.ConType = TWON_DONTCARE16;
    Answer a;
    a.rc = Send(DG_CONTROL, DAT_CAPABILITY, msg, &data);
    a.call = m_lastCall;
    a.cc = m_lastCc;
    TW_HANDLE h = data.hContainer;
    if (a.ok() && h) a.readable = tracelet::values::ReadContainer(h, data.ConType, &a.c);
    // The application owns what the source handed back.
    if (h) TwainDisposeHandle(h);
    return a;
}

// MSG_SET with a one-value container of the item.
Bench::Answer Bench::SetCap(TW_UINT16 cap, TW_UINT16 type, const Item& item) {
    TW_CAPABILITY data{};
    data.Cap = cap;
    data.ConType = TWON_ONEVALUE;
    data.hContainer = tracelet::values::BuildContainer(Container::OneValue(type, item));
    Answer a;
    if (!data.hContainer) return a;
    a.rc = Send(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &data);
    a.call = m_lastCall;
    a.cc = m_lastCc;
    TwainDisposeHandle(data.hContainer);
    return a;
}

bool Bench::Supported(TW_UINT16 cap) const {
    return std::find(m_supported.begin(), m_supported.end(), cap) != m_supported.end();
}

// The values MSG_SET is tried with: every offered one, or a range's ends
// and one step.
std::vector<Item> Bench::Offered(const Container& c) {
    if (c.conType == TWON_RANGE) {
        std::vector<Item> v{c.minValue, c.maxValue};
        const Item next = Sum(c.itemType, c.minValue, c.stepSize);
        if (c.stepSize.Value(c.itemType) > 0 && next.Value(c.itemType) < c.maxValue.Value(c.itemType))
            v.push_back(next);
        return v;
    }
    if (c.conType == TWON_ARRAY) return {};  // a list is set as a whole
    return c.items;
}

bool Bench::IsOffered(const Container& get, const Item& value) {
    if (get.conType == TWON_RANGE) {
        const double v = value.Value(get.itemType);
        return v >= get.minValue.Value(get.itemType) && v <= get.maxValue.Value(get.itemType);
    }
    return std::find(get.items.begin(), get.items.end(), value) != get.items.end();
}

bool Bench::Open() {
    m_source.Id = 2;
    const TW_UINT16 rc = Send(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &m_source);
    m_open = rc == TWRC_SUCCESS;
    return m_open;
}

bool Bench::Close() {
    const TW_UINT16 rc = Send(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &m_source);
    if (rc == TWRC_SUCCESS) m_open = false;
    return rc == TWRC_SUCCESS;
}

Batch Bench::Enable() {
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

TW_UINT16 Bench::Disable() {
    TW_USERINTERFACE ui{};
    return Send(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

}  // namespace certify
