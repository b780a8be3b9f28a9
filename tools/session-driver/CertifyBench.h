// The conformance run's bench: the process that plays the data source
// manager and an application in front of the source under test. It holds
// what every check group uses (the calls, the capability answers, enabling
// and disabling, the results as they are found); each group's checks are
// in a file of their own (CertifyIdentity.cpp ... CertifyStress.cpp).
#ifndef TRACELET_SESSION_CERTIFY_BENCH_H
#define TRACELET_SESSION_CERTIFY_BENCH_H

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CertifyChecks.h"
#include "CertifyPlan.h"
#include "TwainValues.h"
#include "tables/TwNames.h"
#include "tracelet/twain.h"

namespace certify {

using tracelet::values::Container;
using tracelet::values::FieldText;
using tracelet::values::Item;
using tracelet::values::ItemText;
using tracelet::values::Sum;

// The manager's entry point as the source sees it: it counts the
// notifications the source sends.
TW_UINT16 ManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF);

// Names as the report gives them: the constant's name, else hexadecimal.
inline std::string CapName(TW_UINT16 cap) { return twnames::NameOrHex(twnames::Kind::Cap, cap); }
inline std::string CcName(TW_UINT16 cc) { return twnames::NameOrHex(twnames::Kind::Cc, cc); }
inline std::string RcName(TW_UINT16 rc) { return twnames::NameOrHex(twnames::Kind::Rc, rc); }
inline std::string MsgName(TW_UINT16 msg) { return twnames::NameOrHex(twnames::Kind::Msg, msg); }
inline std::string ConName(TW_UINT16 con) { return twnames::NameInOrHex("twon_macros", con); }
inline std::string TypeName(TW_UINT16 type) { return twnames::NameInOrHex("twty_macros", type); }

// The checks' results as the plan finds them, each group's written as one
// JSON line per check when the group ends.
class Recorder {
public:
    explicit Recorder(const std::string& path) : m_out(path, std::ios::binary | std::ios::trunc) {}

    void Line(const nlohmann::json& j);
    void Fail(const char* id, long call, std::string text);
    void NotApplicable(const char* id, std::string why);
    void Note(const char* id, std::string note) { Get(id).note = std::move(note); }
    // Marks a check as run: it passes unless it found something.
    void Ran(const char* id);
    bool Failed(const char* id) { return !Get(id).findings.empty(); }
    // Writes every check of the group that was run.
    void Finish(int group);

private:
    Result& Get(const char* id);

    std::ofstream m_out;
    std::map<std::string, Result> m_results;
};

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
    Bench(const PlanOptions& o, Recorder& rec);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Loads the source and runs the groups in order.
    int Run();

private:
    void Group(int number, void (Bench::*body)());

    // --- Calls (CertifyBench.cpp) ---------------------------------------------------

    // One call through DS_Entry. `m_call` numbers the calls the trace lists
    // (every call but event polling and the application's own DAT_NULL).
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, pTW_IDENTITY origin);
    // A call as the application makes it: after a failure it asks why, and
    // the answer is checked.
    TW_UINT16 Send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    TW_UINT16 StatusNow(long* call);

    struct Answer {
        TW_UINT16 rc = TWRC_FAILURE;
        TW_UINT16 cc = TWCC_SUCCESS;
        long call = 0;
        Container c;
        bool readable = false;  // an item type this program knows, a list it could read
        bool ok() const { return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS; }
    };
    Answer Cap(TW_UINT16 cap, TW_UINT16 msg);
    // MSG_SET with a one-value container of the item.
    Answer SetCap(TW_UINT16 cap, TW_UINT16 type, const Item& item);
    static Item Word(TW_UINT16 type, std::uint32_t value) { return Item::OfNumber(type, value); }
    bool Supported(TW_UINT16 cap) const;

    // The values MSG_SET is tried with: every offered one, or a range's ends
    // and one step.
    static std::vector<Item> Offered(const Container& c);
    static bool IsOffered(const Container& get, const Item& value);

    bool Open();
    bool Close();
    // The groups after the first need an open source; without one they are not run.
    bool NeedOpen() const { return m_open; }
    Batch Enable();
    TW_UINT16 Disable();

    // --- 1. Identity and opening (CertifyIdentity.cpp) ------------------------------
    void Identity();

    // --- 2. Mandatory capabilities (CertifyMandatory.cpp) ---------------------------
    void AllMessages(const char* check, TW_UINT16 cap, bool withSetAndReset);
    void Mandatory();

    // --- 3. Every supported capability (CertifyCapabilities.cpp) --------------------
    static int StandardType(TW_UINT16 cap);
    void EveryCapability();
    bool HeldToDefault(TW_UINT16 cap);
    void ResetAll();

    // --- 4. Status (CertifyStatus.cpp) --------------------------------------------
    void Refused(const Answer& a, const std::string& what);
    void StatusGroup();

    // --- 5. Sequence (CertifySequence.cpp) -----------------------------------------
    void SendOutOfTurn(int state);
    void Usable(TW_UINT16 rc, const std::string& what);
    void Sequence();

    // --- 6. Transfers (CertifyTransfers.cpp) ----------------------------------------
    void SmallPages();
    bool MemoryPage(const TW_IMAGEINFO& info, bool check);
    bool NativePage(bool check);
    bool FilePage(int page, bool check);
    void TransferBatch(TW_UINT16 mech, int limit, const char* check, Batch* b);
    void Transfers();

    // --- 7. Stress (CertifyStress.cpp) ---------------------------------------------
    void Stress();

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

}  // namespace certify

#endif  // TRACELET_SESSION_CERTIFY_BENCH_H
