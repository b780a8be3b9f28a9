#include "Session.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "MemXfer.h"
#include "NativeImage.h"
#include "TwainValues.h"
#include "tables/TwNames.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

namespace session {

namespace values = tracelet::values;

namespace {

// --- The manager's side: what the source may call back ----------------------

Session* g_session = nullptr;

TW_UINT16 ManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF) {
    if (dg == DG_CONTROL && dat == DAT_NULL && g_session) {
        g_session->Notified(msg);
        return TWRC_SUCCESS;
    }
    return TWRC_FAILURE;
}
TW_HANDLE ManagerAllocate(TW_UINT32 size) { return TwainNewHandle(size); }
void ManagerFree(TW_HANDLE h) { TwainDisposeHandle(h); }
TW_MEMREF ManagerLock(TW_HANDLE h) { return TwainLockHandle(h); }
void ManagerUnlock(TW_HANDLE h) { TwainUnlockHandle(h); }

// --- Names -------------------------------------------------------------------

std::string ConditionName(TW_UINT16 cc) {
    const std::string_view name = twnames::Name(twnames::Kind::Cc, cc);
    return name.empty() ? "condition " + std::to_string(cc) : std::string(name);
}

std::string ReturnName(TW_UINT16 rc) {
    const std::string_view name = twnames::Name(twnames::Kind::Rc, rc);
    return name.empty() ? "return code " + std::to_string(rc) : std::string(name);
}

const char* PixelTypeName(int type) {
    switch (type) {
    case TWPT_BW: return "black and white";
    case TWPT_GRAY: return "grey";
    case TWPT_RGB: return "colour";
    default: return "other";
    }
}

TW_UINT16 PixelTypeOf(const std::string& name) {
    if (name == "bw") return TWPT_BW;
    if (name == "gray") return TWPT_GRAY;
    return TWPT_RGB;
}

std::string FormatFrame(const TW_FRAME& f) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(2) << TwainFix32Value(f.Left) << "," << TwainFix32Value(f.Top) << " to "
      << TwainFix32Value(f.Right) << "," << TwainFix32Value(f.Bottom);
    return s.str();
}

}  // namespace

TW_IDENTITY AppIdentity(const char* info, const char* family, const char* product, TW_UINT32 groups) {
    TW_IDENTITY app{};
    app.Id = 1;
    app.Version.MajorNum = 1;
    app.Version.Language = TWLG_ENGLISH;
    app.Version.Country = TWCY_USA;
    values::PutFieldText(app.Version.Info, info);
    app.ProtocolMajor = 2;
    app.ProtocolMinor = 4;
    app.SupportedGroups = groups;
    values::PutFieldText(app.Manufacturer, "Tracelet");
    values::PutFieldText(app.ProductFamily, family);
    values::PutFieldText(app.ProductName, product);
    return app;
}

Session::Session(const Options& options, std::ostream& out, std::ostream& err, bool interactive)
    : m_options(options), m_out(out), m_err(err), m_interactive(interactive) {
    // The application: Id as the manager hands it out at MSG_OPENDSM. It
    // announces DF_APP2, so the source tells it of a transfer through the
    // manager's callback; with --poll-events it does not, and hears of it
    // through its event loop (DAT_EVENT/MSG_PROCESSEVENT).
    m_app = AppIdentity("1.0", "Session driver", "tracelet-session",
                        DG_CONTROL | DG_IMAGE | (options.pollEvents ? 0 : DF_APP2));
    g_session = this;
}

Session::~Session() {
    Unload();
    if (g_session == this) g_session = nullptr;
}

void Session::Notified(TW_UINT16 msg) {
    // As an application's callback does: note the message and wake the
    // application's own thread, which goes on with the session.
    std::lock_guard<std::mutex> lock(m_notifyLock);
    m_notified = msg;
    m_notifiedChanged.notify_all();
}

// --- Loading -----------------------------------------------------------------

