// Load and unload of the data source: find the own file name, open the
// companion, obtain the TripletOperator, set up the log; and undo it all.
#include "analyzer/ParaAnalyze.h"
#include "log/TwainLogFile.h"
#include "record/LoadRecord.h"
#include "shell/DataSource.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

TripletOperator* g_pcTripletOperator = nullptr;
void* g_TwainWrapperBundleRef = nullptr;
CreateTwainWrapperProc g_fnDsCreate = nullptr;

namespace {
constexpr size_t kNameBufferSize = 1024;
}

void MachO_Initialization() {
    char name[kNameBufferSize];
    const bool haveName = tracelet::platform::ModuleFileName(
        reinterpret_cast<const void*>(&MachO_Initialization), name, sizeof name);

    g_TwainWrapperBundleRef = tracelet::platform::OpenLibrary(g_szCompanionPath);

    if (haveName && g_TwainWrapperBundleRef) {
        g_fnDsCreate = reinterpret_cast<CreateTwainWrapperProc>(
            tracelet::platform::FindSymbol(g_TwainWrapperBundleRef, "CreateTwainWrapper"));
        if (g_fnDsCreate) {
            try {
                g_fnDsCreate(name, &g_pcTripletOperator);
            } catch (...) {
                // A factory that throws leaves no data source; loading goes on.
            }
        }
    }

    setupTwainLog();
    tracelet::record::OpenLoadRecord(g_szLogFolder, LogFileName(), g_pLogFile, g_szCompanionPath,
                                     g_cParaAnalyze.GetTwainStatus());
}

void MachO_Termination() {
    if (g_pcTripletOperator) {
        delete g_pcTripletOperator;
        g_pcTripletOperator = nullptr;
    }
    if (g_TwainWrapperBundleRef) {
        tracelet::platform::CloseLibrary(g_TwainWrapperBundleRef);
        g_TwainWrapperBundleRef = nullptr;
    }
    tracelet::record::CloseLoadRecord();
    cleanupTwainLog();
}

// Load-time initialisers of this object, in this order (the analyzer is
// constant-initialised before either): set-up, then the registration of the
// clean-up with this object's finalisation, so that dlclose and process exit
// both run it, once per load.
extern "C" int __cxa_atexit(void (*fn)(void*), void* arg, void* dso);
extern "C" void* __dso_handle;

namespace {
void RunTermination(void*) { MachO_Termination(); }

const int s_loaded = (MachO_Initialization(), 0);
const int s_registered = __cxa_atexit(RunTermination, nullptr, &__dso_handle);
}  // namespace
