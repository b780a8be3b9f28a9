// Linux side of the pass-through companion's seam.
#include "PassThroughPlatform.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace tracelet {
namespace passthrough {
namespace platform {

std::string ModulePath(const void* addressInside) {
    Dl_info info;
    if (!dladdr(addressInside, &info) || !info.dli_fname) return "";
    return info.dli_fname;
}

const char* Variable(const char* name) { return getenv(name); }

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = errno ? strerror(errno) : "cannot be opened";
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        *error = "read error";
        return false;
    }
    *text = content.str();
    return true;
}

namespace {

// The loader's message usually starts with the path itself; the report
// names the path already.
std::string LoaderMessage(const std::string& path) {
    const char* raw = dlerror();
    std::string message = raw ? raw : "the loader gives no reason";
    const std::string prefix = path + ": ";
    if (message.compare(0, prefix.size(), prefix) == 0) message.erase(0, prefix.size());
    return message;
}

const void* ModuleBase(const void* address) {
    Dl_info info;
    if (!address || !dladdr(address, &info)) return nullptr;
    return info.dli_fbase;
}

}  // namespace

OpenedSource OpenDataSource(const std::string& path, const void* hostAddress) {
    OpenedSource source;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        source.problem = errno == ENOENT ? "does not exist" : std::string("cannot be reached: ") + strerror(errno);
        return source;
    }
    if (S_ISDIR(st.st_mode)) {
        source.problem = "is a folder, not a data source";
        return source;
    }

    // Lazy binding, as a data source manager loads a source: whatever loads
    // without Tracelet must load through it too.
    dlerror();
    void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        source.problem = "cannot be loaded: " + LoaderMessage(path);
        return source;
    }
    void* entry = dlsym(library, "DS_Entry");
    if (!entry) {
        dlclose(library);
        source.problem = "exports no DS_Entry, so it is not a TWAIN data source";
        return source;
    }
    const void* hostBase = ModuleBase(hostAddress);
    if (hostBase && ModuleBase(entry) == hostBase) {
        dlclose(library);
        source.problem = "is the data source that loads this companion, which would then call itself";
        return source;
    }
    source.library = library;
    source.entry = reinterpret_cast<DSENTRYPROC>(entry);
    return source;
}

void CloseDataSource(void* library) {
    if (library) dlclose(library);
}

void ReportLine(const std::string& line) {
    std::string text = line;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    text += '\n';
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
}

}  // namespace platform
}  // namespace passthrough
}  // namespace tracelet