bool Session::Load() {
    // Read by the virtual scanner when the data source creates it.
    if (m_options.sourceThread) setenv("TRACELET_SCANNER_SIGNAL", "thread", 1);
    m_out << "Loading the data source " << m_options.dataSource << "\n";
    m_library = dlopen(m_options.dataSource.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        const char* why = dlerror();
        m_err << "tracelet-session: cannot load " << m_options.dataSource << ": " << (why ? why : "unknown error")
              << "\n";
        return false;
    }
    m_dsEntry = reinterpret_cast<DSENTRYPROC>(dlsym(m_library, "DS_Entry"));
    if (!m_dsEntry) {
        m_err << "tracelet-session: " << m_options.dataSource << " exports no DS_Entry: not a TWAIN data source\n";
        return false;
    }
    return true;
}

void Session::Unload() {
    if (m_library) {
        // What the data source prints while it unloads follows our lines.
        m_out.flush();
        dlclose(m_library);
        m_library = nullptr;
        m_dsEntry = nullptr;
        m_out << "Unloaded the data source.\n";
    }
}

TW_UINT16 Session::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return m_dsEntry(&m_app, dg, dat, msg, data);
}

TW_UINT16 Session::Status() {
    TW_STATUS status{};
    if (Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return TWCC_BUMMER;
    return status.ConditionCode;
}

// --- Opening and closing ---------------------------------------------------------

bool Session::Open() {
    // What a manager does when it looks at a source, then when an
    // application opens it.
    std::memset(&m_source, 0, sizeof m_source);
    if (m_dsEntry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &m_source) != TWRC_SUCCESS) {
        m_err << "tracelet-session: the data source did not tell its identity (is its companion in place?)\n";
        return false;
    }
    m_out << "Source: " << m_source.ProductName << " (" << m_source.Manufacturer << ", " << m_source.ProductFamily
          << "), TWAIN " << m_source.ProtocolMajor << "." << m_source.ProtocolMinor << "\n";
    m_source.Id = 2;

    if (m_source.SupportedGroups & DF_DS2) {
        TW_ENTRYPOINT entry{};
        entry.Size = sizeof entry;
        entry.DSM_Entry = ManagerEntry;
        entry.DSM_MemAllocate = ManagerAllocate;
        entry.DSM_MemFree = ManagerFree;
        entry.DSM_MemLock = ManagerLock;
        entry.DSM_MemUnlock = ManagerUnlock;
        if (Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry) != TWRC_SUCCESS)
            m_out << "  (the source did not take the manager's entry points)\n";
    }

    m_out << "Opening the source (state 3 to 4)\n";
    if (Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &m_source) != TWRC_SUCCESS) {
        m_err << "tracelet-session: the source refused to open: " << ConditionName(Status()) << "\n";
        return false;
    }
    m_open = true;
    return true;
}

void Session::Close() {
    if (m_enabled) Disable();
    if (!m_open) return;
    m_out << "Closing the source (state 4 to 3)\n";
    if (Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &m_source) != TWRC_SUCCESS)
        m_err << "tracelet-session: the source refused to close: " << ConditionName(Status()) << "\n";
    m_open = false;
}

// --- Negotiation -------------------------------------------------------------

bool Session::GetCapability(TW_UINT16 id, TW_UINT16 msg, values::Container* value, TW_UINT16* cc) {
    TW_CAPABILITY cap{};
    cap.Cap = id;
    cap.ConType = TWON_DONTCARE16;
    const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap);
    if (rc != TWRC_SUCCESS) {
        if (cc) *cc = rc == TWRC_FAILURE ? Status() : TW_UINT16(TWCC_BUMMER);
        return false;
    }
    // Only items that fit a one-value's 32-bit Item field: numbers.
    const bool ok = values::ReadContainer(cap.hContainer, cap.ConType, value) &&
                    TwainItemSize(value->itemType) <= sizeof(TW_UINT32);
    // The application owns what the source handed back.
    TwainDisposeHandle(cap.hContainer);
    if (!ok && cc) *cc = TWCC_BUMMER;
    return ok;
}

