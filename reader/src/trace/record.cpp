#include "trace/record.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "trace/names.hpp"
#include "trace/reader.hpp"
#include "trace/text.hpp"
#include "tracelet/flightrecord.h"

namespace fr = tracelet::flightrecord;
namespace fs = std::filesystem;

namespace tracelet::trace {

const char* host_state_name(HostState s) {
    switch (s) {
        case HostState::running: return "running";
        case HostState::gone: return "gone";
        default: return "unknown";
    }
}

namespace {

// Little-endian loads from bytes that may sit anywhere.
template <typename T>
T le(const unsigned char* p) {
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>(v | static_cast<T>(static_cast<uint64_t>(p[i]) << (8 * i)));
    return v;
}

// A NUL-terminated text in a fixed field; stops at the field's end when the
// NUL is missing.
std::string fixed_text(const unsigned char* p, std::size_t size) {
    const void* nul = std::memchr(p, 0, size);
    std::size_t n = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - p) : size;
    std::string s(reinterpret_cast<const char*>(p), n);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return s;
}

constexpr std::size_t kMaxProblems = 50;  // problems listed one by one; the rest are counted

// Reads the slots one at a time, whatever chunks they come in.
class SlotReader {
public:
    explicit SlotReader(FlightRecord& r) : r_(r) {}

    void slot(uint32_t index, const unsigned char* p) {
        if (pending_left_ > 0) {  // a capture's further slots
            pending_.append(reinterpret_cast<const char*>(p), fr::kSlotSize);
            if (--pending_left_ == 0) finish_pending();
            return;
        }
        if (skip_ > 0) {  // inside a longer record of a kind this reader does not know
            --skip_;
            return;
        }
        uint32_t seal = le<uint32_t>(p);
        uint16_t kind = le<uint16_t>(p + offsetof(fr::RecordHead, kind));
        uint16_t slots = le<uint16_t>(p + offsetof(fr::RecordHead, slots));
        if (seal == 0 || seal != fr::Seal(index, kind) || slots == 0) {
            ++r_.unsealed_slots;
            return;
        }
        if (kind == fr::kKindCapture || kind == fr::kKindImage) {
            start_capture(index, p, kind, slots);
            return;
        }
        if (slots > 1) skip_ = slots - 1u;
        switch (kind) {
            case fr::kKindCall: call(index, p, slots); break;
            case fr::kKindThreadName: {
                uint32_t thread = le<uint32_t>(p + offsetof(fr::ThreadNameRecord, thread));
                time(le<int64_t>(p + offsetof(fr::ThreadNameRecord, time_ns)));
                r_.thread_names[thread] = fixed_text(p + offsetof(fr::ThreadNameRecord, name), sizeof(fr::ThreadNameRecord::name));
                break;
            }
            case fr::kKindUnload:
                r_.unload_ns = le<int64_t>(p + offsetof(fr::UnloadRecord, time_ns));
                time(r_.unload_ns);
                r_.closed = true;
                break;
            case fr::kKindStop:
                r_.stop_reason = le<uint32_t>(p + offsetof(fr::StopRecord, reason));
                r_.stop_error = le<uint32_t>(p + offsetof(fr::StopRecord, error));
                r_.stop_ns = le<int64_t>(p + offsetof(fr::StopRecord, time_ns));
                time(r_.stop_ns);
                break;
            default: break;  // a later kind: skipped whole
        }
    }

    void problem(std::string what) {
        if (r_.problems.size() < kMaxProblems)
            r_.problems.push_back(std::move(what));
        else
            ++dropped_;
    }

    void finish() {
        if (pending_left_ > 0) {
            capture_problem(pending_index_, "the file ends inside the record: it was cut short");
            pending_left_ = 0;
        }
        std::sort(r_.captures.begin(), r_.captures.end(),
                  [](const CallCapture& a, const CallCapture& b) { return a.call_id < b.call_id; });
        if (dropped_) r_.problems.push_back("and " + std::to_string(dropped_) + " more problems");
        if (r_.unsealed_slots)
            r_.problems.insert(r_.problems.begin(), std::to_string(r_.unsealed_slots) +
                                                        " reserved slot(s) hold no readable record");
    }

private:
    void time(int64_t t) {
        if (t < 0) return;
        if (r_.first_ns < 0 || t < r_.first_ns) r_.first_ns = t;
        if (t > r_.last_ns) r_.last_ns = t;
    }

