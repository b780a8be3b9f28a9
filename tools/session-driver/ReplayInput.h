// The inputs of a recorded call, rebuilt for a replay: the recorded bytes of
// pData in a buffer of the replay's own, with every pointer and handle in it
// replaced by one the replay owns (a recorded address means nothing in
// another process).
#ifndef TRACELET_SESSION_REPLAYINPUT_H
#define TRACELET_SESSION_REPLAYINPUT_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "tracelet/twain.h"

namespace replay {

// What the replay hands a source in place of the recorded application's own
// things.
struct InputContext {
    const TW_ENTRYPOINT* entryPoints = nullptr;  // DAT_ENTRYPOINT/MSG_SET
    TW_UINT32 sourceId = 2;                      // the Id the replay gives the source
    std::string fileFolder;                      // DAT_SETUPFILEXFER: files go here
};

// pData of one replayed call. Built from the recorded input: `data` the
// structure's bytes as the application sent them (empty with `hasData`
// false: pData was null), `container` the bytes behind a capability's
// handle. Owns what it allocates until Release().
class CallInput {
public:
    CallInput() = default;
    CallInput(TW_UINT16 dat, TW_UINT16 msg, bool hasData, std::string_view data, std::string_view container,
              const InputContext& context);
    ~CallInput() { Release(); }
    CallInput(const CallInput&) = delete;
    CallInput& operator=(const CallInput&) = delete;

    void* Data() { return m_hasData ? m_buffer.get() : nullptr; }

    // After the call: frees what the replay owns and what the source handed
    // the application (a capability's new container, a native image).
    void Release();

private:
    TW_UINT16 m_dat = 0;
    bool m_hasData = false;
    std::size_t m_size = 0;
    std::unique_ptr<std::max_align_t[]> m_buffer;
    TW_HANDLE m_container = nullptr;  // the capability container the replay made
    std::unique_ptr<unsigned char[]> m_memory;  // a memory transfer's buffer
    TW_HANDLE m_memoryHandle = nullptr;         // ... when the recorded request asked for a handle
    unsigned char m_platformEvent[64] = {};
};

}  // namespace replay

#endif  // TRACELET_SESSION_REPLAYINPUT_H
