#include "ReplayInput.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "TwainValues.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

namespace replay {

namespace {

// Room for a source that reads past a structure it does not know: zeros.
constexpr std::size_t kMinimumBuffer = 1024;
// A recorded memory transfer buffer larger than this is a lie of the
// recording: the replay offers this much, and says so in Length.
constexpr TW_UINT32 kLargestStrip = 256u << 20;

template <typename T>
T Read(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Write(void* p, const T& v) {
    std::memcpy(p, &v, sizeof v);
}

}  // namespace

CallInput::CallInput(TW_UINT16 dat, TW_UINT16 msg, bool hasData, std::string_view data, std::string_view container,
                     const InputContext& context)
    : m_dat(dat), m_hasData(hasData) {
    if (!hasData) return;
    // DAT_EXTIMAGEINFO carries its TW_INFO list after the structure: the
    // recorded bytes say how long it is.
    m_size = std::max({data.size(), TwainStructureSize(dat), kMinimumBuffer});
    const std::size_t units = (m_size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    m_buffer.reset(new std::max_align_t[units]);
    unsigned char* p = reinterpret_cast<unsigned char*>(m_buffer.get());
    // Every byte, padding included: value-initialising the array leaves the
    // padding of its long doubles as it was.
    std::memset(p, 0, units * sizeof(std::max_align_t));
    std::memcpy(p, data.data(), data.size());

    switch (dat) {
    case DAT_CAPABILITY: {
        // The recorded container, in a new handle of the replay's own.
        TW_HANDLE h = nullptr;
        if (!container.empty()) {
            h = TwainNewHandle(static_cast<TW_UINT32>(container.size()));
            if (void* q = h ? TwainLockHandle(h) : nullptr) {
                std::memcpy(q, container.data(), container.size());
                TwainUnlockHandle(h);
            }
        }
        m_container = h;
        Write(p + offsetof(TW_CAPABILITY, hContainer), h);
        break;
    }
    case DAT_IMAGEMEMXFER: {
        // A buffer of the recorded size, as a pointer or a handle as the
        // recorded request had it.
        unsigned char* memory = p + offsetof(TW_IMAGEMEMXFER, Memory);
        TW_UINT32 length = std::min(Read<TW_UINT32>(memory + offsetof(TW_MEMORY, Length)), kLargestStrip);
        const TW_UINT32 flags = Read<TW_UINT32>(memory + offsetof(TW_MEMORY, Flags));
        TW_MEMREF mem = nullptr;
        if (flags & TWMF_HANDLE) {
            m_memoryHandle = TwainNewHandle(length);
            mem = m_memoryHandle;
        } else {
            m_memory.reset(new (std::nothrow) unsigned char[length ? length : 1]());
            mem = m_memory.get();
        }
        if (!mem) length = 0;
        Write(memory + offsetof(TW_MEMORY, Length), length);
        Write(memory + offsetof(TW_MEMORY, TheMem), mem);
        break;
    }
    case DAT_IMAGENATIVEXFER: Write<TW_HANDLE>(p, nullptr); break;
    case DAT_EVENT: Write<TW_MEMREF>(p + offsetof(TW_EVENT, pEvent), m_platformEvent); break;
    case DAT_USERINTERFACE: Write<TW_HANDLE>(p + offsetof(TW_USERINTERFACE, hParent), nullptr); break;
    case DAT_CUSTOMDSDATA:
        // The recorded settings block is not kept: a set sends none.
        Write<TW_UINT32>(p + offsetof(TW_CUSTOMDSDATA, InfoLength), 0);
        Write<TW_HANDLE>(p + offsetof(TW_CUSTOMDSDATA, hData), nullptr);
        break;
    case DAT_IDENTITY:
        if (msg == MSG_OPENDS || msg == MSG_CLOSEDS)
            Write<decltype(TW_IDENTITY{}.Id)>(p + offsetof(TW_IDENTITY, Id), context.sourceId);
        break;
    case DAT_ENTRYPOINT:
        if (msg == MSG_SET && context.entryPoints) std::memcpy(p, context.entryPoints, sizeof(TW_ENTRYPOINT));
        break;
    case DAT_SETUPFILEXFER:
        if (msg == MSG_SET || msg == MSG_GET || msg == MSG_GETDEFAULT) {
            // The recorded file's name, in the replay's folder.
            char* name = reinterpret_cast<char*>(p + offsetof(TW_SETUPFILEXFER, FileName));
            std::string recorded = tracelet::values::FieldText(name, sizeof(TW_STR255));
            const std::size_t slash = recorded.find_last_of('/');
            if (slash != std::string::npos) recorded.erase(0, slash + 1);
            if (recorded.empty()) recorded = "replay";
            tracelet::values::PutFieldText(
                name, sizeof(TW_STR255), context.fileFolder.empty() ? recorded : context.fileFolder + "/" + recorded);
        }
        break;
    default: break;
    }
}

void CallInput::Release() {
    if (m_buffer) {
        unsigned char* p = reinterpret_cast<unsigned char*>(m_buffer.get());
        // What the source handed the application is the application's.
        if (m_dat == DAT_CAPABILITY) {
            const TW_HANDLE h = Read<TW_HANDLE>(p + offsetof(TW_CAPABILITY, hContainer));
            if (h && h != m_container) TwainDisposeHandle(h);
        } else if (m_dat == DAT_IMAGENATIVEXFER) {
            if (const TW_HANDLE h = Read<TW_HANDLE>(p)) TwainDisposeHandle(h);
        } else if (m_dat == DAT_CUSTOMDSDATA) {
            if (const TW_HANDLE h = Read<TW_HANDLE>(p + offsetof(TW_CUSTOMDSDATA, hData))) TwainDisposeHandle(h);
        }
    }
    if (m_container) TwainDisposeHandle(m_container);
    if (m_memoryHandle) TwainDisposeHandle(m_memoryHandle);
    m_container = m_memoryHandle = nullptr;
    m_memory.reset();
    m_buffer.reset();
}

}  // namespace replay