    void call(uint32_t index, const unsigned char* p, uint16_t slots) {
        if (slots != 1) {
            problem("slot " + std::to_string(index) + ": a call record " + std::to_string(slots) + " slots long");
            return;
        }
        TimedCall c;
        c.slot = index;
        c.id = le<uint32_t>(p + offsetof(fr::CallRecord, call_id));
        c.thread = le<uint32_t>(p + offsetof(fr::CallRecord, thread));
        c.start_ns = le<int64_t>(p + offsetof(fr::CallRecord, start_ns));
        c.dg = le<uint32_t>(p + offsetof(fr::CallRecord, dg));
        c.dat = le<uint16_t>(p + offsetof(fr::CallRecord, dat));
        c.msg = le<uint16_t>(p + offsetof(fr::CallRecord, msg));
        uint8_t flags = p[offsetof(fr::CallRecord, flags)];
        if (flags & fr::kCallHasCap) c.cap = le<uint16_t>(p + offsetof(fr::CallRecord, cap));
        c.from_source = p[offsetof(fr::CallRecord, tag)] == fr::kTagSource;
        c.state_before = p[offsetof(fr::CallRecord, state_before)];
        c.during_id = le<uint32_t>(p + offsetof(fr::CallRecord, during_id));
        c.concurrent_id = le<uint32_t>(p + offsetof(fr::CallRecord, concurrent_id));
        auto where = [index] { return "call in slot " + std::to_string(index) + ": "; };
        if (c.id != index + 1) problem(where() + "its id " + std::to_string(c.id) + " does not match its slot");
        if (c.start_ns < 0) {
            problem(where() + "a negative start time");
            return;
        }
        if (le<uint32_t>(p + offsetof(fr::CallRecord, end_seal)) == fr::EndSeal(index)) {
            int64_t end = le<int64_t>(p + offsetof(fr::CallRecord, end_ns));
            if (end < c.start_ns) {
                problem(where() + "it ends before it starts; its end is left out");
            } else {
                c.end_ns = end;
                c.state_after = p[offsetof(fr::CallRecord, state_after)];
                c.rc = le<uint16_t>(p + offsetof(fr::CallRecord, rc));
                if (flags & fr::kCallTraced) c.seq = le<uint32_t>(p + offsetof(fr::CallRecord, seq));
            }
        }
        if (c.state_before > 7 || (c.state_after > 7)) problem(where() + "a TWAIN state outside 1 to 7");
        time(c.start_ns);
        time(c.end_ns);
        r_.calls.push_back(c);
    }

    void capture_problem(uint32_t index, const std::string& what) {
        std::string line = "capture in slot " + std::to_string(index) + ": " + what;
        if (r_.capture_problems.size() < kMaxProblems) r_.capture_problems.push_back(line);
        problem(std::move(line));
    }

    // The head slot of a capture or image record; its further slots are
    // gathered before it is read. Lengths are checked against the bounds the
    // header states, so that a damaged length never makes the reader gather
    // more than one bounded record.
    void start_capture(uint32_t index, const unsigned char* p, uint16_t kind, uint16_t slots) {
        uint32_t most = 3;
        if (kind == fr::kKindCapture) {
            const uint64_t data = uint64_t{r_.capture_max_structure} + r_.capture_max_block;
            most = data > 0xFFFFFFu ? 0 : fr::CaptureSlots(static_cast<uint32_t>(data));
        }
        if (!r_.has_capture || slots > most || (kind == fr::kKindImage && slots != 3)) {
            capture_problem(index, !r_.has_capture ? "a capture in a record whose header has none"
                                                   : std::to_string(slots) + " slots long, more than its bounds allow");
            // A length past the bounds is itself damage: only the head is
            // passed over, so that the records after it are still read.
            skip_ = slots <= most ? slots - 1u : 0;
            return;
        }
        pending_.assign(reinterpret_cast<const char*>(p), fr::kSlotSize);
        pending_index_ = index;
        pending_kind_ = kind;
        pending_left_ = slots - 1u;
        if (pending_left_ == 0) finish_pending();
    }

    CallCapture& capture_for(uint32_t call_id) {
        auto [it, fresh] = capture_at_.try_emplace(call_id, r_.captures.size());
        if (fresh) {
            r_.captures.emplace_back();
            r_.captures.back().call_id = call_id;
        }
        return r_.captures[it->second];
    }