bool Session::SetCapability(TW_UINT16 id, TW_UINT16 itemType, std::uint32_t item, const std::string& shown) {
    TW_CAPABILITY cap{};
    cap.Cap = id;
    cap.ConType = TWON_ONEVALUE;
    const values::Item value = values::Item::OfNumber(itemType, item);
    cap.hContainer = values::BuildContainer(values::Container::OneValue(itemType, value));
    if (!cap.hContainer) {
        m_err << "tracelet-session: out of memory\n";
        return false;
    }
    const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    TwainDisposeHandle(cap.hContainer);
    if (rc == TWRC_FAILURE) {
        m_err << "tracelet-session: the source refused " << shown << ": " << ConditionName(Status()) << "\n";
        return false;
    }
    m_out << "  " << shown << (rc == TWRC_CHECKSTATUS ? " (the source took a value close to it)" : "") << "\n";
    return true;
}

void Session::ProbeDeviceOnline() {
    // Many applications ask whether the device is online before they scan,
    // without looking at the list first; a source without the capability
    // fails the call, and the application asks why.
    values::Container online;
    TW_UINT16 cc = TWCC_SUCCESS;
    if (GetCapability(CAP_DEVICEONLINE, MSG_GET, &online, &cc)) {
        m_out << "  CAP_DEVICEONLINE: " << (online.items.empty() || online.items[0].Word() ? "online" : "offline")
              << "\n";
        return;
    }
    m_out << "  CAP_DEVICEONLINE: refused with " << ConditionName(cc) << " (the source does not report it; "
          << "carrying on)\n";
}

void Session::ShowHardware() {
    // The vendor extension, where the source speaks it.
    if (std::find(m_supported.begin(), m_supported.end(), TW_UINT16(CAP_NV_VERSION)) == m_supported.end()) return;
    TWNV_HARDWAREINFO hw;
    std::memset(&hw, 0, sizeof hw);
    if (Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, &hw) != TWRC_SUCCESS) {
        m_out << "  no hardware information: " << ConditionName(Status()) << "\n";
        return;
    }
    auto pascal = [](const unsigned char* p) {
        return std::string(reinterpret_cast<const char*>(p + 1), std::min<std::size_t>(p[0], 33));
    };
    m_out << "  hardware: " << pascal(hw.ProductName) << " " << pascal(hw.ModelName) << ", ROM "
          << values::FieldText(hw.ROMVersion)
          << ", " << hw.MinResolution << " to " << hw.MaxResolution << " dpi\n";
}

