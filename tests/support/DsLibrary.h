// A data source loaded the way a data source manager loads one (dlopen,
// DS_Entry, dlclose), and the folder helpers the tests that read its log
// share. Used by the end-to-end tests and by the pass-through chain tests.
#ifndef TRACELET_TEST_DSLIBRARY_H
#define TRACELET_TEST_DSLIBRARY_H

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tracelet/twain.h"

class DsLibrary {
public:
    // A library that does not load, or has no DS_Entry, has a null entry().
    explicit DsLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_) entry_ = reinterpret_cast<DSENTRYPROC>(dlsym(handle_, "DS_Entry"));
    }
    ~DsLibrary() { Unload(); }
    DsLibrary(const DsLibrary&) = delete;
    DsLibrary& operator=(const DsLibrary&) = delete;

    DSENTRYPROC entry() const { return entry_; }
    void* Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }
    // dlclose: runs the data source's clean-up.
    void Unload() {
        if (handle_) dlclose(handle_);
        handle_ = nullptr;
        entry_ = nullptr;
    }

private:
    void* handle_ = nullptr;
    DSENTRYPROC entry_ = nullptr;
};

// `name` in the shared object at `path` if the loader has it loaded; null
// when it is not loaded (this neither loads it nor keeps it loaded).
inline void* LoadedSymbol(const std::string& path, const char* name) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    void* symbol = dlsym(handle, name);
    dlclose(handle);
    return symbol;
}

// Names of the files in `folder`, sorted.
inline std::vector<std::string> FolderFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Makes `folder` and its parents exist.
inline void MakeFolders(const std::string& folder) {
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        mkdir(folder.substr(0, at).c_str(), 0777);
        if (at == std::string::npos) break;
    }
}

// Empties `folder` (its folders too) and makes it exist, or not.
inline void ResetFolder(const std::string& folder, bool present) {
    for (const std::string& name : FolderFiles(folder))
        if (unlink((folder + "/" + name).c_str()) != 0) ResetFolder(folder + "/" + name, false);
    rmdir(folder.c_str());
    if (present) MakeFolders(folder);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

#endif  // TRACELET_TEST_DSLIBRARY_H