    void finish_pending() {
        const auto* p = reinterpret_cast<const unsigned char*>(pending_.data());
        const uint32_t index = pending_index_;
        const uint32_t call_id = le<uint32_t>(p + offsetof(fr::CaptureRecord, call_id));
        // The call's record comes first, in an earlier slot.
        if (call_id == 0 || call_id > index) {
            capture_problem(index, "names call " + std::to_string(call_id) + ", which cannot come before it");
            return;
        }
        if (pending_kind_ == fr::kKindImage) image(index, call_id, p);
        else data(index, call_id, p);
    }

    void data(uint32_t index, uint32_t call_id, const unsigned char* p) {
        using R = fr::CaptureRecord;
        const uint8_t phase = p[offsetof(R, phase)];
        const uint8_t flags = p[offsetof(R, flags)];
        CapturedData d;
        d.present = true;
        d.null_data = flags & fr::kCapNullData;
        d.data = le<uint64_t>(p + offsetof(R, data));
        d.structure.size = le<uint32_t>(p + offsetof(R, structure_size));
        const uint32_t sbytes = le<uint32_t>(p + offsetof(R, structure_bytes));
        d.structure.cut = flags & fr::kCapStructureCut;
        d.structure.unreadable = flags & fr::kCapStructureUnreadable;
        d.has_block = p[offsetof(R, block_kind)] == fr::kBlockContainer;
        d.handle = le<uint64_t>(p + offsetof(R, handle));
        d.block.size = le<uint32_t>(p + offsetof(R, block_size));
        const uint32_t bbytes = le<uint32_t>(p + offsetof(R, block_bytes));
        d.block.cut = flags & fr::kCapBlockCut;
        d.block.unreadable = flags & fr::kCapBlockUnreadable;
        d.block_too_small = flags & fr::kCapBlockTooSmall;
        d.con_type = le<uint16_t>(p + offsetof(R, con_type));
        d.item_type = le<uint16_t>(p + offsetof(R, item_type));
        d.num_items = le<uint32_t>(p + offsetof(R, num_items));
        d.block_limit = le<uint64_t>(p + offsetof(R, block_limit));

        const uint64_t kept = uint64_t{sbytes} + bbytes;
        if (phase != fr::kPhaseIn && phase != fr::kPhaseOut)
            return capture_problem(index, "an unknown phase " + std::to_string(phase));
        if (sbytes > d.structure.size || sbytes > r_.capture_max_structure || bbytes > r_.capture_max_block ||
            (!d.has_block && bbytes) || kept > pending_.size() - fr::kSlotSize ||
            fr::CaptureSlots(static_cast<uint32_t>(kept)) != pending_.size() / fr::kSlotSize)
            return capture_problem(index, "its lengths do not match its slots or its bounds");
        d.structure.bytes.assign(pending_, fr::kSlotSize, sbytes);
        d.block.bytes.assign(pending_, fr::kSlotSize + sbytes, bbytes);
        CallCapture& c = capture_for(call_id);
        CapturedData& slot = phase == fr::kPhaseIn ? c.in : c.out;
        if (slot.present)
            return capture_problem(index, "a second capture of call " + std::to_string(call_id) + (phase == fr::kPhaseIn ? " going in" : " coming out"));
        slot = std::move(d);
    }

    void image(uint32_t index, uint32_t call_id, const unsigned char* p) {
        using R = fr::ImageRecord;
        CapturedImage m;
        m.present = true;
        const uint8_t transfer = p[offsetof(R, transfer)];
        const uint8_t from = p[offsetof(R, length_from)];
        const uint8_t hash = p[offsetof(R, hash_kind)];
        const uint8_t flags = p[offsetof(R, flags)];
        if ((transfer != fr::kTransferMemory && transfer != fr::kTransferNative) || from > fr::kLengthAllocation ||
            hash > fr::kHashFull)
            return capture_problem(index, "an image record with unknown values");
        m.transfer = transfer == fr::kTransferNative ? CapturedImage::Transfer::native : CapturedImage::Transfer::memory;
        m.length_from = static_cast<CapturedImage::LengthFrom>(from);
        m.hash_kind = static_cast<CapturedImage::Hash>(hash);
        m.length = le<uint64_t>(p + offsetof(R, length));
        m.hash = le<uint64_t>(p + offsetof(R, hash));
        m.hashed_bytes = le<uint64_t>(p + offsetof(R, hashed_bytes));
        m.address = le<uint64_t>(p + offsetof(R, address));
        m.stored_bytes = le<uint64_t>(p + offsetof(R, stored_bytes));
        m.stored = flags & fr::kImageStored;
        m.write_failed = flags & fr::kImageWriteFailed;
        m.unreadable = flags & fr::kImageUnreadable;
        if (m.hashed_bytes > m.length || m.stored_bytes > m.length)
            return capture_problem(index, "an image record whose lengths disagree");
        if (m.stored) {
            const unsigned char* name = p + offsetof(R, file_name);
            if (!std::memchr(name, 0, sizeof(R::file_name)))
                return capture_problem(index, "an image file name without its end");
            m.file_name = reinterpret_cast<const char*>(name);
            // A name inside the image folder, never a path out of it.
            if (m.file_name.empty() || m.file_name.find('/') != std::string::npos || m.file_name[0] == '.')
                return capture_problem(index, "an image file name that is not a plain name");
        }
        CallCapture& c = capture_for(call_id);
        if (c.image.present) return capture_problem(index, "a second image for call " + std::to_string(call_id));
        c.image = std::move(m);
    }

