// Reads a flight record the data source wrote, straight from the format
// header: the header, the sealed records by kind, calls with or without
// their end.
#ifndef TRACELET_TEST_RECORDFILE_H
#define TRACELET_TEST_RECORDFILE_H

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "DsLibrary.h"
#include "tracelet/flightrecord.h"

namespace fr = tracelet::flightrecord;

// The record files in `folder`, sorted.
inline std::vector<std::string> RecordFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : FolderFiles(folder))
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".calls") == 0) names.push_back(name);
    return names;
}

struct RecordFile {
    fr::FileHeader header{};
    std::vector<fr::CallRecord> calls;  // sealed at their start, in slot order
    std::map<uint32_t, std::string> threadNames;
    std::vector<fr::UnloadRecord> unloads;
    std::vector<fr::StopRecord> stops;
    // Captures: the first slot, then the data the further slots hold.
    struct Capture {
        fr::CaptureRecord head;
        std::string structure, block;
    };
    std::vector<Capture> captures;
    std::vector<fr::ImageRecord> images;
    size_t fileSize = 0;
    uint64_t sealedSlots = 0;  // the slots of all sealed records

    // The capture of call `id` in `phase`; null when there is none.
    const Capture* CaptureOf(uint32_t id, uint8_t phase) const {
        for (const auto& c : captures)
            if (c.head.call_id == id && c.head.phase == phase) return &c;
        return nullptr;
    }
    const fr::ImageRecord* ImageOf(uint32_t id) const {
        for (const auto& m : images)
            if (m.call_id == id) return &m;
        return nullptr;
    }

    static bool Ended(const fr::CallRecord& c) { return c.end_seal == fr::EndSeal(c.call_id - 1); }
    bool Closed() const { return header.flags & fr::kFlagClosed; }
    const fr::CallRecord* Call(uint32_t id) const {
        for (const auto& c : calls)
            if (c.call_id == id) return &c;
        return nullptr;
    }

    static RecordFile Read(const std::string& path) {
        const std::string bytes = ReadFile(path);
        RecordFile r;
        r.fileSize = bytes.size();
        if (bytes.size() < fr::kHeaderSize) return r;
        memcpy(&r.header, bytes.data(), sizeof r.header);
        const uint64_t inFile = (bytes.size() - fr::kHeaderSize) / fr::kSlotSize;
        const uint64_t slots = r.header.slots_reserved < inFile ? r.header.slots_reserved : inFile;
        for (uint32_t i = 0; i < slots;) {
            const char* at = bytes.data() + fr::kHeaderSize + uint64_t(i) * fr::kSlotSize;
            fr::RecordHead head;
            memcpy(&head, at, sizeof head);
            if (head.seal != fr::Seal(i, head.kind) || head.slots == 0) {
                ++i;
                continue;
            }
            const auto name = As<fr::ThreadNameRecord>(at);
            if (head.kind == fr::kKindThreadName) r.threadNames[name.thread] = std::string(name.name, strnlen(name.name, 40));
            if (head.kind == fr::kKindCall) r.calls.push_back(As<fr::CallRecord>(at));
            if (head.kind == fr::kKindUnload) r.unloads.push_back(As<fr::UnloadRecord>(at));
            if (head.kind == fr::kKindStop) r.stops.push_back(As<fr::StopRecord>(at));
            if (head.kind == fr::kKindCapture && i + uint64_t(head.slots) <= slots) {
                Capture c{As<fr::CaptureRecord>(at), {}, {}};
                c.structure.assign(at + fr::kSlotSize, c.head.structure_bytes);
                c.block.assign(at + fr::kSlotSize + c.head.structure_bytes, c.head.block_bytes);
                r.captures.push_back(c);
            }
            if (head.kind == fr::kKindImage && i + uint64_t(head.slots) <= slots) r.images.push_back(As<fr::ImageRecord>(at));
            i += head.slots;
            r.sealedSlots += head.slots;
        }
        return r;
    }
    // The one record file in `folder`; an empty record when there is not exactly one.
    static RecordFile OnlyIn(const std::string& folder) {
        const std::vector<std::string> names = RecordFiles(folder);
        return names.size() == 1 ? Read(folder + "/" + names[0]) : RecordFile{};
    }

private:
    template <class T>
    static T As(const char* at) {
        T t;
        memcpy(&t, at, sizeof t);
        return t;
    }
};

#endif  // TRACELET_TEST_RECORDFILE_H
