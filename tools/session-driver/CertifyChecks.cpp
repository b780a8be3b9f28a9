#include "CertifyChecks.h"

#include <cmath>
#include <map>

namespace certify {

const std::vector<Group>& Groups() {
    static const std::vector<Group> groups = {
        {0, "The run", 0},
        {1, "Identity and opening", 15},
        {2, "Mandatory capabilities", 20},
        {3, "Every supported capability", 20},
        {4, "Status", 10},
        {5, "Sequence", 10},
        {6, "Transfers without the user interface", 15},
        {7, "Stress", 10},
    };
    return groups;
}

const std::vector<CheckDef>& Checks() {
    static const std::vector<CheckDef> checks = {
        {"run.completes", 0, "The plan runs to its end: the source neither crashes nor hangs"},
        {"identity.get", 1, "DAT_IDENTITY/MSG_GET in state 3 names the source"},
        {"identity.open", 1, "MSG_OPENDS opens the source"},
        {"identity.close", 1, "MSG_CLOSEDS closes it"},
        {"identity.reopen", 1, "It opens again after closing"},
        {"mandatory.xfercount", 2,
         "CAP_XFERCOUNT answers MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET and MSG_RESET"},
        {"mandatory.lists", 2, "CAP_SUPPORTEDCAPS and CAP_UICONTROLLABLE answer MSG_GET"},
        {"mandatory.image-read", 2,
         "ICAP_COMPRESSION, ICAP_PLANARCHUNKY, ICAP_PHYSICALHEIGHT, ICAP_PHYSICALWIDTH and ICAP_PIXELFLAVOR answer "
         "MSG_GET, MSG_GETCURRENT and MSG_GETDEFAULT"},
        {"mandatory.image-all", 2,
         "ICAP_BITDEPTH, ICAP_BITORDER, ICAP_PIXELTYPE, ICAP_UNITS, ICAP_XFERMECH, ICAP_XRESOLUTION and "
         "ICAP_YRESOLUTION answer all five messages"},
        {"caps.querysupport", 3, "MSG_QUERYSUPPORT answers, and every message it claims answers"},
        {"caps.itemtype", 3, "MSG_GET, MSG_GETCURRENT and MSG_GETDEFAULT give one item type"},
        {"caps.container", 3,
         "MSG_GETCURRENT and MSG_GETDEFAULT answer in TW_ONEVALUE, or in TW_ARRAY where MSG_GET does"},
        {"caps.standard-types", 3, "The mandatory capabilities have the item types the standard gives them"},
        {"caps.current-offered", 3, "MSG_GETCURRENT is among what MSG_GET offers"},
        {"caps.set", 3, "Each offered value set with MSG_SET comes back from MSG_GETCURRENT"},
        {"caps.reset", 3, "After MSG_RESET, MSG_GETCURRENT gives the MSG_GETDEFAULT value"},
        {"caps.resetall", 3,
         "After MSG_RESETALL, every capability an application may change gives its MSG_GETDEFAULT value"},
        {"status.after-failure", 4,
         "After each failure, DAT_STATUS/MSG_GET succeeds with a condition code other than TWCC_SUCCESS"},
        {"status.refused-capability", 4,
         "A refused capability gives TWCC_CAPUNSUPPORTED, TWCC_BADVALUE or TWCC_CAPBADOPERATION"},
        {"status.after-success", 4, "After a success, DAT_STATUS gives TWCC_SUCCESS, not an earlier failure's code"},
        {"sequence.seqerror", 5, "Triplets sent in a state the standard does not allow fail with TWCC_SEQERROR"},
        {"sequence.usable", 5, "The source stays usable after them"},
        {"transfer.memory", 6,
         "Memory transfers with CAP_XFERCOUNT 1, 2 and -1: every page arrives and matches its DAT_IMAGEINFO"},
        {"transfer.native", 6, "Native transfers with CAP_XFERCOUNT 1, 2 and -1: every page arrives"},
        {"transfer.file", 6, "File transfers with CAP_XFERCOUNT 1, 2 and -1: every page arrives in its file"},
        {"transfer.strips", 6, "Memory strips follow one another and add up to the page"},
        {"transfer.endxfer", 6, "MSG_ENDXFER counts go down, to 0 after the last page"},
        {"transfer.notification", 6, "Transfer ready comes through the manager entry point (DAT_NULL/MSG_XFERREADY)"},
        {"stress.cycles", 7, "Open, enable, transfer, disable and close cycles run without a failure"},
        {"stress.files", 7, "Open files do not grow over the cycles"},
        {"stress.memory", 7, "Resident memory grows by no more than 8 MiB over the cycles"},
    };
    return checks;
}

const Group* FindGroup(int number) {
    for (const Group& g : Groups())
        if (g.number == number) return &g;
    return nullptr;
}

const char* VerdictName(Verdict v) {
    switch (v) {
    case Verdict::Pass: return "pass";
    case Verdict::Fail: return "fail";
    case Verdict::NotApplicable: return "not applicable";
    default: return "not run";
    }
}

int Score(const std::vector<Result>& results) {
    std::map<std::string, int> groupOf;
    for (const CheckDef& c : Checks()) groupOf[c.id] = c.group;
    std::map<int, int> applicable, passed;
    for (const Result& r : results) {
        if (r.verdict == Verdict::NotApplicable) continue;
        const int g = groupOf.count(r.id) ? groupOf[r.id] : 0;
        ++applicable[g];
        if (r.verdict == Verdict::Pass) ++passed[g];
    }
    double sum = 0, weights = 0;
    for (const Group& g : Groups()) {
        if (!g.weight || !applicable[g.number]) continue;
        weights += g.weight;
        sum += g.weight * double(passed[g.number]) / applicable[g.number];
    }
    if (applicable[0] && !passed[0]) return 0;  // a crash or a hang
    return weights > 0 ? static_cast<int>(std::floor(sum * 100 / weights + 1e-9)) : 0;
}

}  // namespace certify
