#include "DataSourceHarness.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <stdexcept>

std::string LoadedDataSource::LogFolder() { return TRACELET_TEST_ROOT "/LOG/TWAIN"; }
std::string LoadedDataSource::CompanionPath() { return TRACELET_TEST_ROOT "/Core/TwainWrapper.bundle"; }
std::string LoadedDataSource::DataSourceFileName() { return strrchr(TRACELET_TEST_DS, '/') + 1; }

std::string LoadedDataSource::Log() {
    const std::vector<std::string> names = LogFiles();
    return names.empty() ? "" : ReadFile(LogFolder() + "/" + names.back());
}

// The log folder and the companion are in place before the data source loads.
static const char* Prepare(Companion companion, bool logFolder, void (*beforeLoad)()) {
    const char* variants[] = {TRACELET_TEST_COMPANION, nullptr, TRACELET_TEST_COMPANION_NOFACTORY,
                              TRACELET_TEST_COMPANION_NULLSLOT, TRACELET_TEST_COMPANION_THROWING};
    ResetFolder(LoadedDataSource::LogFolder(), logFolder);
    MakeFolders(TRACELET_TEST_ROOT "/Core");
    const std::string path = LoadedDataSource::CompanionPath();
    unlink(path.c_str());  // a new file, so the loader sees a new object
    if (const char* variant = variants[static_cast<int>(companion)]) {
        std::ifstream in(variant, std::ios::binary);
        std::ofstream(path, std::ios::binary) << in.rdbuf();
    }
    if (beforeLoad) beforeLoad();
    return TRACELET_TEST_DS;
}

LoadedDataSource::LoadedDataSource(Companion companion, bool logFolder, void (*beforeLoad)())
    : library_(Prepare(companion, logFolder, beforeLoad)) {
    app.Id = 7;
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    strcpy(app.ProductName, "Test application");
    if (!library_.entry()) throw std::runtime_error("cannot load " TRACELET_TEST_DS);
    // The companion is loaded by now; find its control block.
    auto get = reinterpret_cast<ScriptControl* (*)()>(LoadedSymbol(CompanionPath(), "ScriptedCompanionControl"));
    if (companion == Companion::Scripted && get) control = get();
}

// With the allocations counted, a call may take nothing from the heap (but
// for a companion told to throw: its exception is its own).
TW_UINT16 LoadedDataSource::CallFrom(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData) {
    const bool counted = TraceletAllocationsBegin && !(control && control->throwNext);
    if (counted) TraceletAllocationsBegin();
    const TW_UINT16 rc = library_.entry()(origin, DG, DAT, MSG, pData);
    if (counted) {
        EXPECT_EQ(TraceletAllocationsEnd(), 0u) << "allocations inside DS_Entry, DAT " << DAT << " MSG " << MSG;
    }
    return rc;
}

void LoadedDataSource::AnswerWith(const void* bytes, size_t size) {
    answer_.assign(static_cast<const char*>(bytes), size);
    control->context = this;
    control->fill = [](void* context, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
        const std::string& answer = static_cast<LoadedDataSource*>(context)->answer_;
        if (pData) memcpy(pData, answer.data(), answer.size());
    };
}
