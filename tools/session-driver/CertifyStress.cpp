// Check group 7: many open, scan and close cycles, and what the process
// holds after them.
#include "CertifyBench.h"

#include <algorithm>

#include "ProcessProbe.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CERTIFY_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define CERTIFY_UNDER_SANITIZER 1
#endif
#endif

namespace certify {

namespace {

// Resident memory may grow this much over the stress cycles.
constexpr long kRssToleranceBytes = 8L * 1024 * 1024;

}  // namespace

void Bench::Stress() {
    if (!NeedOpen()) return;
    const Answer mechs = Cap(ICAP_XFERMECH, MSG_GET);
    const TW_UINT16 mech = mechs.ok() && IsOffered(mechs.c, Word(TWTY_UINT16, TWSX_MEMORY)) ? TW_UINT16(TWSX_MEMORY)
                                                                                          : TW_UINT16(TWSX_NATIVE);
    Close();
    int filesAfterFirst = 0, filesAfterLast = 0;
    long rssAfterFirst = 0, rssAfterLast = 0;
    int failedCycles = 0;
    const int cycles = std::max(2, m_options.stressCycles);
    m_rec.Ran("stress.cycles");
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        bool ok = Open();
        long failedCall = ok ? 0 : m_lastCall;
        if (ok) {
            SetCap(ICAP_XFERMECH, TWTY_UINT16, Word(TWTY_UINT16, mech));
            SetCap(CAP_XFERCOUNT, TWTY_INT16, Word(TWTY_INT16, 1));
            SmallPages();
            Batch b = Enable();
            if (b.ready) TransferBatch(mech, 1, nullptr, &b);
            ok = b.enabled && b.ready && !b.failed && b.pages == 1;
            if (!ok) failedCall = m_lastCall;
            if (b.enabled && Disable() != TWRC_SUCCESS) ok = false;
            if (!Close()) ok = false;
            if (!ok && !failedCall) failedCall = m_lastCall;
        }
        if (!ok) {
            ++failedCycles;
            m_rec.Fail("stress.cycles", failedCall, "cycle " + std::to_string(cycle) + " failed");
            if (m_open) Close();
        }
        if (cycle == 1) {
            filesAfterFirst = tracelet::probe::OpenFiles();
            rssAfterFirst = tracelet::probe::ResidentBytes();
        }
    }
    filesAfterLast = tracelet::probe::OpenFiles();
    rssAfterLast = tracelet::probe::ResidentBytes();
    m_rec.Note("stress.cycles", std::to_string(cycles) + " cycles, " + std::to_string(failedCycles) + " failed");
    m_rec.Ran("stress.files");
    const std::string files = std::to_string(filesAfterFirst) + " open files after cycle 1, " +
                              std::to_string(filesAfterLast) + " after cycle " + std::to_string(cycles);
    m_rec.Note("stress.files", files);
    if (filesAfterLast > filesAfterFirst) m_rec.Fail("stress.files", m_lastCall, files);
#ifdef CERTIFY_UNDER_SANITIZER
    (void)rssAfterFirst;
    (void)rssAfterLast;
    m_rec.NotApplicable("stress.memory", "a sanitizer build: its allocator keeps freed memory");
#else
    m_rec.Ran("stress.memory");
    const long grown = rssAfterLast - rssAfterFirst;
    const std::string rss = "resident memory " + std::to_string(rssAfterFirst / 1024) + " KiB after cycle 1, " +
                            std::to_string(rssAfterLast / 1024) + " KiB after cycle " + std::to_string(cycles);
    m_rec.Note("stress.memory", rss);
    if (grown > kRssToleranceBytes) m_rec.Fail("stress.memory", m_lastCall, rss);
#endif
    Open();
}

}  // namespace certify