    FlightRecord& r_;
    uint32_t skip_ = 0;
    std::size_t dropped_ = 0;
    // A capture record being gathered.
    std::string pending_;
    uint32_t pending_index_ = 0, pending_left_ = 0;
    uint16_t pending_kind_ = 0;
    std::unordered_map<uint32_t, std::size_t> capture_at_;  // call id -> index in captures
};

// Header fields; false (with the problem listed) when the header cannot be used.
bool read_header(FlightRecord& r, const unsigned char* h, std::size_t n) {
    if (n < fr::kHeaderSize) {
        r.problems.push_back("the file is " + std::to_string(n) + " bytes long, shorter than its " +
                             std::to_string(fr::kHeaderSize) + "-byte header");
        return false;
    }
    if (std::memcmp(h, fr::kMagic, sizeof fr::kMagic) != 0) {
        r.problems.push_back("not a flight record (wrong magic number)");
        return false;
    }
    r.version = le<uint16_t>(h + offsetof(fr::FileHeader, version));
    const uint16_t header_size = le<uint16_t>(h + offsetof(fr::FileHeader, header_size));
    const uint16_t slot_size = le<uint16_t>(h + offsetof(fr::FileHeader, slot_size));
    if (r.version != fr::kVersion || header_size != fr::kHeaderSize || slot_size != fr::kSlotSize) {
        r.problems.push_back("record format version " + std::to_string(r.version) + " with header size " +
                             std::to_string(header_size) + " and slot size " +
                             std::to_string(slot_size) + " cannot be read by this version");
        return false;
    }
    r.macos_abi = h[offsetof(fr::FileHeader, abi)] == fr::kAbiMacos;
    r.pid = le<uint32_t>(h + offsetof(fr::FileHeader, pid));
    r.load_in_log = le<uint32_t>(h + offsetof(fr::FileHeader, load_in_log));
    r.process_start_ticks = le<uint64_t>(h + offsetof(fr::FileHeader, process_start_ticks));
    r.ticks_per_second = le<uint32_t>(h + offsetof(fr::FileHeader, ticks_per_second));
    r.utc_offset_seconds = le<int32_t>(h + offsetof(fr::FileHeader, utc_offset_seconds));
    r.load_wall_ns = le<int64_t>(h + offsetof(fr::FileHeader, load_wall_ns));
    r.load_mono_ns = le<int64_t>(h + offsetof(fr::FileHeader, load_mono_ns));
    r.log_offset = le<uint64_t>(h + offsetof(fr::FileHeader, log_offset));
    if (r.load_wall_ns < 0 || r.load_mono_ns < 0 || r.utc_offset_seconds < -86400 || r.utc_offset_seconds > 86400) {
        r.problems.push_back("the header's load times are damaged: times are shown from 00:00:00");
        r.load_wall_ns = r.load_mono_ns = 0;
        r.utc_offset_seconds = 0;
    }
    r.boot_id = fixed_text(h + offsetof(fr::FileHeader, boot_id), sizeof(fr::FileHeader::boot_id));
    r.process_name = fixed_text(h + offsetof(fr::FileHeader, process_name), sizeof(fr::FileHeader::process_name));
    r.tracelet_version = fixed_text(h + offsetof(fr::FileHeader, version_text), sizeof(fr::FileHeader::version_text));
    r.log_name = fixed_text(h + offsetof(fr::FileHeader, log_name), sizeof(fr::FileHeader::log_name));
    r.ds_path = fixed_text(h + offsetof(fr::FileHeader, ds_path), sizeof(fr::FileHeader::ds_path));
    r.companion_path = fixed_text(h + offsetof(fr::FileHeader, companion_path), sizeof(fr::FileHeader::companion_path));
    uint32_t flags = le<uint32_t>(h + offsetof(fr::FileHeader, flags));
    r.closed = flags & fr::kFlagClosed;
    r.full = flags & fr::kFlagFull;
    r.map_failed = flags & fr::kFlagMapFailed;
    r.slots_reserved = le<uint32_t>(h + offsetof(fr::FileHeader, slots_reserved));
    const uint32_t capture = le<uint32_t>(h + offsetof(fr::FileHeader, capture));
    r.has_capture = capture & fr::kCaptureCalls;
    r.images_captured = capture & fr::kCaptureImages;
    r.capture_max_structure = le<uint32_t>(h + offsetof(fr::FileHeader, capture_max_structure));
    r.capture_max_block = le<uint32_t>(h + offsetof(fr::FileHeader, capture_max_block));
    r.capture_hash_sample = le<uint32_t>(h + offsetof(fr::FileHeader, capture_hash_sample));
    r.images_folder = fixed_text(h + offsetof(fr::FileHeader, capture_images), sizeof(fr::FileHeader::capture_images));
    if (r.has_capture && (r.images_folder.empty() || r.images_folder.find('/') != std::string::npos ||
                          r.images_folder[0] == '.')) {
        r.capture_problems.push_back("the header's image folder name is damaged");
        r.problems.push_back(r.capture_problems.back());
        r.images_folder.clear();
    }
    r.header_ok = true;
    return true;
}

void finish_record(FlightRecord& r, SlotReader& reader, uint64_t file_size) {
    uint64_t present = (file_size - fr::kHeaderSize) / fr::kSlotSize;
    r.cut_short = r.slots_reserved > present;
    if (r.slots_reserved > present)
        reader.problem("the file ends after " + std::to_string(present) + " of its " +
                       std::to_string(r.slots_reserved) + " reserved slots: it was cut short");
    if ((file_size - fr::kHeaderSize) % fr::kSlotSize && r.slots_reserved > present)
        reader.problem("the last slot is cut off");
    if (r.unload_ns >= 0 && !r.closed) r.closed = true;  // the unload record came before the flag
    if (r.closed && r.unload_ns < 0 && r.last_ns >= 0) r.unload_ns = r.last_ns;
    reader.finish();
}

uint32_t slots_to_read(const FlightRecord& r, uint64_t file_size) {
    uint64_t present = (file_size - fr::kHeaderSize) / fr::kSlotSize;
    return static_cast<uint32_t>(std::min<uint64_t>(r.slots_reserved, present));
}

}  // namespace