bool Session::Negotiate() {
    m_out << "Negotiating capabilities\n";
    values::Container caps;
    TW_UINT16 cc = TWCC_SUCCESS;
    if (GetCapability(CAP_SUPPORTEDCAPS, MSG_GET, &caps, &cc)) {
        for (const values::Item& id : caps.items) m_supported.push_back(static_cast<TW_UINT16>(id.Word()));
        m_out << "  CAP_SUPPORTEDCAPS: " << m_supported.size() << " capabilities\n";
    } else {
        m_out << "  CAP_SUPPORTEDCAPS: not answered (" << ConditionName(cc) << ")\n";
    }
    ProbeDeviceOnline();

    const bool memoryFirst = m_options.xfer != XferChoice::Native;
    if (!SetCapability(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, "ICAP_UNITS = TWUN_INCHES")) return false;
    if (!SetCapability(ICAP_XFERMECH, TWTY_UINT16, memoryFirst ? TWSX_MEMORY : TWSX_NATIVE,
                       memoryFirst ? "ICAP_XFERMECH = TWSX_MEMORY" : "ICAP_XFERMECH = TWSX_NATIVE"))
        return false;

    const TW_UINT16 pixelType = PixelTypeOf(m_options.pixelType);
    values::Container offered;
    if (GetCapability(ICAP_PIXELTYPE, MSG_GET, &offered, &cc)) {
        m_out << "  ICAP_PIXELTYPE offers:";
        for (const values::Item& t : offered.items) m_out << " " << PixelTypeName(static_cast<int>(t.Word()));
        m_out << "\n";
    }
    if (!SetCapability(ICAP_PIXELTYPE, TWTY_UINT16, pixelType,
                       std::string("ICAP_PIXELTYPE = ") + PixelTypeName(pixelType)))
        return false;
    if (m_options.bitDepth &&
        !SetCapability(ICAP_BITDEPTH, TWTY_UINT16, static_cast<std::uint32_t>(*m_options.bitDepth),
                       "ICAP_BITDEPTH = " + std::to_string(*m_options.bitDepth)))
        return false;

    const std::string dpi = std::to_string(m_options.resolution);
    const std::uint32_t res = values::Fix32Word(m_options.resolution);
    if (!SetCapability(ICAP_XRESOLUTION, TWTY_FIX32, res, "ICAP_XRESOLUTION = " + dpi) ||
        !SetCapability(ICAP_YRESOLUTION, TWTY_FIX32, res, "ICAP_YRESOLUTION = " + dpi)) {
        values::Container list;
        if (GetCapability(ICAP_XRESOLUTION, MSG_GET, &list, &cc) && list.itemType == TWTY_FIX32) {
            m_err << "  the source offers:";
            if (list.conType == TWON_RANGE)
                m_err << " " << list.minValue.Value(TWTY_FIX32) << " to " << list.maxValue.Value(TWTY_FIX32);
            for (const values::Item& v : list.items) m_err << " " << v.Value(TWTY_FIX32);
            m_err << " dpi\n";
        }
        return false;
    }
    if (!SetCapability(CAP_XFERCOUNT, TWTY_INT16, static_cast<std::uint32_t>(m_options.pages),
                       "CAP_XFERCOUNT = " + std::to_string(m_options.pages)))
        return false;

    TW_IMAGELAYOUT layout{};
    if (m_options.frame) {
        const Frame& f = *m_options.frame;
        layout.Frame = values::Frame(f.left, f.top, f.right, f.bottom);
        layout.DocumentNumber = layout.PageNumber = layout.FrameNumber = 1;
        const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
        if (rc == TWRC_FAILURE) {
            m_err << "tracelet-session: the source refused the frame: " << ConditionName(Status()) << "\n";
            return false;
        }
        if (rc == TWRC_CHECKSTATUS) m_out << "  (the source clipped the frame to its glass)\n";
    }
    if (Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout) == TWRC_SUCCESS)
        m_out << "  image layout: frame " << FormatFrame(layout.Frame) << " in\n";

    ShowHardware();
    return true;
}

// --- Enabling ----------------------------------------------------------------

bool Session::Enable() {
    TW_USERINTERFACE ui{};
    ui.ShowUI = 0;
    ui.ModalUI = 0;
    m_out << "Enabling the source without its user interface (state 4 to 5)\n";
    if (Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) == TWRC_FAILURE) {
        m_err << "tracelet-session: the source refused to be enabled: " << ConditionName(Status()) << "\n";
        return false;
    }
    m_enabled = true;
    return true;
}

bool Session::WaitForTransferReady() {
    if (!m_options.pollEvents) {
        // A callback application waits for its callback.
        std::unique_lock<std::mutex> lock(m_notifyLock);
        if (m_notifiedChanged.wait_for(lock, std::chrono::seconds(10), [this] { return m_notified != MSG_NULL; }) &&
            m_notified == MSG_XFERREADY) {
            m_out << "The source called back: transfer ready (state 6)\n";
            return true;
        }
        m_err << "tracelet-session: the source did not call back with transfer ready\n";
        return false;
    }
    // The application's event loop: every event goes to the source first.
    unsigned char platformEvent[32] = {};
    for (int i = 1; i <= 100; ++i) {
        TW_EVENT event{};
        event.pEvent = platformEvent;
        event.TWMessage = MSG_NULL;
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        if (rc == TWRC_DSEVENT && event.TWMessage == MSG_XFERREADY) {
            m_out << "Event " << i << ": the source has pages ready (state 5 to 6)\n";
            return true;
        }
        if (rc == TWRC_DSEVENT && event.TWMessage == MSG_CLOSEDSREQ) {
            m_out << "Event " << i << ": the source asks to be closed\n";
            return false;
        }
        if (rc == TWRC_FAILURE) {
            m_err << "tracelet-session: the source failed an event: " << ConditionName(Status()) << "\n";
            return false;
        }
    }
    m_err << "tracelet-session: no transfer-ready event after 100 events\n";
    return false;
}

