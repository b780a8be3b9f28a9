#include "SessionRecorder.h"

#include <stdio.h>
#include <string.h>

#include <sstream>

#include "NativeImage.h"
#include "tracelet/twain_memory.h"

namespace chain {

namespace {

// The manager's side of DAT_ENTRYPOINT: the record the source's
// notifications go to, and the memory services.
SessionRecord* g_recording = nullptr;

TW_UINT16 ManagerEntry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                       TW_MEMREF) {
    if (g_recording) {
        std::ostringstream s;
        s << "from \"" << (pOrigin ? pOrigin->ProductName : "(null)") << "\" to \""
          << (pDest ? pDest->ProductName : "(null)") << "\": DG " << DG << " DAT " << DAT << " MSG " << MSG;
        g_recording->notifications.push_back(s.str());
    }
    return TWRC_SUCCESS;
}
TW_HANDLE ManagerAllocate(TW_UINT32 size) { return TwainNewHandle(size); }
void ManagerFree(TW_HANDLE h) { TwainDisposeHandle(h); }
TW_MEMREF ManagerLock(TW_HANDLE h) { return TwainLockHandle(h); }
void ManagerUnlock(TW_HANDLE h) { TwainUnlockHandle(h); }


std::string Hex(const unsigned char* p, size_t n) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        snprintf(two, sizeof two, "%02x", p[i]);
        text += two;
    }
    return text;
}

// A structure the source filled in, byte for byte (it was zeroed first, so
// its padding compares too).
template <typename T>
std::string Bytes(const T& value) {
    return Hex(reinterpret_cast<const unsigned char*>(&value), sizeof value);
}

TW_FIX32 ToFix(double v) {
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(v);
    f.Frac = static_cast<TW_UINT16>((v - f.Whole) * 65536.0);
    return f;
}

class Driver {
public:
    Driver(DSENTRYPROC entry, SessionRecord& record) : entry_(entry), record_(record) {
        app_.Id = 1;
        app_.Version.MajorNum = 1;
        app_.ProtocolMajor = 2;
        app_.ProtocolMinor = 4;
        app_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        strncpy(app_.Manufacturer, "Tracelet tests", sizeof app_.Manufacturer - 1);
        strncpy(app_.ProductName, "Session recorder", sizeof app_.ProductName - 1);
    }

