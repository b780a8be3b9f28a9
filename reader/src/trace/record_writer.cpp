#include "trace/record_writer.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tracelet/flightrecord.h"

namespace fr = tracelet::flightrecord;

namespace tracelet::trace {

namespace {

template <typename T>
void put(std::string& s, std::size_t at, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        s[at + i] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i) & 0xffu);
}

void put_text(std::string& s, std::size_t at, std::size_t size, const std::string& text) {
    std::memcpy(&s[at], text.data(), std::min(text.size(), size - 1));
}

std::string slot_of(uint32_t index, uint16_t kind, uint16_t slots = 1) {
    std::string s(fr::kSlotSize * slots, '\0');
    put<uint32_t>(s, 0, fr::Seal(index, kind));
    put<uint16_t>(s, 4, kind);
    put<uint16_t>(s, 6, slots);
    return s;
}

}  // namespace

RecordWriter::RecordWriter() : header_(Header()) {}

uint32_t RecordWriter::start(const Start& c) {
    uint32_t index = static_cast<uint32_t>(slots_.size());
    std::string s = slot_of(index, fr::kKindCall);
    put<uint32_t>(s, 8, index + 1);
    put<uint32_t>(s, 12, c.thread);
    put<int64_t>(s, 16, c.start_ns);
    put<uint32_t>(s, 24, c.dg);
    put<uint16_t>(s, 28, c.dat);
    put<uint16_t>(s, 30, c.msg);
    if (c.cap >= 0) {
        put<uint16_t>(s, 32, static_cast<uint16_t>(c.cap));
        s[35] = static_cast<char>(fr::kCallHasCap);
    }
    s[34] = static_cast<char>(c.from_source ? fr::kTagSource : fr::kTagApplication);
    s[36] = static_cast<char>(c.state_before);
    put<uint32_t>(s, 40, c.during_id);
    put<uint32_t>(s, 56, c.concurrent_id);
    slots_.push_back(std::move(s));
    return index;
}

void RecordWriter::end(uint32_t slot, int64_t end_ns, uint16_t rc, int state_after, long long seq) {
    std::string& s = slots_.at(slot);
    s[37] = static_cast<char>(state_after);
    put<uint16_t>(s, 38, rc);
    if (seq >= 0) {
        put<uint32_t>(s, 44, static_cast<uint32_t>(seq));
        s[35] = static_cast<char>(s[35] | fr::kCallTraced);
    }
    put<int64_t>(s, 48, end_ns);
    put<uint32_t>(s, 60, fr::EndSeal(slot));
}

void RecordWriter::thread_name(uint32_t thread, const std::string& name, int64_t time_ns) {
    std::string s = slot_of(static_cast<uint32_t>(slots_.size()), fr::kKindThreadName);
    put<uint32_t>(s, 8, thread);
    put<int64_t>(s, 16, time_ns);
    put_text(s, 24, 40, name);
    slots_.push_back(std::move(s));
}

void RecordWriter::unload(int64_t time_ns, uint32_t thread) {
    std::string s = slot_of(static_cast<uint32_t>(slots_.size()), fr::kKindUnload);
    put<uint32_t>(s, 8, thread);
    put<int64_t>(s, 16, time_ns);
    slots_.push_back(std::move(s));
    flags_ |= fr::kFlagClosed;
}

void RecordWriter::stop(uint32_t reason, uint32_t error, int64_t time_ns) {
    std::string s = slot_of(static_cast<uint32_t>(slots_.size()), fr::kKindStop);
    put<uint32_t>(s, 8, reason);
    put<uint32_t>(s, 12, error);
    put<int64_t>(s, 16, time_ns);
    slots_.push_back(std::move(s));
    flags_ |= reason == fr::kStopMapFailed ? fr::kFlagMapFailed : fr::kFlagFull;
}

void RecordWriter::capture(const Capture& c) {
    using R = fr::CaptureRecord;
    const uint32_t index = static_cast<uint32_t>(slots_.size());
    const uint32_t kept = static_cast<uint32_t>(c.structure.size() + c.block.size());
    const uint16_t slots = static_cast<uint16_t>(fr::CaptureSlots(kept));
    std::string s = slot_of(index, fr::kKindCapture, slots);
    put<uint32_t>(s, offsetof(R, call_id), c.call_slot + 1);
    s[offsetof(R, phase)] = static_cast<char>(c.out ? fr::kPhaseOut : fr::kPhaseIn);
    s[offsetof(R, flags)] = static_cast<char>(c.flags | (c.data ? 0 : fr::kCapNullData));
    s[offsetof(R, block_kind)] = static_cast<char>(c.container ? fr::kBlockContainer : fr::kBlockNone);
    put<uint64_t>(s, offsetof(R, data), c.data);
    put<uint32_t>(s, offsetof(R, structure_size),
                  c.structure_size ? c.structure_size : static_cast<uint32_t>(c.structure.size()));
    put<uint32_t>(s, offsetof(R, structure_bytes), static_cast<uint32_t>(c.structure.size()));
    put<uint64_t>(s, offsetof(R, handle), c.handle);
    put<uint32_t>(s, offsetof(R, block_size), c.block_size ? c.block_size : static_cast<uint32_t>(c.block.size()));
    put<uint32_t>(s, offsetof(R, block_bytes), static_cast<uint32_t>(c.block.size()));
    put<uint16_t>(s, offsetof(R, con_type), c.con_type);
    put<uint16_t>(s, offsetof(R, item_type), c.item_type);
    put<uint32_t>(s, offsetof(R, num_items), c.num_items);
    put<uint64_t>(s, offsetof(R, block_limit), c.block_limit);
    s.replace(fr::kSlotSize, c.structure.size(), c.structure);
    s.replace(fr::kSlotSize + c.structure.size(), c.block.size(), c.block);
    for (uint16_t i = 0; i < slots; ++i) slots_.push_back(s.substr(i * fr::kSlotSize, fr::kSlotSize));
}

