#include "platform/ForeignReader.h"

#include <atomic>

#include "platform/Platform.h"

namespace {

using tracelet::platform::PageSize;
using tracelet::platform::ReadablePages;
constexpr size_t kPagesPerCheck = tracelet::platform::kPagesPerProbe;

// The system refused the check once: it is not asked again.
std::atomic<bool> g_refused{false};
std::atomic<bool> g_refusalNoted{false};

}  // namespace

ForeignReader::ForeignReader(const void* block, size_t blockBytes) {
    m_begin = reinterpret_cast<uintptr_t>(block);
    m_end = blockBytes > UINTPTR_MAX - m_begin ? UINTPTR_MAX : m_begin + blockBytes;
    if (!block) {
        m_known = m_end = m_begin;
    } else if (blockBytes != SIZE_MAX) {
        // The layout knows the block: every byte of it may be read.
        m_known = m_end;
    } else {
        const uintptr_t page = PageSize();
        const uintptr_t firstPageEnd = (m_begin | (page - 1)) + 1;
        m_known = firstPageEnd < m_begin || firstPageEnd > m_end ? m_end : firstPageEnd;
    }
}

ForeignReader ForeignReader::Unvouched(const void* block, size_t blockBytes) {
    ForeignReader r(block, blockBytes);
    // Known up to the start of the first page: every read checks first.
    if (block) r.m_known = r.m_begin & ~(static_cast<uintptr_t>(PageSize()) - 1);
    return r;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define __SANITIZE_ADDRESS__ 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && defined(__x86_64__)
// Under AddressSanitizer the range between low and high application memory
// is the sanitizer's own shadow: readable, but not the application's, and
// the sanitizer faults when a copy from it is checked. A stray address
// there is treated as unreadable.
static bool InSanitizerShadow(uintptr_t a) { return a >= 0x7fff8000u && a < 0x10007fff8000u; }
#else
static bool InSanitizerShadow(uintptr_t) { return false; }
#endif

size_t ForeignReader::Check(uintptr_t a, size_t n) {
    if (a < m_begin || a >= m_end) return 0;
    if (InSanitizerShadow(a)) {
        m_unreadable = true;
        m_cut = true;
        return 0;
    }
    const uintptr_t want = n > m_end - a ? m_end : a + n;
    const uintptr_t page = PageSize();
    while (m_known < want && !m_unreadable) {
        if (m_refused || g_refused.load(std::memory_order_relaxed)) {
            // Bounded as the caller bounds it, as without the checks.
            m_refused = true;
            m_known = m_end;
            break;
        }
        // The pages this read needs, and those the reads to come are
        // expected to need, within the block.
        uintptr_t reach = m_expected > want ? m_expected : want;
        if (reach > m_end) reach = m_end;
        const uintptr_t room = (reach - m_known - 1) / page + 1;
        const size_t count = room < kPagesPerCheck ? room : kPagesPerCheck;
        const long pages = ReadablePages(m_known, count, page);
        if (pages < 0) {
            g_refused.store(true, std::memory_order_relaxed);
            m_refused = true;
            continue;
        }
        const uintptr_t gained = static_cast<uintptr_t>(pages) * page;
        m_known = gained > m_end - m_known ? m_end : m_known + gained;
        if (static_cast<size_t>(pages) < count) m_unreadable = true;
    }
    if (m_known >= want) return want - a;
    m_cut = true;
    return m_known > a ? m_known - a : 0;
}

bool ForeignReader::FirstRefusalNote() { return !g_refusalNoted.exchange(true); }
