// The virtual scanner's TWAIN behaviour: the states 3 to 7 of a data source,
// the triplets each state accepts, and the condition code of the last one.
#include "VirtualScanner.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "Capabilities.h"
#include "NativeImage.h"
#include "ScanSettings.h"
#include "TestPage.h"
#include "TwainValues.h"
#include "VendorOps.h"
#include "tracelet/twain_memory.h"

namespace vscan {

using tracelet::values::PutFieldText;

namespace {

constexpr int kLoaded = 3, kOpen = 4, kEnabled = 5, kXferReady = 6, kTransferring = 7;
// Buffer sizes offered for memory transfers.
constexpr std::uint32_t kPreferredStrip = 64 * 1024;
constexpr std::uint32_t kLargestStrip = 16 * 1024 * 1024;

// The source's own answer to DAT_IDENTITY; the Id stays the manager's.
void FillIdentity(TW_IDENTITY* id) {
    id->Version.MajorNum = 1;
    id->Version.MinorNum = 0;
    id->Version.Language = TWLG_ENGLISH;
    id->Version.Country = TWCY_USA;
    PutFieldText(id->Version.Info, "1.0 virtual flatbed");
    id->ProtocolMajor = 2;
    id->ProtocolMinor = 4;
    id->SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    PutFieldText(id->Manufacturer, "Tracelet");
    PutFieldText(id->ProductFamily, "Virtual Scanner");
    PutFieldText(id->ProductName, "Tracelet Virtual Scanner");
}

bool IsControlOperation(TW_UINT16 dat) {
    switch (dat) {
    case DAT_CAPABILITY:
    case DAT_EVENT:
    case DAT_IDENTITY:
    case DAT_PENDINGXFERS:
    case DAT_SETUPMEMXFER:
    case DAT_STATUS:
    case DAT_USERINTERFACE:
    case DAT_XFERGROUP:
    case DAT_ENTRYPOINT: return true;
    default: return false;
    }
}

bool IsImageOperation(TW_UINT16 dat) {
    switch (dat) {
    case DAT_IMAGEINFO:
    case DAT_IMAGELAYOUT:
    case DAT_IMAGEMEMXFER:
    case DAT_IMAGENATIVEXFER:
    case DAT_EXTIMAGEINFO: return true;
    default: return false;
    }
}

TW_INFO* InfoAt(TW_EXTIMAGEINFO* e, TW_UINT32 i) {
    return reinterpret_cast<TW_INFO*>(reinterpret_cast<unsigned char*>(e) + offsetof(TW_EXTIMAGEINFO, Info) +
                                      i * sizeof(TW_INFO));
}

// TRACELET_SCANNER_SIGNAL=thread: the source signals the application from a
// thread of its own, as scanners that scan in the background do, once the
// call that started the scan has returned.
bool SignalsFromOwnThread() {
    const char* how = std::getenv("TRACELET_SCANNER_SIGNAL");
    return how && std::strcmp(how, "thread") == 0;
}

class VirtualScanner final : public TripletOperator {
public:
    VirtualScanner() : m_caps(m_settings) { m_caps.Plant(m_faults); }
    ~VirtualScanner() override { JoinSignal(); }

    TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                           TW_MEMREF pData) override {
        Outcome o;
        EnterCall(+1);
        try {
            o = Dispatch(pOrigin, DG, DAT, MSG, pData);
        } catch (const std::bad_alloc&) {
            o = Failure(TWCC_LOWMEMORY);
        }
        EnterCall(-1);
        // DAT_STATUS reports the code and leaves it; event polling that
        // succeeds leaves it too, so that a failure is still there to ask about.
        if (m_faults.noSeqError && o.cc == TWCC_SEQERROR) o.cc = TWCC_BUMMER;
        const bool keepsCode = DAT == DAT_STATUS || (DAT == DAT_EVENT && o.rc != TWRC_FAILURE) ||
                               (m_faults.staleStatus && o.rc != TWRC_FAILURE);
        if (!keepsCode) m_conditionCode = o.rc == TWRC_FAILURE ? o.cc : TW_UINT16(TWCC_SUCCESS);
        return o.rc;
    }

private:
    Outcome Dispatch(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        const TW_UINT32 group = dg & 0xffff;
        if (IsVendorOperation(dat)) {
            if (group != DG_CONTROL && group != DG_IMAGE) return Failure(TWCC_BADPROTOCOL);
            return HandleVendorOperation(dat, msg, data, m_state, m_vendor, m_settings,
                                         m_page ? &m_page->Geometry() : nullptr);
        }
        if (!(IsControlOperation(dat) && group == DG_CONTROL) && !(IsImageOperation(dat) && group == DG_IMAGE))
            return Failure(TWCC_BADPROTOCOL);

        switch (dat) {
        case DAT_IDENTITY: return Identity(origin, msg, static_cast<TW_IDENTITY*>(data));
        case DAT_ENTRYPOINT: return EntryPoint(msg, static_cast<TW_ENTRYPOINT*>(data));
        case DAT_STATUS: return Status(msg, static_cast<TW_STATUS*>(data));
        case DAT_CAPABILITY: return Capability(msg, static_cast<TW_CAPABILITY*>(data));
        case DAT_USERINTERFACE: return UserInterface(msg, static_cast<TW_USERINTERFACE*>(data));
        case DAT_EVENT: return Event(msg, static_cast<TW_EVENT*>(data));
        case DAT_PENDINGXFERS: return PendingXfers(msg, static_cast<TW_PENDINGXFERS*>(data));
        case DAT_SETUPMEMXFER: return SetupMemXfer(msg, static_cast<TW_SETUPMEMXFER*>(data));
        case DAT_XFERGROUP: return XferGroup(msg, static_cast<TW_UINT32*>(data));
        case DAT_IMAGEINFO:
            if (m_faults.crash && m_state >= kXferReady) raise(SIGSEGV);
            while (m_faults.hang && m_state >= kXferReady) pause();
            return ImageInfo(msg, static_cast<TW_IMAGEINFO*>(data));
        case DAT_IMAGELAYOUT: return ImageLayout(msg, static_cast<TW_IMAGELAYOUT*>(data));
        case DAT_IMAGEMEMXFER: return ImageMemXfer(msg, static_cast<TW_IMAGEMEMXFER*>(data));
        case DAT_IMAGENATIVEXFER: return ImageNativeXfer(msg, static_cast<TW_HANDLE*>(data));
        case DAT_EXTIMAGEINFO: return ExtImageInfo(msg, static_cast<TW_EXTIMAGEINFO*>(data));
        default: return Failure(TWCC_BADPROTOCOL);
        }
    }

    bool InStates(int lo, int hi) const { return m_state >= lo && m_state <= hi; }

    // --- Session -------------------------------------------------------------

    Outcome Identity(pTW_IDENTITY origin, TW_UINT16 msg, TW_IDENTITY* id) {
        switch (msg) {
        case MSG_GET:
            if (!id) return Failure(TWCC_BADVALUE);
            FillIdentity(id);
            return Success();
        case MSG_OPENDS:
            if (m_state != kLoaded) return Failure(TWCC_SEQERROR);
            if (!id) return Failure(TWCC_BADVALUE);
            FillIdentity(id);
            m_identity = *id;
            m_haveApp = origin != nullptr;
            if (origin) m_app = *origin;
            // Every session starts from the factory settings.
            m_settings = ScanSettings();
            m_vendor = VendorState();
            if (m_faults.leakFd) (void)open("/dev/null", O_RDONLY);
            m_state = kOpen;
            return Success();
        case MSG_CLOSEDS:
            if (m_state != kOpen) return Failure(TWCC_SEQERROR);
            m_haveApp = false;
            m_state = kLoaded;
            return Success();
        default: return Failure(TWCC_BADPROTOCOL);
        }
    }

    Outcome EntryPoint(TW_UINT16 msg, TW_ENTRYPOINT* ep) {
        if (msg != MSG_SET) return Failure(TWCC_BADPROTOCOL);
        if (!InStates(kLoaded, kOpen)) return Failure(TWCC_SEQERROR);
        if (!ep || ep->Size < sizeof(TW_ENTRYPOINT)) return Failure(TWCC_BADVALUE);
        m_entry = *ep;
        return Success();
    }

    Outcome Status(TW_UINT16 msg, TW_STATUS* status) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        if (!status) return Failure(TWCC_BADVALUE);
        status->ConditionCode = m_conditionCode;
        status->Data = 0;
        return Success();
    }

