#include "ChainHarness.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace chain {

std::string ConfigPath() { return std::string(PASSTHROUGH_TEST_ROOT) + "/Core/TwainWrapper.conf"; }

void WriteConfig(const std::string& text) {
    std::ofstream out(ConfigPath(), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + ConfigPath());
    out << text;
}

void RemoveConfig() { unlink(ConfigPath().c_str()); }

TargetVariable::TargetVariable(const std::string& value) { setenv("TRACELET_TARGET_DS", value.c_str(), 1); }
TargetVariable::~TargetVariable() { unsetenv("TRACELET_TARGET_DS"); }

StderrCapture::StderrCapture() {
    fflush(stderr);
    char name[] = "/tmp/passthrough-stderr-XXXXXX";
    file_ = mkstemp(name);
    if (file_ < 0) throw std::runtime_error("mkstemp failed");
    unlink(name);
    saved_ = dup(2);
    dup2(file_, 2);
}

std::string StderrCapture::Finish() {
    if (saved_ < 0) return "";
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::string text;
    char buffer[4096];
    lseek(file_, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(file_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(file_);
    file_ = -1;
    return text;
}

StderrCapture::~StderrCapture() { Finish(); }

TracedSource::TracedSource() {
    app.Id = 1;
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    strncpy(app.ProductName, "Chain test", sizeof app.ProductName - 1);

    handle_ = dlopen(PASSTHROUGH_TEST_DS, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("cannot load the trace data source: ") + dlerror());
    entry_ = reinterpret_cast<DSENTRYPROC>(dlsym(handle_, "DS_Entry"));
    if (!entry_) throw std::runtime_error("the trace data source has no DS_Entry");
}

TracedSource::~TracedSource() { Unload(); }

TW_UINT16 TracedSource::Call(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    return entry_(&app, DG, DAT, MSG, pData);
}

void TracedSource::Unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
    entry_ = nullptr;
}

namespace {
std::string LogFolder() { return std::string(PASSTHROUGH_TEST_ROOT) + "/LOG"; }
}  // namespace

std::vector<std::string> LogFiles() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(LogFolder().c_str())) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ResetLogFolder(bool present) {
    for (const std::string& name : LogFiles()) unlink((LogFolder() + "/" + name).c_str());
    rmdir(LogFolder().c_str());
    if (present) mkdir(LogFolder().c_str(), 0777);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

ProbeControl* LoadedProbe(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto control = reinterpret_cast<ProbeControl* (*)()>(dlsym(handle, "ProbeControlBlock"));
    ProbeControl* block = control ? control() : nullptr;
    dlclose(handle);  // whoever loaded it keeps it loaded
    return block;
}

std::string ProductName(TracedSource& source) {
    TW_IDENTITY id;
    memset(&id, 0, sizeof id);
    if (source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id) != TWRC_SUCCESS) return "";
    return std::string(id.ProductName, strnlen(id.ProductName, sizeof id.ProductName));
}

}  // namespace chain
