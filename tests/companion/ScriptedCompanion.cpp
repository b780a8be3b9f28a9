// A companion for the tests: its TripletOperator answers what the test
// scripted and records what it was given. Built in variants: the normal one,
// one without the factory (TRACELET_COMPANION_NOFACTORY), one whose factory
// leaves the slot empty (..._NULLSLOT) and one whose factory throws (..._THROWING).
#include <string.h>

#include <mutex>
#include <stdexcept>

#include "ScriptControl.h"
#include "tracelet/TripletOperator.h"

#define EXPORT __attribute__((visibility("default")))

namespace {
ScriptControl g_control;
std::mutex g_recordLock;  // calls may come from several threads at once

class ScriptedOperator : public TripletOperator {
public:
    TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                           TW_MEMREF pData) override {
        {
            std::lock_guard<std::mutex> lock(g_recordLock);
            ScriptControl& c = g_control;
            ++c.calls;
            c.lastOrigin = pOrigin, c.lastDG = DG, c.lastDAT = DAT, c.lastMSG = MSG, c.lastData = pData;
            if (c.throwNext) {
                c.throwNext = false;
                throw std::runtime_error("scripted failure");
            }
        }
        if (g_control.fill) g_control.fill(g_control.context, DG, DAT, MSG, pData);
        return g_control.rc;
    }
    ~ScriptedOperator() override { ++g_control.destroyed; }
};
}  // namespace

extern "C" EXPORT ScriptControl* ScriptedCompanionControl() { return &g_control; }

#if !defined(TRACELET_COMPANION_NOFACTORY)
extern "C" EXPORT void CreateTwainWrapper(const char* executableFileName, TripletOperator** slot) {
    ++g_control.factoryCalls;
    strncpy(g_control.factoryName, executableFileName ? executableFileName : "(null)", sizeof g_control.factoryName - 1);
#if defined(TRACELET_COMPANION_THROWING)
    throw std::runtime_error("factory failed");
#elif !defined(TRACELET_COMPANION_NULLSLOT)
    *slot = new ScriptedOperator;
#endif
    (void)slot;
}
#endif
