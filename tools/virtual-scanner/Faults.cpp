#include "Faults.h"

#include <cstdio>
#include <cstdlib>

namespace vscan {

const char kFaultVariable[] = "TRACELET_SCANNER_FAULT";

Faults ParseFaults(const std::string& names, std::string* unknown) {
    const struct {
        const char* name;
        bool Faults::*flag;
    } known[] = {{"getcurrent-container", &Faults::getCurrentContainer},
                 {"reset-keeps-value", &Faults::resetKeepsValue},
                 {"resetall-keeps-value", &Faults::resetAllKeepsValue},
                 {"no-seqerror", &Faults::noSeqError},
                 {"short-strip", &Faults::shortStrip},
                 {"stale-status", &Faults::staleStatus},
                 {"leak-fd", &Faults::leakFd},
                 {"crash", &Faults::crash},
                 {"hang", &Faults::hang}};
    Faults faults;
    std::size_t start = 0;
    while (start <= names.size()) {
        std::size_t end = names.find(',', start);
        if (end == std::string::npos) end = names.size();
        const std::string name = names.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        bool found = false;
        for (const auto& k : known) {
            if (name == k.name) {
                faults.*(k.flag) = true;
                found = true;
            }
        }
        if (!found && unknown) *unknown += (unknown->empty() ? "" : ",") + name;
    }
    return faults;
}

Faults FaultsFromEnvironment() {
    const char* value = std::getenv(kFaultVariable);
    if (!value || !*value) return Faults();
    std::string unknown;
    const Faults faults = ParseFaults(value, &unknown);
    if (!unknown.empty())
        std::fprintf(stderr, "Tracelet virtual scanner: unknown fault in %s ignored: %s\n", kFaultVariable,
                     unknown.c_str());
    return faults;
}

}  // namespace vscan
