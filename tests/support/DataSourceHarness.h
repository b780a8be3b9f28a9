// Loads a test build of the data source the way a data source manager does
// (dlopen, DS_Entry, dlclose), with a chosen companion at its companion path
// and the log folder present or absent, and reads back the log it wrote.
#ifndef TRACELET_TEST_DATASOURCEHARNESS_H
#define TRACELET_TEST_DATASOURCEHARNESS_H

#include <string>
#include <vector>

#include "DsLibrary.h"
#include "LogText.h"
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
    // `beforeLoad` runs with the companion and the log folder in place,
    // just before the loader opens the data source.
    explicit LoadedDataSource(Companion companion = Companion::Scripted, bool logFolder = true,
                              void (*beforeLoad)() = nullptr);

    // DS_Entry, with the test application's identity or another origin.
    TW_UINT16 Call(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData) { return CallFrom(&app, DG, DAT, MSG, pData); }
    TW_UINT16 CallFrom(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* pData);
    // Has the scripted companion copy `size` bytes of `bytes` behind pData in
    // the calls that follow, until StopAnswering().
    void AnswerWith(const void* bytes, size_t size);
    void StopAnswering() { control->fill = nullptr; }
    void* Symbol(const char* name) const { return library_.Symbol(name); }
    // dlclose: runs the data source's clean-up.
    void Unload() {
        library_.Unload();
        control = nullptr;
    }

    ScriptControl* control = nullptr;  // the scripted companion's; null for the others
    TW_IDENTITY app{};

    static std::string LogFolder();
    static std::vector<std::string> LogFiles() { return FolderFiles(LogFolder()); }
    static std::string Log();  // the newest log file's text ("" when there is none)
    static std::string CompanionPath();
    static std::string DataSourceFileName();

private:
    DsLibrary library_;
    std::string answer_;
};

// Defined by the no-heap test only: count this thread's allocations in a
// window (windows nest; the outermost End returns the count).
extern "C" void TraceletAllocationsBegin() __attribute__((weak));
extern "C" size_t TraceletAllocationsEnd() __attribute__((weak));

// The result block's first two lines for a return code name and a pointer.
inline std::string ResultLines(const char* rcName, const void* pData) {
    return Format("        Return Code = [%s]\r\npData   = <0x%08x>\r\n", rcName,
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(pData)));
}
// The state line with the empty line before it.
inline std::string StateLine(int state) { return Format("\r\nTWAIN Status = [%d]\r\n", state); }
inline std::string MarkerBlock() {
    return "*** Inspect Error Status Start ***\r\n*** Inspect Error Status End   ***\r\n";
}

#endif  // TRACELET_TEST_DATASOURCEHARNESS_H