void Session::Disable() {
    TW_USERINTERFACE ui{};
    m_out << "Disabling the source (state 5 to 4)\n";
    if (Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_FAILURE)
        m_err << "tracelet-session: the source refused to be disabled: " << ConditionName(Status()) << "\n";
    m_enabled = false;
}

// --- Transfers ---------------------------------------------------------------

void Session::Progress(const char* what, std::uint32_t done, std::uint32_t total, int pieces, const char* piece,
                       bool finished) {
    const int percent = total ? static_cast<int>(std::uint64_t(done) * 100 / total) : 100;
    if (!m_interactive && !finished) return;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    m_out << (m_interactive ? "\r" : "") << "  " << what << " [" << std::string(filled, '#')
          << std::string(kWidth - filled, '.') << "] " << std::setw(3) << percent << "%  " << pieces << " " << piece
          << (pieces == 1 ? "" : "s");
    if (finished) m_out << "\n";
    m_out.flush();
}

TW_UINT16 Session::MemoryTransfer(PageImage& page) {
    TW_SETUPMEMXFER setup{};
    if (Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) {
        m_err << "tracelet-session: the source gave no buffer sizes: " << ConditionName(Status()) << "\n";
        return TWRC_FAILURE;
    }
    // Fields of packed structures are copied out before anything takes them by reference.
    const TW_UINT32 preferred = setup.Preferred, minimum = setup.MinBufSize;
    const TW_UINT32 size = m_options.bufferSize ? m_options.bufferSize : std::max(preferred, minimum);
    std::vector<unsigned char> buffer(size ? size : 1);
    const std::size_t rowBytes = page.RowBytes();
    std::uint32_t rowsDone = 0;
    int strips = 0;
    for (std::uint32_t guard = 0; guard <= page.height + 1; ++guard) {
        TW_IMAGEMEMXFER x = MemXferRequest(buffer.data(), static_cast<TW_UINT32>(buffer.size()));
        const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
            if (m_interactive) m_out << "\n";
            if (rc == TWRC_FAILURE) m_err << "tracelet-session: a strip failed: " << ConditionName(Status()) << "\n";
            return rc;
        }
        ++strips;
        // Whole rows of full width only: no compression, no tiles.
        const bool fits = x.Compression == TWCP_NONE && x.Columns == page.width && x.XOffset == 0 &&
                          x.BytesPerRow >= rowBytes && x.YOffset <= page.height && x.Rows <= page.height - x.YOffset &&
                          std::uint64_t(x.Rows) * x.BytesPerRow <= buffer.size();
        if (!fits) {
            if (m_interactive) m_out << "\n";
            m_err << "tracelet-session: strip " << strips << " does not fit the image info\n";
            return TWRC_FAILURE;
        }
        for (std::uint32_t r = 0; r < x.Rows; ++r)
            std::memcpy(page.pixels.data() + (x.YOffset + r) * rowBytes, buffer.data() + std::size_t(r) * x.BytesPerRow,
                        rowBytes);
        rowsDone += x.Rows;
        Progress("memory transfer", std::min(rowsDone, page.height), page.height, strips, "strip",
                 rc == TWRC_XFERDONE);
        if (rc == TWRC_XFERDONE) {
            if (rowsDone != page.height)
                m_err << "tracelet-session: the source sent " << rowsDone << " of " << page.height << " rows\n";
            return rc;
        }
    }
    m_err << "tracelet-session: the source sends more strips than the page has rows\n";
    return TWRC_FAILURE;
}