FlightRecord parse_flight_record(std::string_view bytes) {
    FlightRecord r;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!read_header(r, p, bytes.size())) return r;
    SlotReader reader(r);
    uint32_t n = slots_to_read(r, bytes.size());
    for (uint32_t i = 0; i < n; ++i) reader.slot(i, p + fr::kHeaderSize + std::size_t{i} * fr::kSlotSize);
    finish_record(r, reader, bytes.size());
    return r;
}

FlightRecord read_flight_record(const std::string& path) {
    FlightRecord r;
    r.path = path;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        r.problems.push_back("cannot open " + path);
        return r;
    }
    std::error_code ec;
    uint64_t size = fs::file_size(path, ec);
    std::vector<unsigned char> buf(std::size_t{1} << 16);
    std::size_t got = std::fread(buf.data(), 1, fr::kHeaderSize, f.get());
    if (ec) size = got;
    if (!read_header(r, buf.data(), got)) return r;
    SlotReader reader(r);
    // The file may grow while it is read (a live load): read only what the
    // header counted and the size showed.
    uint32_t n = slots_to_read(r, size);
    uint32_t done = 0;
    const std::size_t per_chunk = buf.size() / fr::kSlotSize;
    while (done < n) {
        std::size_t want = std::min<std::size_t>(per_chunk, n - done);
        std::size_t have = std::fread(buf.data(), fr::kSlotSize, want, f.get());
        for (std::size_t i = 0; i < have; ++i) reader.slot(done + static_cast<uint32_t>(i), buf.data() + i * fr::kSlotSize);
        done += static_cast<uint32_t>(have);
        if (have < want) {
            size = fr::kHeaderSize + uint64_t{done} * fr::kSlotSize;
            break;
        }
    }
    finish_record(r, reader, size);
    r.host = host_state(r);
    return r;
}

