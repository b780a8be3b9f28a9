// Loads a test build of the data source the way a data source manager does
// (dlopen, DS_Entry, dlclose), with a chosen companion at its companion path
// and the log folder present or absent, and reads back the log it wrote.
#ifndef TRACELET_TEST_DATASOURCEHARNESS_H
#define TRACELET_TEST_DATASOURCEHARNESS_H

#include <string>
#include <vector>

#include "DsLibrary.h"
#include "ScriptControl.h"
#include "tracelet/twain.h"

enum class Companion {
    Scripted,   // answers what the test scripts
    Absent,     // nothing at the companion path
    NoFactory,  // a shared object without CreateTwainWrapper
    NullSlot,   // a factory that leaves the slot empty
    Throwing,   // a factory that throws
};

class LoadedDataSource {
public:
    explicit LoadedDataSource(Companion companion = Companion::Scripted, bool logFolder = true);
    LoadedDataSource(const LoadedDataSource&) = delete;
    LoadedDataSource& operator=(const LoadedDataSource&) = delete;

    // Calls DS_Entry with the test application's identity.
    TW_UINT16 Call(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData);
    TW_UINT16 CallFrom(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData);

    // The scripted companion's control block; null for the other companions.
    ScriptControl* control = nullptr;
    // Has the scripted companion copy `size` bytes of `bytes` behind pData in
    // the calls that follow, until StopAnswering().
    void AnswerWith(const void* bytes, size_t size);
    void StopAnswering() { control->fill = nullptr; }

    // An exported symbol of the loaded data source.
    void* Symbol(const char* name) const { return library_.Symbol(name); }

    // dlclose: runs the data source's clean-up.
    void Unload() {
        library_.Unload();
        control = nullptr;
    }
    bool loaded() const { return library_.entry() != nullptr; }

    TW_IDENTITY app{};

    // Files in the log folder, sorted by name.
    static std::vector<std::string> LogFiles() { return FolderFiles(LogFolder()); }
    // Contents of the newest log file ("" when there is none).
    static std::string Log();
    static std::string LogFolder();
    static std::string CompanionPath();
    static std::string DataSourceFileName();
    // Empties the log folder and makes it exist (or not).
    static void ResetLogFolder(bool present) { ResetFolder(LogFolder(), present); }

private:
    DsLibrary library_;
    const void* answerBytes_ = nullptr;
    size_t answerSize_ = 0;
};

// printf-style formatting into a std::string, for building expected text.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The result block's first two lines for a return code name and a pointer.
std::string ResultLines(const char* rcName, const void* pData);
// The state line with the empty line before it.
std::string StateLine(int state);
// The failure marker block.
std::string MarkerBlock();

#endif  // TRACELET_TEST_DATASOURCEHARNESS_H
