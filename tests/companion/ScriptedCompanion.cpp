// A companion for the tests: its TripletOperator answers what the test
// scripted and records what it was given. Built in three variants:
// the normal one, one without the factory (TRACELET_NO_FACTORY) and one
// whose factory leaves the slot empty (TRACELET_NULL_SLOT) and one whose
// factory throws (TRACELET_THROWING_FACTORY).
#include <mutex>
#include <stdexcept>
#include <string.h>

#include "ScriptControl.h"
#include "tracelet/TripletOperator.h"

#define EXPORT __attribute__((visibility("default")))

namespace {
ScriptControl g_control;
// Calls may come from several threads at once; the record is kept whole.
std::mutex g_recordLock;

class ScriptedOperator : public TripletOperator {
public:
    TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                           TW_MEMREF pData) override {
        {
            std::lock_guard<std::mutex> lock(g_recordLock);
            ++g_control.calls;
            g_control.lastOrigin = pOrigin;
            g_control.lastDG = DG;
            g_control.lastDAT = DAT;
            g_control.lastMSG = MSG;
            g_control.lastData = pData;
            if (g_control.throwNext) {
                g_control.throwNext = false;
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

#if !defined(TRACELET_NO_FACTORY)
extern "C" EXPORT void CreateTwainWrapper(const char* executableFileName, TripletOperator** slot) {
    ++g_control.factoryCalls;
    strncpy(g_control.factoryName, executableFileName ? executableFileName : "(null)",
            sizeof g_control.factoryName - 1);
#if defined(TRACELET_NULL_SLOT)
    (void)slot;
#elif defined(TRACELET_THROWING_FACTORY)
    (void)slot;
    throw std::runtime_error("factory failed");
#else
    *slot = new ScriptedOperator;
#endif
}
#endif