std::string last_load_record(const std::vector<std::string>& paths) {
    const std::vector<std::string> logs = session_files(paths);
    if (logs.empty()) throw std::runtime_error("no log file given");
    const std::vector<std::string> records = flight_record_files(logs.back());
    if (records.empty())
        throw std::runtime_error("no flight record (" + std::string(fr::kExtension) + ") beside " + logs.back());
    return records.back();
}

std::vector<std::string> flight_record_files(const std::string& log_path) {
    fs::path log(log_path);
    std::string stem = log.filename().string();
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".txt") == 0) stem.resize(stem.size() - 4);
    fs::path dir = log.parent_path();
    std::vector<std::pair<unsigned long, std::string>> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir.empty() ? fs::path(".") : dir, ec)) {
        std::string name = e.path().filename().string();
        if (name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0) continue;
        std::string rest = name.substr(stem.size());
        if (rest == fr::kExtension) {
            found.emplace_back(1, e.path().string());
            continue;
        }
        // ".<n>.calls" with n >= 2
        std::string ext = fr::kExtension;
        if (rest.size() <= ext.size() + 1 || rest[0] != '.' || rest.compare(rest.size() - ext.size(), ext.size(), ext) != 0)
            continue;
        std::string digits = rest.substr(1, rest.size() - 1 - ext.size());
        if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        unsigned long n = std::stoul(digits);
        if (n >= 2) found.emplace_back(n, e.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

namespace {

std::string first_line_of(const std::string& path) {
    std::ifstream f(path);
    std::string s;
    std::getline(f, s);
    return s;
}

// Field 22 of /proc/<pid>/stat (the start time in clock ticks after boot),
// counted after the command name's closing parenthesis.
bool process_start_ticks(uint32_t pid, uint64_t& ticks) {
    std::string stat = first_line_of("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(rest >> field)) return false;
    long long v = 0;
    if (!parse_int(field, v) || v < 0) return false;
    ticks = static_cast<uint64_t>(v);
    return true;
}

}  // namespace

HostState host_state(const FlightRecord& r) {
    if (!r.header_ok) return HostState::unknown;
    if (r.boot_id.empty() || first_line_of("/proc/sys/kernel/random/boot_id") != r.boot_id) return HostState::gone;
    uint64_t ticks = 0;
    if (r.pid == 0 || !process_start_ticks(r.pid, ticks)) return HostState::gone;
    return ticks == r.process_start_ticks ? HostState::running : HostState::gone;
}

int64_t monotonic_now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

const TimedCall* FlightRecord::call_by_id(uint32_t id) const {
    // Ids are slot + 1 and calls are in slot order: a binary search finds it.
    auto it = std::lower_bound(calls.begin(), calls.end(), id,
                               [](const TimedCall& c, uint32_t v) { return c.slot + 1 < v; });
    return it != calls.end() && it->id == id ? &*it : nullptr;
}

const CallCapture* FlightRecord::capture_of(uint32_t call_id) const {
    auto it = std::lower_bound(captures.begin(), captures.end(), call_id,
                               [](const CallCapture& c, uint32_t id) { return c.call_id < id; });
    return it != captures.end() && it->call_id == call_id ? &*it : nullptr;
}

std::string FlightRecord::image_path(const CapturedImage& image) const {
    if (!image.stored || image.file_name.empty() || images_folder.empty()) return {};
    return (fs::path(path).parent_path() / images_folder / image.file_name).string();
}

CaptureCheck check_capture(const FlightRecord& r, bool macos_abi) {
    auto layout = [](bool macos) { return macos ? "macos" : "native"; };
    const std::string name = r.path.empty() ? "the flight record" : r.path;
    if (!r.header_ok)
        return {CaptureStatus::damaged, name + ": not a readable flight record (" +
                                            (r.problems.empty() ? std::string("no header") : r.problems.front()) + ")"};
    if (!r.has_capture)
        return {CaptureStatus::no_capture,
                name + ": this load was recorded without a capture of its calls' data (by an earlier version "
                       "of Tracelet, or with capture off), so it cannot be replayed"};
    if (r.macos_abi != macos_abi)
        return {CaptureStatus::other_abi, name + ": captured under the " + layout(r.macos_abi) +
                                              " TWAIN layout; this build uses the " + layout(macos_abi) + " layout"};
    if (r.cut_short) return {CaptureStatus::damaged, name + ": the file was cut short; its capture is incomplete"};
    if (!r.capture_problems.empty())
        return {CaptureStatus::damaged, name + ": the capture is damaged: " + r.capture_problems.front()};
    // Every application call has its input; one that returned has its
    // output too (it is written before the call's end).
    for (const TimedCall& c : r.calls) {
        if (c.from_source) continue;
        const CallCapture* k = r.capture_of(c.id);
        if (!k || !k->in.present || (c.ended() && !k->out.present)) {
            // A record that stopped early holds the calls up to there.
            if (r.full || r.map_failed) break;
            return {CaptureStatus::damaged, name + ": the capture of call " + std::to_string(c.id) + " (" +
                                                triplet_text(c) + ") is missing"};
        }
    }
    return {};
}

std::string FlightRecord::thread_name(uint32_t thread) const {
    auto it = thread_names.find(thread);
    return it == thread_names.end() || it->second.empty() ? std::to_string(thread)
                                                          : std::to_string(thread) + " (" + it->second + ")";
}

int64_t FlightRecord::wall_ns(int64_t mono_ns) const {
    // Wrapping arithmetic: a damaged header may hold any values.
    return static_cast<int64_t>(static_cast<uint64_t>(load_wall_ns) + static_cast<uint64_t>(mono_ns) -
                                static_cast<uint64_t>(load_mono_ns));
}

std::string FlightRecord::clock_text(int64_t mono_ns) const {
    int64_t wall = static_cast<int64_t>(static_cast<uint64_t>(wall_ns(mono_ns)) +
                                        static_cast<uint64_t>(int64_t{utc_offset_seconds} * 1000000000));
    int64_t ms = wall / 1000000;
    if (wall < 0 && wall % 1000000) --ms;
    int64_t day_ms = ((ms % 86400000) + 86400000) % 86400000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", static_cast<int>(day_ms / 3600000),
                  static_cast<int>(day_ms / 60000 % 60), static_cast<int>(day_ms / 1000 % 60),
                  static_cast<int>(day_ms % 1000));
    return buf;
}

std::string FlightRecord::stop_text() const {
    if (!full && !map_failed && stop_reason == 0) return "";
    std::string why;
    switch (stop_reason) {
        case fr::kStopNoSpace: why = "no space left on the disk"; break;
        case fr::kStopMaxSize: why = "the record reached its size bound"; break;
        case fr::kStopMapFailed: why = "the file could not be mapped further"; break;
        default: why = map_failed ? "the file could not be mapped further" : "no space, or its size bound reached";
    }
    if (stop_error) why += " (" + std::string(std::strerror(static_cast<int>(stop_error))) + ")";
    return "the record stopped early: " + why;
}


std::string rc_text(int rc) {
    if (rc < 0) return "-";
    if (rc >= 0x8000) return "ERROR!(" + std::to_string(rc) + ")";  // a source's own code, as the log prints it
    return name_of(NameKind::Rc, static_cast<uint32_t>(rc));
}

std::string triplet_text(const TimedCall& c) {
    std::string s = name_of(NameKind::Dg, c.dg) + "/" + name_of(NameKind::Dat, c.dat) + "/" + name_of(NameKind::Msg, c.msg);
    if (c.cap >= 0) s += " (" + name_of(NameKind::Cap, static_cast<uint32_t>(c.cap)) + ")";
    return s;
}

std::string duration_text(int64_t ns) {
    char buf[48];
    if (ns < 0) return "?";
    if (ns >= 1000000000)
        std::snprintf(buf, sizeof buf, "%.3f s", static_cast<double>(ns) / 1e9);
    else if (ns >= 1000000)
        std::snprintf(buf, sizeof buf, "%.1f ms", static_cast<double>(ns) / 1e6);
    else if (ns >= 1000)
        std::snprintf(buf, sizeof buf, "%lld us", static_cast<long long>(ns / 1000));
    else
        std::snprintf(buf, sizeof buf, "%lld ns", static_cast<long long>(ns));
    return buf;
}

// Session join ---------------------------------------------------------------

namespace {

// The 1-based line a byte offset of the log falls on (offset 0: line 1).
std::size_t line_at(const std::string& path, uint64_t offset, uint64_t& file_size) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    file_size = 0;
    if (!f) return 1;
    std::vector<char> buf(1 << 16);
    std::size_t line = 1, n;
    uint64_t pos = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
        for (std::size_t i = 0; i < n; ++i, ++pos)
            if (pos < offset && buf[i] == '\n') ++line;
        file_size += n;
    }
    return line;
}

}  // namespace

