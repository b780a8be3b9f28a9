// Check group 6: every transfer the source offers, one, two and a reset
// batch of pages, with the memory transfer's strips checked against the
// image information.
#include "CertifyBench.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "MemXfer.h"
#include "tracelet/twain_memory.h"

namespace certify {

// The lowest resolution the source offers, so that pages are quick.
void Bench::SmallPages() {
    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
        const Answer get = Cap(cap, MSG_GET);
        if (!get.ok() || !get.readable) continue;
        const std::vector<Item> values = Offered(get.c);
        if (values.empty()) continue;
        const Item lowest = *std::min_element(values.begin(), values.end(), [&](const Item& a, const Item& b) {
            return a.Value(get.c.itemType) < b.Value(get.c.itemType);
        });
        SetCap(cap, get.c.itemType, lowest);
    }
}

// One page by memory: the strips are checked against the image info
// when `check` is set.
bool Bench::MemoryPage(const TW_IMAGEINFO& info, bool check) {
    TW_SETUPMEMXFER setup{};
    if (Send(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) return false;
    const TW_UINT32 minimum = setup.MinBufSize, preferred = setup.Preferred, maximum = setup.MaxBufSize;
    TW_UINT32 size = preferred != 0xffffffffu && preferred ? preferred : std::max<TW_UINT32>(minimum, 64 * 1024);
    if (maximum != 0xffffffffu && maximum && size > maximum) size = maximum;
    std::vector<unsigned char> buffer(std::max<TW_UINT32>(size, 1));
    const std::int64_t width = info.ImageWidth, length = info.ImageLength, bits = info.BitsPerPixel;
    const TW_UINT16 compression = info.Compression;
    const std::uint64_t rowBytes = (std::uint64_t(std::max<std::int64_t>(width, 0)) * bits + 7) / 8;
    std::uint64_t rows = 0, nextRow = 0;  // rows the strips said they hold; where the next one starts
    for (std::int64_t guard = 0; guard <= std::max<std::int64_t>(length, 0) + 1; ++guard) {
        TW_IMAGEMEMXFER x = session::MemXferRequest(buffer.data(), static_cast<TW_UINT32>(buffer.size()));
        const TW_UINT16 rc = Send(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
            if (check)
                m_rec.Fail("transfer.memory", m_lastCall, "a strip " + (rc == TWRC_FAILURE ? "failed with " +
                                                                        CcName(m_lastCc) : "returned " + RcName(rc)));
            return false;
        }
        const TW_UINT32 columns = x.Columns, bytesPerRow = x.BytesPerRow, stripRows = x.Rows,
                        yOffset = x.YOffset, written = x.BytesWritten;
        const TW_UINT16 stripCompression = x.Compression;
        if (check) {
            if (columns != width || stripCompression != compression || bytesPerRow < rowBytes)
                m_rec.Fail("transfer.memory", m_lastCall,
                           "the strip has " + std::to_string(columns) + " columns of " +
                               std::to_string(bytesPerRow) + " bytes, compression " +
                               std::to_string(stripCompression) + "; DAT_IMAGEINFO says " +
                               std::to_string(width) + " columns of " + std::to_string(rowBytes) +
                               " bytes, compression " + std::to_string(compression));
            if (yOffset != nextRow)
                m_rec.Fail("transfer.strips", m_lastCall, "the strip starts at row " + std::to_string(yOffset) +
                                                              ", the strips before it end at row " +
                                                              std::to_string(nextRow));
            if (written > buffer.size() ||
                (compression == TWCP_NONE && std::uint64_t(written) != std::uint64_t(stripRows) * bytesPerRow))
                m_rec.Fail("transfer.strips", m_lastCall,
                           std::to_string(written) + " bytes written for " + std::to_string(stripRows) +
                               " rows of " + std::to_string(bytesPerRow) + " bytes in a buffer of " +
                               std::to_string(buffer.size()));
        }
        rows += stripRows;
        nextRow = std::uint64_t(yOffset) + stripRows;
        if (rc == TWRC_XFERDONE) {
            if (check && compression == TWCP_NONE && rows != std::uint64_t(length))
                m_rec.Fail("transfer.strips", m_lastCall, "the strips hold " + std::to_string(rows) +
                                                              " rows; DAT_IMAGEINFO says " +
                                                              std::to_string(length));
            return true;
        }
    }
    if (check) m_rec.Fail("transfer.strips", m_lastCall, "more strips than the page has rows");
    return false;
}

bool Bench::NativePage(bool check) {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 rc = Send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (handle) TwainDisposeHandle(handle);  // the application owns it
    if (check && rc != TWRC_XFERDONE)
        m_rec.Fail("transfer.native", m_lastCall,
                   rc == TWRC_FAILURE ? "failed with " + CcName(m_lastCc) : "returned " + RcName(rc));
    else if (check && !handle)
        m_rec.Fail("transfer.native", m_lastCall, "TWRC_XFERDONE without a handle");
    return rc == TWRC_XFERDONE && handle;
}

bool Bench::FilePage(int page, bool check) {
    TW_SETUPFILEXFER setup{};
    Send(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &setup);
    const std::string path = m_options.workDir + "/file-transfer-" + std::to_string(++m_files) + ".img";
    std::snprintf(setup.FileName, sizeof setup.FileName, "%s", path.c_str());
    if (Send(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup) == TWRC_FAILURE) {
        if (check) m_rec.Fail("transfer.file", m_lastCall, "the file name was refused with " + CcName(m_lastCc));
        return false;
    }
    const TW_UINT16 rc = Send(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const bool written = file && file.tellg() > 0;
    if (check && rc != TWRC_XFERDONE)
        m_rec.Fail("transfer.file", m_lastCall,
                   rc == TWRC_FAILURE ? "failed with " + CcName(m_lastCc) : "returned " + RcName(rc));
    else if (check && !written)
        m_rec.Fail("transfer.file", m_lastCall, "page " + std::to_string(page) + ": " + path + " is missing or empty");
    return rc == TWRC_XFERDONE && written;
}

// Transfers the pages of one enabled batch; with `limit` -1 it stops
// after the first page with MSG_RESET.
void Bench::TransferBatch(TW_UINT16 mech, int limit, const char* check, Batch* b) {
    long lastCount = -2;  // -2: none yet
    for (int page = 1; page <= 10; ++page) {
        TW_IMAGEINFO info{};
        if (Send(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
            if (check) m_rec.Fail(check, m_lastCall, "DAT_IMAGEINFO failed with " + CcName(m_lastCc));
            b->failed = true;
            break;
        }
        const bool done = mech == TWSX_MEMORY ? MemoryPage(info, check != nullptr)
                          : mech == TWSX_NATIVE ? NativePage(check != nullptr)
                                                : FilePage(page, check != nullptr);
        if (done) ++b->pages;
        b->failed |= !done;
        TW_PENDINGXFERS px{};
        if (Send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &px) != TWRC_SUCCESS) {
            if (check) m_rec.Fail("transfer.endxfer", m_lastCall, "MSG_ENDXFER failed with " + CcName(m_lastCc));
            b->failed = true;
            break;
        }
        const long count = px.Count;
        if (check) {
            if (count != 0xffff && lastCount >= 0 && lastCount != 0xffff && count >= lastCount)
                m_rec.Fail("transfer.endxfer", m_lastCall, "Count " + std::to_string(count) + " after " +
                                                               std::to_string(lastCount));
            if (limit > 0 && page == limit && count != 0)
                m_rec.Fail("transfer.endxfer", m_lastCall, "Count " + std::to_string(count) + " after the " +
                                                               std::to_string(limit) + " pages of CAP_XFERCOUNT");
        }
        lastCount = count;
        if (count == 0) break;
        if (limit < 0 || page == limit) {
            Send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px);
            break;
        }
    }
    if (check && limit > 0 && b->pages != limit && !b->failed)
        m_rec.Fail(check, m_lastCall, std::to_string(b->pages) + " pages with CAP_XFERCOUNT " +
                                          std::to_string(limit));
}

void Bench::Transfers() {
    if (!NeedOpen()) return;
    const Answer mechs = Cap(ICAP_XFERMECH, MSG_GET);
    const struct {
        TW_UINT16 mech;
        const char* check;
        const char* name;
    } mechanisms[] = {{TWSX_MEMORY, "transfer.memory", "memory"},
                      {TWSX_NATIVE, "transfer.native", "native"},
                      {TWSX_FILE, "transfer.file", "file"}};
    SmallPages();
    bool memory = false, any = false;
    for (const auto& m : mechanisms) {
        const bool offered = mechs.ok() && IsOffered(mechs.c, Word(TWTY_UINT16, m.mech));
        if (!offered) {
            m_rec.NotApplicable(m.check, std::string("the source offers no ") + m.name + " transfer");
            continue;
        }
        m_rec.Ran(m.check);
        any = true;
        memory |= m.mech == TWSX_MEMORY;
        for (int count : {1, 2, -1}) {
            const Answer s = SetCap(ICAP_XFERMECH, TWTY_UINT16, Word(TWTY_UINT16, m.mech));
            const Answer c = SetCap(CAP_XFERCOUNT, TWTY_INT16, Word(TWTY_INT16, std::uint32_t(count)));
            if (!s.ok() || !c.ok()) {
                m_rec.Fail(m.check, !s.ok() ? s.call : c.call,
                           std::string("the source refused ") + (!s.ok() ? "ICAP_XFERMECH" : "CAP_XFERCOUNT"));
                continue;
            }
            Batch b = Enable();
            m_rec.Ran("transfer.notification");
            m_rec.Ran("transfer.endxfer");
            if (!b.enabled) {
                m_rec.Fail(m.check, m_lastCall, "MSG_ENABLEDS failed with " + CcName(m_lastCc));
                continue;
            }
            if (!b.ready)
                m_rec.Fail("transfer.notification", m_lastCall, "no transfer ready after MSG_ENABLEDS");
            else if (!b.byCallback)
                m_rec.Fail("transfer.notification", m_lastCall,
                           "transfer ready came through DAT_EVENT, not the manager entry point");
            if (b.ready) TransferBatch(m.mech, count, m.check, &b);
            Disable();
        }
    }
    if (any) m_rec.Ran("transfer.notification");
    if (memory) m_rec.Ran("transfer.strips");
    if (!memory) m_rec.NotApplicable("transfer.strips", "the source offers no memory transfer");
    if (!any) {
        m_rec.NotApplicable("transfer.notification", "the source offers no transfer");
        m_rec.NotApplicable("transfer.endxfer", "the source offers no transfer");
    }
    ResetAll();
}

}  // namespace certify