void RecordWriter::image(const Image& m) {
    using R = fr::ImageRecord;
    const uint32_t index = static_cast<uint32_t>(slots_.size());
    std::string s = slot_of(index, fr::kKindImage, 3);
    put<uint32_t>(s, offsetof(R, call_id), m.call_slot + 1);
    s[offsetof(R, transfer)] = static_cast<char>(m.transfer);
    s[offsetof(R, length_from)] = static_cast<char>(m.length_from);
    s[offsetof(R, hash_kind)] = static_cast<char>(m.hash_kind);
    s[offsetof(R, flags)] = static_cast<char>(m.flags);
    put<uint64_t>(s, offsetof(R, length), m.length);
    put<uint64_t>(s, offsetof(R, hash), m.hash);
    put<uint64_t>(s, offsetof(R, hashed_bytes), m.hashed_bytes);
    put<uint64_t>(s, offsetof(R, address), m.address);
    put<uint64_t>(s, offsetof(R, stored_bytes), m.stored_bytes);
    put_text(s, offsetof(R, file_name), sizeof(R::file_name), m.file_name);
    for (int i = 0; i < 3; ++i) slots_.push_back(s.substr(i * fr::kSlotSize, fr::kSlotSize));
}

void RecordWriter::unsealed() { slots_.emplace_back(fr::kSlotSize, '\0'); }

void RecordWriter::other_kind(uint16_t kind, uint16_t slots) {
    std::string s = slot_of(static_cast<uint32_t>(slots_.size()), kind, slots);
    for (std::size_t i = 8; i < s.size(); ++i) s[i] = static_cast<char>(0x5a);
    slots_.push_back(s.substr(0, fr::kSlotSize));
    for (uint16_t i = 1; i < slots; ++i) slots_.push_back(s.substr(i * fr::kSlotSize, fr::kSlotSize));
}

std::string RecordWriter::bytes(std::size_t spare_slots) const {
    std::string s(fr::kHeaderSize, '\0');
    std::memcpy(&s[0], fr::kMagic, sizeof fr::kMagic);
    put<uint16_t>(s, 8, fr::kVersion);
    put<uint16_t>(s, 10, static_cast<uint16_t>(fr::kHeaderSize));
    put<uint16_t>(s, 12, static_cast<uint16_t>(fr::kSlotSize));
    s[14] = static_cast<char>(header_.macos_abi ? fr::kAbiMacos : fr::kAbiNative);
    put<uint32_t>(s, 16, header_.pid);
    put<uint32_t>(s, 20, header_.load_in_log);
    put<uint64_t>(s, 24, header_.process_start_ticks);
    put<uint32_t>(s, 32, header_.ticks_per_second);
    put<int32_t>(s, 36, header_.utc_offset_seconds);
    put<int64_t>(s, 40, header_.load_wall_ns);
    put<int64_t>(s, 48, header_.load_mono_ns);
    put<uint64_t>(s, 56, header_.log_offset);
    put<uint64_t>(s, 64, fr::kMaxFileSize);
    put_text(s, 72, 40, header_.boot_id);
    put_text(s, 112, 64, header_.process_name);
    put_text(s, 176, 32, "1.0.0");
    put_text(s, 208, 128, header_.log_name);
    put_text(s, 336, 1024, header_.ds_path);
    put_text(s, 1360, 1024, header_.companion_path);
    if (header_.capture) {
        using H = fr::FileHeader;
        put<uint32_t>(s, offsetof(H, capture), fr::kCaptureCalls | (header_.images ? fr::kCaptureImages : 0u));
        put<uint32_t>(s, offsetof(H, capture_max_structure), header_.capture_max_structure);
        put<uint32_t>(s, offsetof(H, capture_max_block), header_.capture_max_block);
        put<uint32_t>(s, offsetof(H, capture_hash_sample), header_.capture_hash_sample);
        put_text(s, offsetof(H, capture_images), sizeof(H::capture_images), header_.images_folder);
    }
    put<uint32_t>(s, 4088, flags_);
    put<uint32_t>(s, 4092, static_cast<uint32_t>(slots_.size()));
    for (const std::string& slot : slots_) s += slot;
    s.append(spare_slots * fr::kSlotSize, '\0');
    return s;
}

void RecordWriter::write(const std::string& path, std::size_t spare_slots) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes(spare_slots);
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string this_boot_id() {
    std::ifstream f("/proc/sys/kernel/random/boot_id");
    std::string s;
    std::getline(f, s);
    return s;
}

uint64_t start_ticks_of(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(f, stat);
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i) rest >> field;
    return std::stoull(field);
}

}  // namespace tracelet::trace