SessionTimes SessionTimes::load(const std::vector<std::string>& log_files) {
    SessionTimes t;
    // Records whose log is gone (deleted, or never written) are not read:
    // say so for those in the folders of the session.
    std::vector<fs::path> folders;
    for (const std::string& log : log_files) {
        fs::path dir = fs::path(log).parent_path();
        if (std::find(folders.begin(), folders.end(), dir) == folders.end()) folders.push_back(dir);
    }
    for (const fs::path& dir : folders) {
        std::error_code ec;
        std::vector<std::string> orphans;
        for (const auto& e : fs::directory_iterator(dir.empty() ? fs::path(".") : dir, ec)) {
            std::string name = e.path().filename().string();
            std::size_t ext = name.rfind(fr::kExtension);
            if (name.compare(0, 9, "Twainlog_") != 0 || ext == std::string::npos || ext + 6 != name.size()) continue;
            std::string stem = name.substr(0, name.find('.'));
            if (!fs::exists((dir.empty() ? fs::path(".") : dir) / (stem + ".txt"), ec)) orphans.push_back(name);
        }
        std::sort(orphans.begin(), orphans.end());
        for (const std::string& name : orphans)
            t.problems_.push_back(name + ": a record without its log " + name.substr(0, name.find('.')) +
                                  ".txt: not read");
    }
    for (std::size_t file = 0; file < log_files.size(); ++file) {
        const std::string log_name = fs::path(log_files[file]).filename().string();
        for (const std::string& path : flight_record_files(log_files[file])) {
            FlightRecord r = read_flight_record(path);
            const std::string name = fs::path(path).filename().string();
            uint64_t size = 0;
            std::size_t first = line_at(log_files[file], r.log_offset, size);
            if (r.header_ok && r.log_offset > size) {
                t.problems_.push_back(name + ": its load began at byte " + std::to_string(r.log_offset) + " of " +
                                      log_name + ", which is only " + std::to_string(size) +
                                      " bytes long: its calls are not joined to the log");
                first = static_cast<std::size_t>(-1);
            }
            if (r.header_ok && !r.log_name.empty() && r.log_name != log_name)
                t.problems_.push_back(name + ": written for the log " + r.log_name + ", read beside " + log_name);
            t.add(std::move(r), static_cast<int>(file), first);
        }
    }
    return t;
}

