// Control and transfer structures: identities, events, status, the user
// interface, transfer set-up, extended image information.
//
// Every formatter copies its structure out of the caller's memory first and
// prints only from that copy. Each is a list of its lines in log order; the
// format strings are the log's own, with CR LF as the last "%s".
#include "analyzer/ParaAnalyze.h"

namespace {

// A TW_UINT32 for "%ld": zero-extended, so it prints as an unsigned decimal.
inline long U32(TW_UINT32 v) { return static_cast<long>(v); }
static_assert(sizeof(long) > sizeof(TW_UINT32), "\"%ld\" of a TW_UINT32 must not go negative");

// A message is named by the standard table up to 0x8000, by the vendor
// table above.
const char* MessageName(CParaAnalyze& a, TW_UINT16 msg) {
    return msg <= 0x8000 ? a.Name(msg_macros, msg) : a.Name(msg_nv_macros, msg);
}

}  // namespace

bool CParaAnalyze::TwIdentityAnalyze(const TW_IDENTITY* p) {
    if (!p) return true;
    const TW_IDENTITY v = CopyIn<TW_IDENTITY>(p);
    // The identity handed over when the manager is opened is the origin's.
    if (m_MSG == MSG_OPENDSM)
        AppendF("  pOrigin:TW_IDENTITY = {%s", CRLF);
    else
        AppendF("  TW_IDENTITY = {%s", CRLF);
    // Pointer-sized where the layout makes it so (then signed), else the
    // 32-bit unsigned Id.
    AppendF("    Id              = [%ld]%s", static_cast<long>(v.Id), CRLF);
    AppendF("    Version         =%s", CRLF);
    TwVersionAnalyze(&v.Version);
    AppendF("    ProtocolMajor   = [%d]%s", v.ProtocolMajor, CRLF);
    AppendF("    ProtocolMinor   = [%d]%s", v.ProtocolMinor, CRLF);
    AppendF("    SupportedGroups = [%ld]%s", U32(v.SupportedGroups), CRLF);
    AppendF("    Manufacturer    = [%s]%s", FieldText<sizeof v.Manufacturer>(v.Manufacturer).c_str(), CRLF);
    AppendF("    ProductFamily   = [%s]%s", FieldText<sizeof v.ProductFamily>(v.ProductFamily).c_str(), CRLF);
    AppendF("    ProductName     = [%s]%s", FieldText<sizeof v.ProductName>(v.ProductName).c_str(), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwVersionAnalyze(const TW_VERSION* p) {
    if (!p) return true;
    const TW_VERSION v = CopyIn<TW_VERSION>(p);
    AppendF("    TW_VERSION = {%s", CRLF);
    AppendF("      MajorNum = [%d]%s", v.MajorNum, CRLF);
    AppendF("      MinorNum = [%d]%s", v.MinorNum, CRLF);
    AppendF("      Language = [%s]%s", Name(twlg_macros, v.Language), CRLF);
    AppendF("      Country  = [%s]%s", Name(twcy_macros, v.Country), CRLF);
    AppendF("      Info     = [%s]%s", FieldText<sizeof v.Info>(v.Info).c_str(), CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwEventAnalyze(const TW_EVENT* p) {
    if (!p) return true;
    const TW_EVENT v = CopyIn<TW_EVENT>(p);
    // An event that carries no message is not shown at all.
    if (v.TWMessage == MSG_NULL) return true;
    AppendF("  TW_EVENT = {%s", CRLF);
    AppendF("    pEvent    = <0x%08x>%s", Low32(v.pEvent), CRLF);
    AppendF("    TWMessage = [%s]%s", MessageName(*this, v.TWMessage), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwPendingXfersAnalyze(const TW_PENDINGXFERS* p) {
    if (!p) return true;
    const TW_PENDINGXFERS v = CopyIn<TW_PENDINGXFERS>(p);
    AppendF("  TW_PENDINGXFERS = {%s", CRLF);
    // Signed, so that the "unknown count" 0xFFFF reads -1.
    AppendF("    Count = [%d]%s", static_cast<TW_INT16>(v.Count), CRLF);
    AppendF("    EOJ   = [%ld]%s", U32(v.EOJ), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwSetupMemXferAnalyze(const TW_SETUPMEMXFER* p) {
    if (!p) return true;
    const TW_SETUPMEMXFER v = CopyIn<TW_SETUPMEMXFER>(p);
    AppendF("  TW_SETUPMEMXFER = {%s", CRLF);
    AppendF("    MinBufSize = [%ld]%s", U32(v.MinBufSize), CRLF);
    AppendF("    MaxBufSize = [%ld]%s", U32(v.MaxBufSize), CRLF);
    AppendF("    Preferred  = [%ld]%s", U32(v.Preferred), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwSetupFileXferAnalyze(const TW_SETUPFILEXFER* p) {
    if (!p) return true;
    const TW_SETUPFILEXFER v = CopyIn<TW_SETUPFILEXFER>(p);
    AppendF("  TW_SETUPFILEXFER = {%s", CRLF);
    AppendF("    FileName = [%s]%s", FieldText<sizeof v.FileName>(v.FileName).c_str(), CRLF);
    AppendF("    Format   = [%s]%s", Name(twff_macros, v.Format), CRLF);
    AppendF("    VRefNum  = [%d]%s", v.VRefNum, CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwStatusAnalyze(const TW_STATUS* p) {
    if (!p) return true;
    const TW_STATUS v = CopyIn<TW_STATUS>(p);
    AppendF("  TW_STATUS = {%s", CRLF);
    AppendF("    ConditionCode = [%s]%s", Name(twcc_macros, v.ConditionCode), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwUserInterfaceAnalyze(const TW_USERINTERFACE* p) {
    if (!p) return true;
    const TW_USERINTERFACE v = CopyIn<TW_USERINTERFACE>(p);
    AppendF("  TW_USERINTERFACE = {%s", CRLF);
    AppendF("    ShowUI  = [%s]%s", BoolText(v.ShowUI), CRLF);
    AppendF("    ModalUI = [%s]%s", BoolText(v.ModalUI), CRLF);
    AppendF("    hParent = <0x%08x>%s", Low32(v.hParent), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwCustomDsDataAnalyze(const TW_CUSTOMDSDATA* p) {
    if (!p) return true;
    const TW_CUSTOMDSDATA v = CopyIn<TW_CUSTOMDSDATA>(p);
    AppendF("  TW_CUSTOMDSDATA = {%s", CRLF);
    AppendF("    InfoLength = [%d]%s", static_cast<TW_INT32>(v.InfoLength), CRLF);
    AppendF("    hData      = <0x%08x>%s", Low32(v.hData), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwUint32(const void* p) {
    if (!p) return true;
    // For a native transfer this is the first four bytes of the returned
    // handle, its low half.
    const TW_UINT32 item = CopyIn<TW_UINT32>(p);
    AppendF("  TW_UINT32 = {%s", CRLF);
    if (m_DAT == DAT_XFERGROUP || m_DAT == DAT_IMAGENATIVEXFER)
        AppendF("    Item = <0x%08x>%s", item, CRLF);
    else
        AppendF("    Item = [%ld]%s", U32(item), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwExtImageInfoAnalyze(const TW_EXTIMAGEINFO* p) {
    if (!p) return true;
    // The structure as declared holds one TW_INFO: only that one is shown,
    // whatever NumInfos says.
    const TW_EXTIMAGEINFO v = CopyIn<TW_EXTIMAGEINFO>(p);
    AppendF("  TW_EXTIMAGEINFO = {%s", CRLF);
    AppendF("    NumInfos = [%ld]%s", U32(v.NumInfos), CRLF);
    AppendF("    Info     =%s", CRLF);
    TwInfoAnalyze(&v.Info[0]);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwInfoAnalyze(const TW_INFO* p) {
    if (!p) return true;
    const TW_INFO v = CopyIn<TW_INFO>(p);
    AppendF("    TW_INFO = {%s", CRLF);
    AppendF("      InfoID   = [%d]%s", v.InfoID, CRLF);
    AppendF("      ItemType = [%s]%s", Name(twty_macros, v.ItemType), CRLF);
    AppendF("      NumItems = [%d]%s", v.NumItems, CRLF);
    AppendF("      CondCode = [%s]%s", Name(twrc_macros, v.CondCode), CRLF);
    // The log shows Item as a 32-bit unsigned number; where the layout
    // makes Item pointer-sized, that is its low 32 bits.
    AppendF("      Item     = [%ld]%s", U32(Low32(static_cast<uintptr_t>(v.Item))), CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwMemoryAnalyze(const TW_MEMORY* p) {
    if (!p) return true;
    const TW_MEMORY v = CopyIn<TW_MEMORY>(p);
    AppendF("    TW_MEMORY = {%s", CRLF);
    AppendF("      Flags  = [0x%x]%s", v.Flags, CRLF);
    AppendF("      Length = [%ld]%s", U32(v.Length), CRLF);
    AppendF("      TheMem = <0x%08x>%s", Low32(v.TheMem), CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwEntryPointAnalyze(const TW_ENTRYPOINT* p) {
    if (!p) return true;
    const TW_ENTRYPOINT v = CopyIn<TW_ENTRYPOINT>(p);
    AppendF("  TW_ENTRYPOINT = {%s", CRLF);
    AppendF("    Size            = [%ld]%s", U32(v.Size), CRLF);
    AppendF("    DSM_Entry       = <0x%08x>%s", Low32(reinterpret_cast<uintptr_t>(v.DSM_Entry)), CRLF);
    AppendF("    DSM_MemAllocate = <0x%08x>%s", Low32(reinterpret_cast<uintptr_t>(v.DSM_MemAllocate)), CRLF);
    AppendF("    DSM_MemFree     = <0x%08x>%s", Low32(reinterpret_cast<uintptr_t>(v.DSM_MemFree)), CRLF);
    AppendF("    DSM_MemLock     = <0x%08x>%s", Low32(reinterpret_cast<uintptr_t>(v.DSM_MemLock)), CRLF);
    AppendF("    DSM_MemUnlock   = <0x%08x>%s", Low32(reinterpret_cast<uintptr_t>(v.DSM_MemUnlock)), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

// The data source never shows these: DAT_TWUNKIDENTITY carries no structure
// the trace prints.
bool CParaAnalyze::TwTwunkIdentityAnalyze() { return true; }
bool CParaAnalyze::TwTwunkDsentryParamsAnalyze() { return true; }
bool CParaAnalyze::TwTwunkDsentryReturnAnalyze() { return true; }
