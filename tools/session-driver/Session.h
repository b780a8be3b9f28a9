// One scan session: tracelet-session playing the data source manager and an
// application in front of a data source it loads itself.
#ifndef TRACELET_SESSION_SESSION_H
#define TRACELET_SESSION_SESSION_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "Options.h"
#include "PageImage.h"
#include "TwainValues.h"
#include "tracelet/twain.h"

namespace session {

// The identity this program gives itself as an application: Id 1 (as the
// manager hands it out at MSG_OPENDSM), version 1, English, USA, TWAIN 2.4,
// made by Tracelet; `groups` says what it supports (DF_APP2 included, the
// source signals it through the manager).
TW_IDENTITY AppIdentity(const char* info, const char* family, const char* product, TW_UINT32 groups);

class Session {
public:
    Session(const Options& options, std::ostream& out, std::ostream& err, bool interactive);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The whole session, from loading the data source to printing its log.
    // Returns the program's exit code.
    int Run();

    // A notification the source sent to the manager (DAT_NULL messages), on
    // whatever thread the source sent it from: the application's callback.
    void Notified(TW_UINT16 msg);

private:
    bool Load();
    void Unload();
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    TW_UINT16 Status();

    bool Open();
    void Close();
    bool Negotiate();
    bool GetCapability(TW_UINT16 cap, TW_UINT16 msg, tracelet::values::Container* value, TW_UINT16* cc);
    bool SetCapability(TW_UINT16 cap, TW_UINT16 itemType, std::uint32_t item, const std::string& shown);
    void ProbeDeviceOnline();
    void ShowHardware();
    bool Enable();
    bool WaitForTransferReady();
    void Disable();
    bool TransferPages();
    TW_UINT16 MemoryTransfer(PageImage& page);
    TW_UINT16 NativeTransfer(PageImage& page);
    void Progress(const char* what, std::uint32_t done, std::uint32_t total, int pieces, const char* piece,
                  bool finished);

    std::vector<std::string> LogFiles() const;
    void PrintLog(const std::vector<std::string>& before);

    const Options& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_interactive;

    void* m_library = nullptr;
    DSENTRYPROC m_dsEntry = nullptr;
    TW_IDENTITY m_app{};
    TW_IDENTITY m_source{};
    bool m_open = false;
    bool m_enabled = false;
    std::vector<TW_UINT16> m_supported;
    std::mutex m_notifyLock;  // guards m_notified
    std::condition_variable m_notifiedChanged;
    TW_UINT16 m_notified = MSG_NULL;
    int m_savedPages = 0;
    int m_lostPages = 0;  // not transferred, or not written
};

}  // namespace session

#endif  // TRACELET_SESSION_SESSION_H
