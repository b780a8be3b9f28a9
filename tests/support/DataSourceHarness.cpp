#include "DataSourceHarness.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace {

std::string Root() { return TRACELET_TEST_ROOT; }

void CopyFile(const std::string& from, const std::string& to) {
    unlink(to.c_str());  // a new file, so the loader sees a new object
    std::ifstream in(from, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + from);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

const char* VariantPath(Companion companion) {
    switch (companion) {
        case Companion::Scripted: return TRACELET_TEST_COMPANION;
        case Companion::NoFactory: return TRACELET_TEST_COMPANION_NOFACTORY;
        case Companion::NullSlot: return TRACELET_TEST_COMPANION_NULLSLOT;
        case Companion::Throwing: return TRACELET_TEST_COMPANION_THROWING;
        case Companion::Absent: break;
    }
    return nullptr;
}

}  // namespace

std::string LoadedDataSource::LogFolder() { return Root() + "/LOG/TWAIN"; }
std::string LoadedDataSource::CompanionPath() { return Root() + "/Core/TwainWrapper.bundle"; }
std::string LoadedDataSource::DataSourceFileName() {
    std::string path = TRACELET_TEST_DS;
    return path.substr(path.rfind('/') + 1);
}

std::string LoadedDataSource::Log() {
    std::vector<std::string> names = LogFiles();
    return names.empty() ? "" : ReadFile(LogFolder() + "/" + names.back());
}

// The log folder and the companion are in place before the data source loads.
static bool Prepare(Companion companion, bool logFolder) {
    LoadedDataSource::ResetLogFolder(logFolder);
    MakeFolders(Root() + "/Core");
    unlink(LoadedDataSource::CompanionPath().c_str());
    if (const char* variant = VariantPath(companion)) CopyFile(variant, LoadedDataSource::CompanionPath());
    return true;
}

LoadedDataSource::LoadedDataSource(Companion companion, bool logFolder)
    : library_((Prepare(companion, logFolder), TRACELET_TEST_DS)) {
    app.Id = 7;
    app.Version.MajorNum = 1;
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    strcpy(app.Manufacturer, "Tracelet tests");
    strcpy(app.ProductFamily, "Harness");
    strcpy(app.ProductName, "Test application");

    if (!library_.entry()) throw std::runtime_error(std::string("cannot load ") + TRACELET_TEST_DS);

    if (companion == Companion::Scripted) {
        // The companion is loaded by now; find its control block.
        if (void* lib = dlopen(CompanionPath().c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            auto get = reinterpret_cast<ScriptControl* (*)()>(dlsym(lib, "ScriptedCompanionControl"));
            control = get ? get() : nullptr;
            dlclose(lib);
        }
    }
}

TW_UINT16 LoadedDataSource::Call(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData) {
    return CallFrom(&app, DG, DAT, MSG, pData);
}

TW_UINT16 LoadedDataSource::CallFrom(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                     void* pData) {
    if (!library_.entry()) throw std::runtime_error("data source not loaded");
    return library_.entry()(origin, DG, DAT, MSG, pData);
}

void LoadedDataSource::AnswerWith(const void* bytes, size_t size) {
    answerBytes_ = bytes;
    answerSize_ = size;
    control->context = this;
    control->fill = [](void* context, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
        const LoadedDataSource* ds = static_cast<const LoadedDataSource*>(context);
        if (pData) memcpy(pData, ds->answerBytes_, ds->answerSize_);
    };
}

std::string Format(const char* format, ...) {
    char buffer[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string ResultLines(const char* rcName, const void* pData) {
    return Format("        Return Code = [%s]\r\npData   = <0x%08x>\r\n", rcName,
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(pData) & 0xFFFFFFFFu));
}

std::string StateLine(int state) { return Format("\r\nTWAIN Status = [%d]\r\n", state); }

std::string MarkerBlock() {
    return "*** Inspect Error Status Start ***\r\n*** Inspect Error Status End   ***\r\n";
}