void SessionTimes::add(FlightRecord r, int file, std::size_t first_line) {
    const std::string name = r.path.empty() ? "record" : fs::path(r.path).filename().string();
    for (const std::string& p : r.problems) problems_.push_back(name + ": " + p);
    Entry e;
    e.file = file;
    e.first_line = first_line;
    for (std::size_t i = 0; i < r.calls.size(); ++i)
        if (r.calls[i].seq >= 0) e.by_seq.emplace(r.calls[i].seq, static_cast<uint32_t>(i));
    // Keep the entries of one file in the order their loads began.
    std::size_t at = records_.size();
    while (at > 0 && entries_[at - 1].file == file && entries_[at - 1].first_line > first_line) --at;
    records_.insert(records_.begin() + static_cast<std::ptrdiff_t>(at), std::move(r));
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), std::move(e));
}

const SessionTimes::Entry* SessionTimes::entry_of(const Call& c, std::size_t* index) const {
    const Entry* best = nullptr;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.file != c.file || e.first_line > c.line) continue;
        if (!best || e.first_line >= best->first_line) {
            best = &e;
            if (index) *index = i;
        }
    }
    return best;
}

const FlightRecord* SessionTimes::record_of(const Call& c) const {
    std::size_t i = 0;
    return entry_of(c, &i) ? &records_[i] : nullptr;
}

const TimedCall* SessionTimes::find(const Call& c) const {
    std::size_t i = 0;
    const Entry* e = entry_of(c, &i);
    if (!e || c.seq < 0) return nullptr;
    auto it = e->by_seq.find(c.seq);
    return it == e->by_seq.end() ? nullptr : &records_[i].calls[it->second];
}

void SessionTimes::note_call(const Call& c) {
    std::size_t i = 0;
    if (entry_of(c, &i) && entries_[i].load < 0) entries_[i].load = c.load;
}

int SessionTimes::load_of(const FlightRecord& r) const {
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (&records_[i] == &r) return entries_[i].load;
    return -1;
}

std::string SessionTimes::call_label(const FlightRecord& r, const TimedCall& c) const {
    int load = load_of(r);
    std::string prefix = load > 0 ? std::to_string(load + 1) + ":" : "";
    if (c.seq < 0) return prefix + "#" + std::to_string(c.id);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%05lld", c.seq);
    return prefix + buf;
}

}  // namespace tracelet::trace
