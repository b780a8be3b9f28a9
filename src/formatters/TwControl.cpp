// Control and transfer structures: identities, events, status, the user
// interface, transfer set-up, extended image information.
//
// Every formatter copies its structure out of the caller's memory first and
// prints only from that copy. Each is a list of its lines in log order; the
// format strings are the log's own, with CR LF as the last "%s".
#include "formatters/Formatters.h"

namespace {

// A message is named by the standard table up to 0x8000, by the vendor
// table above.
NameText MessageName(TW_UINT16 msg) { return msg <= 0x8000 ? Name(msg_macros, msg) : Name(msg_nv_macros, msg); }

}  // namespace

void DumpIdentity(TextOut& out, const TW_IDENTITY& v, bool origin) {
    // The identity handed over when the manager is opened is the origin's.
    if (origin)
        TRACE_APPEND(out, "  pOrigin:TW_IDENTITY = {%s", CRLF);
    else
        TRACE_APPEND(out, "  TW_IDENTITY = {%s", CRLF);
    // Pointer-sized where the layout makes it so (then signed), else the
    // 32-bit unsigned Id.
    TRACE_APPEND(out, "    Id              = [%ld]%s", static_cast<long>(v.Id), CRLF);
    TRACE_APPEND(out, "    Version         =%s", CRLF);
    DumpVersion(out, v.Version);
    TRACE_APPEND(out, "    ProtocolMajor   = [%d]%s", v.ProtocolMajor, CRLF);
    TRACE_APPEND(out, "    ProtocolMinor   = [%d]%s", v.ProtocolMinor, CRLF);
    TRACE_APPEND(out, "    SupportedGroups = [%lu]%s", Unsigned(v.SupportedGroups), CRLF);
    TRACE_APPEND(out, "    Manufacturer    = [%s]%s", Text(v.Manufacturer).c_str(), CRLF);
    TRACE_APPEND(out, "    ProductFamily   = [%s]%s", Text(v.ProductFamily).c_str(), CRLF);
    TRACE_APPEND(out, "    ProductName     = [%s]%s", Text(v.ProductName).c_str(), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpVersion(TextOut& out, const TW_VERSION& v) {
    TRACE_APPEND(out, "    TW_VERSION = {%s", CRLF);
    TRACE_APPEND(out, "      MajorNum = [%d]%s", v.MajorNum, CRLF);
    TRACE_APPEND(out, "      MinorNum = [%d]%s", v.MinorNum, CRLF);
    TRACE_APPEND(out, "      Language = [%s]%s", Name(twlg_macros, v.Language).c_str(), CRLF);
    TRACE_APPEND(out, "      Country  = [%s]%s", Name(twcy_macros, v.Country).c_str(), CRLF);
    TRACE_APPEND(out, "      Info     = [%s]%s", Text(v.Info).c_str(), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpEvent(TextOut& out, const TW_EVENT& v) {
    // An event that carries no message is not shown at all.
    if (v.TWMessage == MSG_NULL) return;
    TRACE_APPEND(out, "  TW_EVENT = {%s", CRLF);
    TRACE_APPEND(out, "    pEvent    = <0x%08x>%s", Handle(v.pEvent), CRLF);
    TRACE_APPEND(out, "    TWMessage = [%s]%s", MessageName(v.TWMessage).c_str(), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpPendingXfers(TextOut& out, const TW_PENDINGXFERS& v) {
    TRACE_APPEND(out, "  TW_PENDINGXFERS = {%s", CRLF);
    // Signed, so that the "unknown count" 0xFFFF reads -1.
    TRACE_APPEND(out, "    Count = [%d]%s", Signed(v.Count), CRLF);
    TRACE_APPEND(out, "    EOJ   = [%lu]%s", Unsigned(v.EOJ), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpSetupMemXfer(TextOut& out, const TW_SETUPMEMXFER& v) {
    TRACE_APPEND(out, "  TW_SETUPMEMXFER = {%s", CRLF);
    TRACE_APPEND(out, "    MinBufSize = [%lu]%s", Unsigned(v.MinBufSize), CRLF);
    TRACE_APPEND(out, "    MaxBufSize = [%lu]%s", Unsigned(v.MaxBufSize), CRLF);
    TRACE_APPEND(out, "    Preferred  = [%lu]%s", Unsigned(v.Preferred), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpSetupFileXfer(TextOut& out, const TW_SETUPFILEXFER& v) {
    TRACE_APPEND(out, "  TW_SETUPFILEXFER = {%s", CRLF);
    TRACE_APPEND(out, "    FileName = [%s]%s", Text(v.FileName).c_str(), CRLF);
    TRACE_APPEND(out, "    Format   = [%s]%s", Name(twff_macros, v.Format).c_str(), CRLF);
    TRACE_APPEND(out, "    VRefNum  = [%d]%s", v.VRefNum, CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpStatus(TextOut& out, const TW_STATUS& v) {
    TRACE_APPEND(out, "  TW_STATUS = {%s", CRLF);
    TRACE_APPEND(out, "    ConditionCode = [%s]%s", Name(twcc_macros, v.ConditionCode).c_str(), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpUserInterface(TextOut& out, const TW_USERINTERFACE& v) {
    TRACE_APPEND(out, "  TW_USERINTERFACE = {%s", CRLF);
    TRACE_APPEND(out, "    ShowUI  = [%s]%s", Bool(v.ShowUI), CRLF);
    TRACE_APPEND(out, "    ModalUI = [%s]%s", Bool(v.ModalUI), CRLF);
    TRACE_APPEND(out, "    hParent = <0x%08x>%s", Handle(v.hParent), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpCustomDsData(TextOut& out, const TW_CUSTOMDSDATA& v) {
    TRACE_APPEND(out, "  TW_CUSTOMDSDATA = {%s", CRLF);
    TRACE_APPEND(out, "    InfoLength = [%d]%s", Signed(v.InfoLength), CRLF);
    TRACE_APPEND(out, "    hData      = <0x%08x>%s", Handle(v.hData), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpUint32(TextOut& out, const TW_UINT32& item, bool handle) {
    // For a native transfer this is the first four bytes of the returned
    // handle, its low half.
    TRACE_APPEND(out, "  TW_UINT32 = {%s", CRLF);
    if (handle)
        TRACE_APPEND(out, "    Item = <0x%08x>%s", item, CRLF);
    else
        TRACE_APPEND(out, "    Item = [%lu]%s", Unsigned(item), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpExtImageInfo(TextOut& out, const TW_EXTIMAGEINFO& v) {
    // The structure as declared holds one TW_INFO: only that one is shown,
    // whatever NumInfos says.
    TRACE_APPEND(out, "  TW_EXTIMAGEINFO = {%s", CRLF);
    TRACE_APPEND(out, "    NumInfos = [%lu]%s", Unsigned(v.NumInfos), CRLF);
    TRACE_APPEND(out, "    Info     =%s", CRLF);
    DumpInfo(out, v.Info[0]);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpInfo(TextOut& out, const TW_INFO& v) {
    TRACE_APPEND(out, "    TW_INFO = {%s", CRLF);
    TRACE_APPEND(out, "      InfoID   = [%d]%s", v.InfoID, CRLF);
    TRACE_APPEND(out, "      ItemType = [%s]%s", Name(twty_macros, v.ItemType).c_str(), CRLF);
    TRACE_APPEND(out, "      NumItems = [%d]%s", v.NumItems, CRLF);
    TRACE_APPEND(out, "      CondCode = [%s]%s", Name(twrc_macros, v.CondCode).c_str(), CRLF);
    // The log shows Item as a 32-bit unsigned number; where the layout
    // makes Item pointer-sized, that is its low 32 bits.
    TRACE_APPEND(out, "      Item     = [%lu]%s", Unsigned(Handle(static_cast<uintptr_t>(v.Item))), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpMemory(TextOut& out, const TW_MEMORY& v) {
    TRACE_APPEND(out, "    TW_MEMORY = {%s", CRLF);
    TRACE_APPEND(out, "      Flags  = [0x%x]%s", v.Flags, CRLF);
    TRACE_APPEND(out, "      Length = [%lu]%s", Unsigned(v.Length), CRLF);
    TRACE_APPEND(out, "      TheMem = <0x%08x>%s", Handle(v.TheMem), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpEntryPoint(TextOut& out, const TW_ENTRYPOINT& v) {
    TRACE_APPEND(out, "  TW_ENTRYPOINT = {%s", CRLF);
    TRACE_APPEND(out, "    Size            = [%lu]%s", Unsigned(v.Size), CRLF);
    TRACE_APPEND(out, "    DSM_Entry       = <0x%08x>%s", Handle(reinterpret_cast<uintptr_t>(v.DSM_Entry)), CRLF);
    TRACE_APPEND(out, "    DSM_MemAllocate = <0x%08x>%s", Handle(reinterpret_cast<uintptr_t>(v.DSM_MemAllocate)), CRLF);
    TRACE_APPEND(out, "    DSM_MemFree     = <0x%08x>%s", Handle(reinterpret_cast<uintptr_t>(v.DSM_MemFree)), CRLF);
    TRACE_APPEND(out, "    DSM_MemLock     = <0x%08x>%s", Handle(reinterpret_cast<uintptr_t>(v.DSM_MemLock)), CRLF);
    TRACE_APPEND(out, "    DSM_MemUnlock   = <0x%08x>%s", Handle(reinterpret_cast<uintptr_t>(v.DSM_MemUnlock)), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}