TW_UINT16 Session::NativeTransfer(PageImage& page) {
    Progress("native transfer", 0, 1, 0, "block", false);
    TW_HANDLE handle = nullptr;
    const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (rc != TWRC_XFERDONE) {
        if (m_interactive) m_out << "\n";
        if (rc == TWRC_FAILURE) m_err << "tracelet-session: the native transfer failed: " << ConditionName(Status()) << "\n";
        if (handle) TwainDisposeHandle(handle);
        return rc;
    }
    const auto* p = static_cast<const unsigned char*>(TwainLockHandle(handle));
    VsNativeImageHeader h{};
    if (p) std::memcpy(&h, p, sizeof h);
    const bool ours = p && std::memcmp(h.magic, kVsNativeMagic, sizeof h.magic) == 0 && h.headerSize >= sizeof h;
    const bool matches = ours && h.width == page.width && h.height == page.height &&
                         h.bytesPerRow >= page.RowBytes() && h.bitsPerPixel == page.bitsPerSample * page.samplesPerPixel;
    if (matches) {
        for (std::uint32_t y = 0; y < page.height; ++y)
            std::memcpy(page.pixels.data() + y * page.RowBytes(), p + h.headerSize + std::size_t(y) * h.bytesPerRow,
                        page.RowBytes());
    }
    TwainUnlockHandle(handle);
    // The application owns the page's handle.
    TwainDisposeHandle(handle);
    if (!matches) {
        if (m_interactive) m_out << "\n";
        m_err << "tracelet-session: " << (ours ? "the native page does not match its image info"
                                               : "the native page is in a format this program does not read")
              << "\n";
        return TWRC_FAILURE;
    }
    Progress("native transfer", 1, 1, 1, "block", true);
    return rc;
}

bool Session::TransferPages() {
    std::error_code ec;
    std::filesystem::create_directories(m_options.outputDir, ec);
    if (ec) {
        m_err << "tracelet-session: cannot create " << m_options.outputDir << ": " << ec.message() << "\n";
        return false;
    }
    for (int index = 0;; ++index) {
        TW_IMAGEINFO info{};
        if (Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
            m_err << "tracelet-session: no image info: " << ConditionName(Status()) << "\n";
            TW_PENDINGXFERS px{};
            Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px);
            return false;
        }
        TW_IMAGELAYOUT layout{};
        Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout);

        PageImage page;
        const TW_INT32 width = info.ImageWidth, length = info.ImageLength;
        page.width = static_cast<std::uint32_t>(std::max(0, width));
        page.height = static_cast<std::uint32_t>(std::max(0, length));
        page.pixelType = info.PixelType;
        page.samplesPerPixel = std::max<int>(1, info.SamplesPerPixel);
        page.bitsPerSample = info.BitsPerSample[0];
        page.Allocate();
        m_out << "Page " << index + 1 << ": " << page.width << " x " << page.height << " pixels, "
              << PixelTypeName(page.pixelType) << ", " << info.BitsPerPixel << " bits a pixel, "
              << TwainFix32Value(info.XResolution) << " dpi\n";

        const bool memory = m_options.xfer == XferChoice::Memory || (m_options.xfer == XferChoice::Mixed && index % 2 == 0);
        const TW_UINT16 rc = memory ? MemoryTransfer(page) : NativeTransfer(page);

        if (rc == TWRC_XFERDONE) {
            // Extended image information, asked as in state 7.
            alignas(8) unsigned char buffer[sizeof(TW_EXTIMAGEINFO) + sizeof(TW_INFO)] = {};
            auto* ext = reinterpret_cast<TW_EXTIMAGEINFO*>(buffer);
            ext->NumInfos = 2;
            TW_INFO* infos = reinterpret_cast<TW_INFO*>(buffer + offsetof(TW_EXTIMAGEINFO, Info));
            infos[0].InfoID = TWEI_PAGENUMBER;
            infos[1].InfoID = TWEI_DOCUMENTNUMBER;
            Call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, ext);
        }

        TW_PENDINGXFERS px{};
        if (Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &px) != TWRC_SUCCESS) {
            m_err << "tracelet-session: the source did not end the transfer: " << ConditionName(Status()) << "\n";
            return false;
        }
        if (rc == TWRC_XFERDONE) {
            std::ostringstream name;
            name << "page-" << std::setw(3) << std::setfill('0') << index + 1 << PnmExtension(page);
            const std::string path = (std::filesystem::path(m_options.outputDir) / name.str()).string();
            std::string error;
            if (WritePnm(page, path, &error)) {
                m_out << "  saved " << path << "\n";
                ++m_savedPages;
            } else {
                m_err << "tracelet-session: cannot write " << path << ": " << error << "\n";
                ++m_lostPages;
            }
        } else {
            m_out << "  page " << index + 1 << " not transferred (" << ReturnName(rc) << ")\n";
            ++m_lostPages;
        }
        if (px.Count == 0) {
            m_out << "End of transfers (state 5)\n";
            return true;
        }
        m_out << "  " << (px.Count == 0xffff ? std::string("more pages") : std::to_string(px.Count) + " more")
              << " to come (state 6)\n";
    }
}

