#include "ChainHarness.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
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

TracedSource::TracedSource() : DsLibrary(PASSTHROUGH_TEST_DS) {
    app.Id = 1;
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    strncpy(app.ProductName, "Chain test", sizeof app.ProductName - 1);
    if (!entry()) throw std::runtime_error(std::string("cannot load the trace data source: ") + dlerror());
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