    void Run(Mechanism mechanism) {
        TW_IDENTITY identity;
        memset(&identity, 0, sizeof identity);
        Step("identity", DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
        Note(Bytes(identity));

        GetCapability("capability before open", CAP_XFERCOUNT);

        source_ = identity;
        source_.Id = 2;
        if (Step("open", DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) return;

        TW_ENTRYPOINT entry;
        memset(&entry, 0, sizeof entry);
        entry.Size = sizeof entry;
        entry.DSM_Entry = ManagerEntry;
        entry.DSM_MemAllocate = ManagerAllocate;
        entry.DSM_MemFree = ManagerFree;
        entry.DSM_MemLock = ManagerLock;
        entry.DSM_MemUnlock = ManagerUnlock;
        Step("entry points", DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);

        GetCapability("supported capabilities", CAP_SUPPORTEDCAPS);
        GetCapability("unknown capability", 0x7777);
        SetCapability("transfer count", CAP_XFERCOUNT, TWTY_INT16, 2);
        SetCapability("rejected mechanism", ICAP_XFERMECH, TWTY_UINT16, 99);
        SetCapability("mechanism", ICAP_XFERMECH, TWTY_UINT16,
                      mechanism == Mechanism::Memory ? TWSX_MEMORY : TWSX_NATIVE);
        GetCapability("mechanism", ICAP_XFERMECH);
        GetCapability("pixel type", ICAP_PIXELTYPE);

        // A strip across the top, wider than the glass: the source clips it
        // (TWRC_CHECKSTATUS).
        TW_IMAGELAYOUT layout;
        memset(&layout, 0, sizeof layout);
        layout.Frame.Left = ToFix(0.0);
        layout.Frame.Top = ToFix(0.0);
        layout.Frame.Right = ToFix(9.5);
        layout.Frame.Bottom = ToFix(3.0);
        Step("scan area", DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
        Note(Bytes(layout));

        TW_USERINTERFACE ui;
        memset(&ui, 0, sizeof ui);
        if (Step("enable", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) return;
        TW_EVENT event;
        memset(&event, 0, sizeof event);
        Step("event", DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        Note("message " + std::to_string(event.TWMessage));

        for (int page = 0; page < 10; ++page) {
            TW_IMAGEINFO info;
            memset(&info, 0, sizeof info);
            if (Step("image info", DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) break;
            Note(Bytes(info));
            TW_IMAGELAYOUT pageLayout;
            memset(&pageLayout, 0, sizeof pageLayout);
            Step("page layout", DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &pageLayout);
            Note(Bytes(pageLayout));

            record_.pages.emplace_back();
            if (mechanism == Mechanism::Memory)
                MemoryTransfer(record_.pages.back());
            else
                NativeTransfer(record_.pages.back());

            TW_PENDINGXFERS pending;
            memset(&pending, 0, sizeof pending);
            if (Step("end transfer", DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) != TWRC_SUCCESS) break;
            Note("count " + std::to_string(pending.Count));
            if (pending.Count == 0) break;
        }

        Step("disable", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        Step("close", DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        Step("disable after close", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }

private:
    // One call; after anything but TWRC_SUCCESS the source is asked for
    // its condition code.
    TW_UINT16 Step(const std::string& name, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF data) {
        const TW_UINT16 rc = entry_(&app_, DG, DAT, MSG, data);
        std::string line = name + ": rc " + std::to_string(rc);
        if (rc != TWRC_SUCCESS) {
            TW_STATUS status;
            memset(&status, 0, sizeof status);
            const TW_UINT16 statusRc = entry_(&app_, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
            line += " status rc " + std::to_string(statusRc) + " cc " + std::to_string(status.ConditionCode);
        }
        record_.steps.push_back(line);
        return rc;
    }

    void Note(const std::string& detail) { record_.steps.back() += " | " + detail; }

    void GetCapability(const std::string& name, TW_UINT16 id) {
        TW_CAPABILITY cap;
        memset(&cap, 0, sizeof cap);
        cap.Cap = id;
        cap.ConType = TWON_DONTCARE16;
        if (Step(name, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap) == TWRC_SUCCESS) Note(TakeContainer(cap));
    }

    void SetCapability(const std::string& name, TW_UINT16 id, TW_UINT16 type, TW_UINT32 value) {
        TW_CAPABILITY cap;
        memset(&cap, 0, sizeof cap);
        cap.Cap = id;
        cap.ConType = TWON_ONEVALUE;
        cap.hContainer = TwainNewHandle(sizeof(TW_ONEVALUE));
        auto* one = static_cast<TW_ONEVALUE*>(TwainLockHandle(cap.hContainer));
        one->ItemType = type;
        one->Item = value;
        TwainUnlockHandle(cap.hContainer);
        const TW_HANDLE mine = cap.hContainer;
        Step(name, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        if (cap.hContainer != mine) Note("container replaced");
        TwainDisposeHandle(mine);
    }

    // The bytes of a container the source handed over, as far as its
    // header says it reaches; the application then frees it.
    std::string TakeContainer(TW_CAPABILITY& cap) {
        const unsigned char* p = static_cast<const unsigned char*>(TwainLockHandle(cap.hContainer));
        if (!p) return "no container";
        size_t size = 0;
        switch (cap.ConType) {
            case TWON_ONEVALUE:
                size = offsetof(TW_ONEVALUE, Item) + TwainItemSize(reinterpret_cast<const TW_ONEVALUE*>(p)->ItemType);
                break;
            case TWON_RANGE: size = sizeof(TW_RANGE); break;
            case TWON_ARRAY: {
                const auto* a = reinterpret_cast<const TW_ARRAY*>(p);
                size = offsetof(TW_ARRAY, ItemList) + a->NumItems * TwainItemSize(a->ItemType);
                break;
            }
            case TWON_ENUMERATION: {
                const auto* e = reinterpret_cast<const TW_ENUMERATION*>(p);
                size = offsetof(TW_ENUMERATION, ItemList) + e->NumItems * TwainItemSize(e->ItemType);
                break;
            }
        }
        const std::string text = "contype " + std::to_string(cap.ConType) + " " + Hex(p, size);
        TwainUnlockHandle(cap.hContainer);
        TwainDisposeHandle(cap.hContainer);
        cap.hContainer = nullptr;
        return text;
    }

    void MemoryTransfer(std::vector<unsigned char>& page) {
        TW_SETUPMEMXFER setup;
        memset(&setup, 0, sizeof setup);
        if (Step("memory setup", DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) return;
        Note(Bytes(setup));
        // A buffer of a few rows, so that a page takes several strips.
        std::vector<unsigned char> buffer(setup.MinBufSize * 7);
        for (int strip = 0; strip < 100000; ++strip) {
            TW_IMAGEMEMXFER x;
            memset(&x, 0, sizeof x);
            x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            x.Memory.Length = static_cast<TW_UINT32>(buffer.size());
            x.Memory.TheMem = buffer.data();
            const TW_UINT16 rc = Step("strip", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
            if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) return;
            Note("rows " + std::to_string(x.Rows) + " y " + std::to_string(x.YOffset) + " bytes " +
                 std::to_string(x.BytesWritten));
            page.insert(page.end(), buffer.begin(), buffer.begin() + std::min<size_t>(x.BytesWritten, buffer.size()));
            if (rc == TWRC_XFERDONE) break;
        }
        TW_IMAGEMEMXFER again;
        memset(&again, 0, sizeof again);
        again.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        again.Memory.Length = static_cast<TW_UINT32>(buffer.size());
        again.Memory.TheMem = buffer.data();
        Step("strip after the last", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &again);
    }

    void NativeTransfer(std::vector<unsigned char>& page) {
        TW_HANDLE handle = nullptr;
        if (Step("native", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != TWRC_XFERDONE || !handle) return;
        const unsigned char* p = static_cast<const unsigned char*>(TwainLockHandle(handle));
        // The virtual scanner's native block: its header, then the rows.
        VsNativeImageHeader header;
        memcpy(&header, p, sizeof header);
        Note("header " + Hex(p, sizeof header));
        if (memcmp(header.magic, kVsNativeMagic, sizeof header.magic) == 0) {
            const size_t size = static_cast<size_t>(header.height) * header.bytesPerRow;
            page.assign(p + header.headerSize, p + header.headerSize + size);
        }
        TwainUnlockHandle(handle);
        TwainDisposeHandle(handle);
        TW_HANDLE again = nullptr;
        Step("native again", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &again);
    }

    DSENTRYPROC entry_;
    SessionRecord& record_;
    TW_IDENTITY app_{};
    TW_IDENTITY source_{};
};

}  // namespace

void PrintTo(Mechanism mechanism, std::ostream* out) {
    *out << (mechanism == Mechanism::Native ? "Native" : "Memory");
}

SessionRecord RecordSession(DSENTRYPROC entry, Mechanism mechanism) {
    SessionRecord record;
    g_recording = &record;
    Driver(entry, record).Run(mechanism);
    g_recording = nullptr;
    return record;
}

std::string ToText(const SessionRecord& record) {
    std::string text;
    for (const std::string& step : record.steps) text += step + "\n";
    for (const std::string& n : record.notifications) text += "notified " + n + "\n";
    for (size_t i = 0; i < record.pages.size(); ++i)
        text += "page " + std::to_string(i + 1) + ": " + std::to_string(record.pages[i].size()) + " bytes\n";
    return text;
}

}  // namespace chain