// --- The log -----------------------------------------------------------------

std::vector<std::string> Session::LogFiles() const {
    std::vector<std::string> names;
    std::error_code ec;
    // The logs only: each load's flight record (".calls") sits beside its log.
    for (const auto& entry : std::filesystem::directory_iterator(m_options.logDir, ec))
        if (entry.is_regular_file(ec) && entry.path().extension() == ".txt")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Session::PrintLog(const std::vector<std::string>& before) {
    std::error_code ec;
    if (!std::filesystem::is_directory(m_options.logDir, ec)) {
        m_out << "\nLogging is off: the folder " << m_options.logDir << " does not exist.\n"
              << "Create it (mkdir -p \"" << m_options.logDir << "\") to switch the trace log on.\n";
        return;
    }
    std::string newest;
    std::filesystem::file_time_type newestTime{};
    for (const std::string& name : LogFiles()) {
        if (std::binary_search(before.begin(), before.end(), name)) continue;
        const auto path = std::filesystem::path(m_options.logDir) / name;
        const auto time = std::filesystem::last_write_time(path, ec);
        if (newest.empty() || time > newestTime) {
            newest = path.string();
            newestTime = time;
        }
    }
    if (newest.empty()) {
        m_out << "\nNo new log file appeared in " << m_options.logDir
              << " (was this data source built with that log folder?)\n";
        return;
    }
    m_out << "\nLog file: " << newest << "\n";
    if (!m_options.printLog) return;
    std::ifstream log(newest, std::ios::binary);
    m_out << "----- " << newest << " -----\n" << log.rdbuf() << "----- end of log -----\n";
}

int Session::Run() {
    std::error_code ec;
    const bool logging = std::filesystem::is_directory(m_options.logDir, ec);
    m_out << "Trace log folder: " << m_options.logDir << (logging ? "" : " (missing: logging is off)") << "\n";
    const std::vector<std::string> before = LogFiles();

    bool ok = false;
    if (Load() && Open()) {
        ok = Negotiate() && Enable() && WaitForTransferReady() && TransferPages();
        Close();
    }
    Unload();
    if (ok) m_out << m_savedPages << (m_savedPages == 1 ? " page" : " pages") << " saved in "
                  << m_options.outputDir << "\n";
    // A page that was not transferred or not written fails the run.
    if (m_lostPages)
        m_err << "tracelet-session: " << m_lostPages << (m_lostPages == 1 ? " page" : " pages") << " lost\n";
    const int exitCode = ok && m_lostPages == 0 ? 0 : 1;
    PrintLog(before);
    return exitCode;
}

}  // namespace session