    Outcome Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
        switch (msg) {
        case MSG_GET:
        case MSG_GETCURRENT:
        case MSG_GETDEFAULT:
        case MSG_QUERYSUPPORT:
            if (!InStates(kOpen, kTransferring)) return Failure(TWCC_SEQERROR);
            break;
        case MSG_SET:
        case MSG_RESET:
        case MSG_RESETALL:
            // Negotiation ends when the source is enabled.
            if (m_state != kOpen) return Failure(TWCC_SEQERROR);
            break;
        default: return Failure(TWCC_BADPROTOCOL);
        }
        return m_caps.Handle(msg, cap);
    }

    Outcome XferGroup(TW_UINT16 msg, TW_UINT32* group) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        if (!InStates(kOpen, kXferReady)) return Failure(TWCC_SEQERROR);
        if (!group) return Failure(TWCC_BADVALUE);
        *group = DG_IMAGE;
        return Success();
    }

    // --- Enabling and events ---------------------------------------------------

    Outcome UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui) {
        switch (msg) {
        case MSG_ENABLEDS:
            if (m_state != kOpen) return Failure(TWCC_SEQERROR);
            if (!ui) return Failure(TWCC_BADVALUE);
            // There is no dialog to show: with ShowUI the "user" presses Scan
            // at once, and the source asks to be closed after the batch.
            m_showUI = ui->ShowUI != 0;
            m_pagesLeft = PagesInBatch(m_settings);
            m_pageNumber = 0;
            m_state = kEnabled;
            Notify(MSG_XFERREADY);
            return Success();
        case MSG_DISABLEDS:
            if (m_state != kEnabled) return Failure(TWCC_SEQERROR);
            m_pendingEvent = MSG_NULL;
            m_page.reset();
            m_settings.feederSheets = kFeederSheets;
            m_state = kOpen;
            return Success();
        default: return Failure(TWCC_BADPROTOCOL);
        }
    }

    // Tells the application: through the manager's callback when the
    // application takes callbacks (a 2.x application and a manager that gave
    // its entry points) and the manager delivers it, else at its next
    // DAT_EVENT/MSG_PROCESSEVENT. The source is in the state the notice
    // announces before the application hears of it, so that a callback may
    // go on with the transfer at once.
    void Notify(TW_UINT16 msg) {
        const bool callbacks = m_entry.DSM_Entry && m_haveApp && (m_app.SupportedGroups & DF_APP2);
        if (!callbacks) {
            m_pendingEvent = msg;
            return;
        }
        const int page = m_pageNumber;
        Delivered(msg);
        if (m_ownThread) {
            Signal(msg);
            return;
        }
        if (m_entry.DSM_Entry(&m_identity, &m_app, DG_CONTROL, DAT_NULL, msg, nullptr) == TWRC_SUCCESS) return;
        // Not delivered: back to where the event loop will tell it.
        if (msg == MSG_XFERREADY && m_state == kXferReady && m_pageNumber == page + 1) {
            m_state = kEnabled;
            m_page.reset();
            m_pageNumber = page;
        }
        m_pendingEvent = msg;
    }

    void Delivered(TW_UINT16 msg) {
        if (msg == MSG_XFERREADY && m_state == kEnabled) {
            m_state = kXferReady;
            NextPage();
        }
    }

    Outcome Event(TW_UINT16 msg, TW_EVENT* event) {
        if (msg != MSG_PROCESSEVENT) return Failure(TWCC_BADPROTOCOL);
        if (m_state < kOpen) return Failure(TWCC_SEQERROR);
        if (!event) return Failure(TWCC_BADVALUE);
        if (m_pendingEvent == MSG_NULL) {
            event->TWMessage = MSG_NULL;
            return Success(TWRC_NOTDSEVENT);
        }
        event->TWMessage = m_pendingEvent;
        m_pendingEvent = MSG_NULL;
        Delivered(event->TWMessage);
        return Success(TWRC_DSEVENT);
    }

    // --- Signalling from the source's own thread -------------------------------

    // Counts the application's calls in progress (callbacks may nest them).
    void EnterCall(int step) {
        std::lock_guard<std::mutex> lock(m_signalLock);
        m_callDepth += step;
        if (m_callDepth == 0) m_callsDone.notify_all();
    }

    // Sends `msg` from the source's own thread once no application call is
    // in progress. A notice the manager does not deliver is lost, as from a
    // real scanner.
    void Signal(TW_UINT16 msg) {
        std::lock_guard<std::mutex> lock(m_signalLock);
        m_signals.push_back(msg);
        m_callsDone.notify_all();
        if (!m_signaller.joinable()) m_signaller = std::thread([this] { SignalLoop(); });
    }

    void SignalLoop() {
        std::unique_lock<std::mutex> lock(m_signalLock);
        for (;;) {
            m_callsDone.wait(lock, [this] { return m_stopSignalling || (!m_signals.empty() && m_callDepth == 0); });
            if (m_stopSignalling) return;
            const TW_UINT16 msg = m_signals.front();
            m_signals.erase(m_signals.begin());
            const DSMENTRYPROC entry = m_entry.DSM_Entry;
            lock.unlock();
            entry(&m_identity, &m_app, DG_CONTROL, DAT_NULL, msg, nullptr);
            lock.lock();
        }
    }

    void JoinSignal() {
        {
            std::lock_guard<std::mutex> lock(m_signalLock);
            m_stopSignalling = true;
            m_callsDone.notify_all();
        }
        if (m_signaller.joinable() && m_signaller.get_id() != std::this_thread::get_id()) m_signaller.join();
    }

    // --- Transfers -----------------------------------------------------------

    void NextPage() {
        ++m_pageNumber;
        m_page = std::make_unique<TestPage>(GeometryFor(m_settings), m_pageNumber, m_settings.brightness,
                                            m_settings.contrast);
        m_xfer = Xfer::None;
        m_nextRow = 0;
        m_pageDone = false;
    }

    Outcome PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* px) {
        if (!px) return Failure(TWCC_BADVALUE);
        switch (msg) {
        case MSG_GET:
            if (!InStates(kOpen, kTransferring)) return Failure(TWCC_SEQERROR);
            px->Count = static_cast<TW_UINT16>(m_state >= kXferReady ? m_pagesLeft : 0);
            px->EOJ = 0;
            return Success();
        case MSG_ENDXFER:
            // In state 6 the page is skipped; in state 7 what is left of it
            // is dropped.
            if (!InStates(kXferReady, kTransferring)) return Failure(TWCC_SEQERROR);
            --m_pagesLeft;
            if (m_settings.feederEnabled && m_settings.feederSheets > 0) --m_settings.feederSheets;
            if (m_pagesLeft > 0) {
                m_state = kXferReady;
                NextPage();
            } else {
                EndBatch();
            }
            px->Count = static_cast<TW_UINT16>(m_pagesLeft);
            px->EOJ = 0;
            return Success();
        case MSG_RESET:
            if (m_state != kXferReady) return Failure(TWCC_SEQERROR);
            m_pagesLeft = 0;
            EndBatch();
            px->Count = 0;
            px->EOJ = 0;
            return Success();
        default: return Failure(TWCC_BADPROTOCOL);
        }
    }

    void EndBatch() {
        m_page.reset();
        m_state = kEnabled;
        if (m_showUI) Notify(MSG_CLOSEDSREQ);
    }

    Outcome SetupMemXfer(TW_UINT16 msg, TW_SETUPMEMXFER* setup) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        if (!InStates(kOpen, kXferReady)) return Failure(TWCC_SEQERROR);
        if (!setup) return Failure(TWCC_BADVALUE);
        const PageGeometry g = m_page ? m_page->Geometry() : GeometryFor(m_settings);
        const std::uint32_t row = g.bytesPerRow;
        const std::uint64_t page = std::uint64_t(row) * g.height;
        const std::uint32_t preferred = std::max(row, kPreferredStrip / row * row);
        const std::uint64_t largest = std::min<std::uint64_t>(page, kLargestStrip / row * row);
        setup->MinBufSize = row;
        setup->Preferred = preferred;
        setup->MaxBufSize = static_cast<TW_UINT32>(std::max<std::uint64_t>(preferred, largest));
        return Success();
    }

    Outcome ImageInfo(TW_UINT16 msg, TW_IMAGEINFO* info) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        if (!InStates(kXferReady, kTransferring) || !m_page) return Failure(TWCC_SEQERROR);
        if (!info) return Failure(TWCC_BADVALUE);
        const PageGeometry& g = m_page->Geometry();
        std::memset(info, 0, sizeof *info);
        info->XResolution = TwainFix32Of(ResolutionInUnits(m_settings, g.xResolution));
        info->YResolution = TwainFix32Of(ResolutionInUnits(m_settings, g.yResolution));
        info->ImageWidth = static_cast<TW_INT32>(g.width);
        info->ImageLength = static_cast<TW_INT32>(g.height);
        info->SamplesPerPixel = static_cast<TW_INT16>(g.samplesPerPixel);
        for (int i = 0; i < g.samplesPerPixel; ++i) info->BitsPerSample[i] = static_cast<TW_INT16>(g.bitsPerSample);
        info->BitsPerPixel = static_cast<TW_INT16>(g.bitsPerPixel);
        info->Planar = 0;
        info->PixelType = static_cast<TW_INT16>(g.pixelType);
        info->Compression = TWCP_NONE;
        return Success();
    }

    void FillLayout(TW_IMAGELAYOUT* layout, const Rect& frame) const {
        layout->Frame = FrameInUnits(m_settings, frame);
        layout->DocumentNumber = 1;
        layout->PageNumber = static_cast<TW_UINT32>(m_state >= kXferReady ? m_pageNumber : m_pageNumber + 1);
        layout->FrameNumber = 1;
    }

    Outcome ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout) {
        if (!layout) return Failure(TWCC_BADVALUE);
        switch (msg) {
        case MSG_GET:
        case MSG_GETDEFAULT:
            if (!InStates(kOpen, kXferReady)) return Failure(TWCC_SEQERROR);
            FillLayout(layout, msg == MSG_GET ? m_settings.frame : DefaultFrame());
            return Success();
        case MSG_SET: {
            if (m_state != kOpen) return Failure(TWCC_SEQERROR);
            const Outcome o = ApplyFrame(m_settings, FrameFromUnits(m_settings, layout->Frame));
            if (o.rc != TWRC_FAILURE) FillLayout(layout, m_settings.frame);
            return o;
        }
        case MSG_RESET:
            if (m_state != kOpen) return Failure(TWCC_SEQERROR);
            m_settings.frame = DefaultFrame();
            m_settings.supportedSize = ScanSettings().supportedSize;
            FillLayout(layout, m_settings.frame);
            return Success();
        default: return Failure(TWCC_BADPROTOCOL);
        }
    }

    Outcome ImageMemXfer(TW_UINT16 msg, TW_IMAGEMEMXFER* x) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        const bool starting = m_state == kXferReady;
        const bool continuing = m_state == kTransferring && m_xfer == Xfer::Memory && !m_pageDone;
        if (!(starting || continuing) || !m_page) return Failure(TWCC_SEQERROR);
        if (!x) return Failure(TWCC_BADVALUE);

        const PageGeometry& g = m_page->Geometry();
        const TW_UINT32 flags = x->Memory.Flags;
        const bool pointer = (flags & TWMF_POINTER) != 0, handle = (flags & TWMF_HANDLE) != 0;
        // The application owns the buffer and it holds at least one row.
        if (!(flags & TWMF_APPOWNS) || pointer == handle || !x->Memory.TheMem || x->Memory.Length < g.bytesPerRow)
            return Failure(TWCC_BADVALUE);

        unsigned char* dst = pointer ? static_cast<unsigned char*>(x->Memory.TheMem)
                                     : static_cast<unsigned char*>(TwainLockHandle(static_cast<TW_HANDLE>(x->Memory.TheMem)));
        if (!dst) return Failure(TWCC_BADVALUE);
        const std::uint32_t rows = std::min(x->Memory.Length / g.bytesPerRow, g.height - m_nextRow);
        m_page->RenderRows(m_nextRow, rows, dst, g.bytesPerRow);
        if (handle) TwainUnlockHandle(static_cast<TW_HANDLE>(x->Memory.TheMem));

        x->Compression = TWCP_NONE;
        x->BytesPerRow = g.bytesPerRow;
        x->Columns = g.width;
        // The short-strip fault hides the last row of a page's first strip.
        const std::uint32_t told = m_faults.shortStrip && m_nextRow == 0 && rows > 1 ? rows - 1 : rows;
        x->Rows = told;
        x->XOffset = 0;
        x->YOffset = m_nextRow;
        x->BytesWritten = told * g.bytesPerRow;
        m_nextRow += rows;
        m_state = kTransferring;
        m_xfer = Xfer::Memory;
        if (m_nextRow < g.height) return Success();
        m_pageDone = true;
        return Success(TWRC_XFERDONE);
    }

    Outcome ImageNativeXfer(TW_UINT16 msg, TW_HANDLE* out) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        if (m_state != kXferReady || !m_page) return Failure(TWCC_SEQERROR);
        if (!out) return Failure(TWCC_BADVALUE);
        const PageGeometry& g = m_page->Geometry();
        const std::uint64_t size = sizeof(VsNativeImageHeader) + std::uint64_t(g.bytesPerRow) * g.height;
        if (size > 0xffffffffu) return Failure(TWCC_LOWMEMORY);
        // A source of this version allocates what it hands the application
        // with the manager's memory functions, when it was given them.
        const bool managed = m_entry.DSM_MemAllocate && m_entry.DSM_MemFree;
        TW_HANDLE h = managed ? m_entry.DSM_MemAllocate(static_cast<TW_UINT32>(size))
                              : TwainNewHandle(static_cast<TW_UINT32>(size));
        unsigned char* p = h ? static_cast<unsigned char*>(TwainLockHandle(h)) : nullptr;
        if (!p) {
            if (managed && h) m_entry.DSM_MemFree(h);
            else TwainDisposeHandle(h);
            return Failure(TWCC_LOWMEMORY);
        }
        VsNativeImageHeader header;
        std::memcpy(header.magic, kVsNativeMagic, sizeof header.magic);
        header.headerSize = sizeof header;
        header.width = g.width;
        header.height = g.height;
        header.bytesPerRow = g.bytesPerRow;
        header.pixelType = g.pixelType;
        header.bitsPerPixel = g.bitsPerPixel;
        header.samplesPerPixel = g.samplesPerPixel;
        header.bitsPerSample = g.bitsPerSample;
        header.xResolution = static_cast<std::uint16_t>(g.xResolution);
        header.yResolution = static_cast<std::uint16_t>(g.yResolution);
        std::memcpy(p, &header, sizeof header);
        m_page->RenderRows(0, g.height, p + sizeof header, g.bytesPerRow);
        TwainUnlockHandle(h);
        *out = h;
        m_state = kTransferring;
        m_xfer = Xfer::Native;
        m_pageDone = true;
        return Success(TWRC_XFERDONE);
    }

    Outcome ExtImageInfo(TW_UINT16 msg, TW_EXTIMAGEINFO* e) {
        if (msg != MSG_GET) return Failure(TWCC_BADPROTOCOL);
        if (m_state != kTransferring) return Failure(TWCC_SEQERROR);
        if (!e) return Failure(TWCC_BADVALUE);
        for (TW_UINT32 i = 0; i < e->NumInfos; ++i) {
            TW_INFO* info = InfoAt(e, i);
            TW_UINT16 type = TWTY_UINT32;
            TW_UINT32 value = 0;
            bool known = true;
            switch (info->InfoID) {
            case TWEI_DOCUMENTNUMBER: value = 1; break;
            case TWEI_PAGENUMBER: value = static_cast<TW_UINT32>(m_pageNumber); break;
            case TWEI_FRAMENUMBER: value = 1; break;
            case TWEI_PIXELFLAVOR:
                type = TWTY_UINT16;
                value = TWPF_CHOCOLATE;
                break;
            default: known = false;
            }
            info->ItemType = type;
            info->NumItems = known ? 1 : 0;
            info->CondCode = known ? TWRC_SUCCESS : TWRC_INFONOTSUPPORTED;
            info->Item = value;
        }
        return Success();
    }

    enum class Xfer { None, Memory, Native };

    const bool m_ownThread = SignalsFromOwnThread();
    std::thread m_signaller;
    std::mutex m_signalLock;  // guards the four below
    std::condition_variable m_callsDone;
    int m_callDepth = 0;
    std::vector<TW_UINT16> m_signals;
    bool m_stopSignalling = false;

    const Faults m_faults = FaultsFromEnvironment();
    int m_state = kLoaded;
    TW_UINT16 m_conditionCode = TWCC_SUCCESS;
    ScanSettings m_settings;
    CapabilitySet m_caps;
    VendorState m_vendor;

    TW_IDENTITY m_identity{};  // as the manager gave it at MSG_OPENDS
    TW_IDENTITY m_app{};
    bool m_haveApp = false;
    TW_ENTRYPOINT m_entry{};

    bool m_showUI = false;
    TW_UINT16 m_pendingEvent = MSG_NULL;
    int m_pagesLeft = 0;
    int m_pageNumber = 0;
    std::unique_ptr<TestPage> m_page;
    Xfer m_xfer = Xfer::None;
    std::uint32_t m_nextRow = 0;
    bool m_pageDone = false;
};

}  // namespace

}  // namespace vscan

TripletOperator* CreateVirtualScanner() { return new vscan::VirtualScanner(); }
