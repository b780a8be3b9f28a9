#include "DataSourceHarness.h"

#include <dirent.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string Root() { return TRACELET_TEST_ROOT; }

void MakeFolders(const std::string& path) {
    std::string partial;
    std::stringstream ss(path);
    std::string piece;
    while (std::getline(ss, piece, '/')) {
        if (piece.empty()) {
            partial += "/";
            continue;
        }
        partial += piece + "/";
        mkdir(partial.c_str(), 0777);
    }
}

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

void LoadedDataSource::ResetLogFolder(bool present) {
    for (const std::string& name : LogFiles()) unlink((LogFolder() + "/" + name).c_str());
    rmdir(LogFolder().c_str());
    if (present) MakeFolders(LogFolder());
}

std::vector<std::string> LoadedDataSource::LogFiles() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(LogFolder().c_str())) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string LoadedDataSource::Log() {
    std::vector<std::string> names = LogFiles();
    if (names.empty()) return "";
    std::ifstream in(LogFolder() + "/" + names.back(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

LoadedDataSource::LoadedDataSource(Companion companion, bool logFolder) {
    ResetLogFolder(logFolder);
    MakeFolders(Root() + "/Core");
    unlink(CompanionPath().c_str());
    if (const char* variant = VariantPath(companion)) CopyFile(variant, CompanionPath());

    app.Id = 7;
    app.Version.MajorNum = 1;
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    strcpy(app.Manufacturer, "Tracelet tests");
    strcpy(app.ProductFamily, "Harness");
    strcpy(app.ProductName, "Test application");

    handle_ = dlopen(TRACELET_TEST_DS, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    entry_ = reinterpret_cast<decltype(entry_)>(dlsym(handle_, "DS_Entry"));
    if (!entry_) throw std::runtime_error("no DS_Entry");

    if (companion == Companion::Scripted) {
        // The companion is loaded by now; find its control block.
        if (void* lib = dlopen(CompanionPath().c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            auto get = reinterpret_cast<ScriptControl* (*)()>(dlsym(lib, "ScriptedCompanionControl"));
            control = get ? get() : nullptr;
            dlclose(lib);
        }
    }
}

LoadedDataSource::~LoadedDataSource() { Unload(); }

void LoadedDataSource::Unload() {
    if (!handle_) return;
    dlclose(handle_);
    handle_ = nullptr;
    entry_ = nullptr;
    control = nullptr;
}

TW_UINT16 LoadedDataSource::Call(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData) {
    return CallFrom(&app, DG, DAT, MSG, pData);
}

TW_UINT16 LoadedDataSource::CallFrom(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                     void* pData) {
    if (!entry_) throw std::runtime_error("data source not loaded");
    return entry_(origin, DG, DAT, MSG, pData);
}

void* LoadedDataSource::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

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
