// What the flight record captures of each application call through a loaded
// data source: pData as it came in and as the source left it, with the
// capability container behind its handle; a memory transfer's image data
// (hashed, and written whole while the image folder exists); and the bounds
// that hold against containers and structures larger than their record, lying
// counts and memory that ends.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "ContainerBytes.h"
#include "DataSourceHarness.h"
#include "RecordFile.h"

namespace {

// The application's calls run on a data source whose source is played by
// `fill`; the record is read after the unload.
struct Session {
    LoadedDataSource ds;
    explicit Session(void (*beforeLoad)() = nullptr) : ds(Companion::Scripted, true, beforeLoad) {}
    template <class F>
    void Source(F* context, void (*fill)(void*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)) {
        ds.control->context = context;
        ds.control->fill = fill;
    }
    RecordFile Finish() {
        ds.Unload();
        return RecordFile::OnlyIn(LoadedDataSource::LogFolder());
    }
};

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// Two readable pages, then one that cannot be read.
struct EdgeOfMemory {
    char* base = static_cast<char*>(mmap(nullptr, 3 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EdgeOfMemory() { mprotect(base + 2 * 4096, 4096, PROT_NONE); }
    ~EdgeOfMemory() { munmap(base, 3 * 4096); }
    char* End() const { return base + 2 * 4096; }
};

void MakeImageFolder() { MakeFolders(LoadedDataSource::LogFolder() + "/images"); }

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// Whether there is no reader to run (the no-heap run counts allocations).
bool NoReader() { return TraceletAllocationsBegin != nullptr || strlen(TRACELET_LOG_PROGRAM) == 0; }

// "tracelet-log json" on the log folder, one object per call.
std::vector<nlohmann::json> ReaderJson() {
    std::vector<nlohmann::json> calls;
    const std::string command = std::string(TRACELET_LOG_PROGRAM) + " json '" + LoadedDataSource::LogFolder() + "'";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p) pclose(p);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) calls.push_back(nlohmann::json::parse(line));
    return calls;
}

}  // namespace

// A set hands the source a container and a get takes one back: each is
// kept on the side of the call where it was in the application's hands.
TEST(Capture, ACapabilityCallKeepsItsStructureAndContainerGoingInAndComingOut) {
    Session s;
    std::vector<unsigned char> answerBytes = EnumerationHead(TWTY_UINT16, 3, 1, 0);
    for (TW_UINT16 item : {100, 200, 300}) Put(answerBytes, item);
    Handle answer(answerBytes);
    s.Source(&answer, [](void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
        if (DAT != DAT_CAPABILITY || !pData) return;
        auto* cap = static_cast<TW_CAPABILITY*>(pData);
        if (MSG == MSG_GET) {
            cap->ConType = TWON_ENUMERATION;
            cap->hContainer = static_cast<Handle*>(context)->get();
        } else if (MSG == MSG_SET) {
            // The source takes a lower value than the one asked for.
            auto* one = static_cast<TW_ONEVALUE*>(TwainLockHandle(cap->hContainer));
            one->Item = 150;
        }
    });
    Handle asked(OneValueOf<TW_UINT32>(TWTY_UINT16, 175));
    TW_CAPABILITY set{CAP_XFERCOUNT, TWON_ONEVALUE, asked.get()};
    TW_CAPABILITY get{ICAP_XRESOLUTION, TWON_DONTCARE16, nullptr};
    const TW_CAPABILITY setIn = set, getIn = get;
    ASSERT_EQ(s.ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set), TWRC_SUCCESS);
    ASSERT_EQ(s.ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &get), TWRC_SUCCESS);
    const RecordFile r = s.Finish();
    ASSERT_TRUE(r.header.capture & fr::kCaptureCalls);
    EXPECT_FALSE(r.header.capture & fr::kCaptureImages);
    ASSERT_EQ(r.calls.size(), 2u);

    const uint32_t setId = r.calls[0].call_id, getId = r.calls[1].call_id;
    const auto* in = r.CaptureOf(setId, fr::kPhaseIn);
    const auto* out = r.CaptureOf(setId, fr::kPhaseOut);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(in->structure, Bytes(&setIn, sizeof setIn));
    EXPECT_EQ(in->head.structure_size, sizeof(TW_CAPABILITY));
    EXPECT_EQ(in->head.block_kind, fr::kBlockContainer);
    EXPECT_EQ(in->head.handle, reinterpret_cast<uintptr_t>(asked.get()));
    EXPECT_EQ(in->block, Bytes(OneValueOf<TW_UINT32>(TWTY_UINT16, 175).data(), sizeof(TW_ONEVALUE)));
    EXPECT_EQ(out->block, Bytes(OneValueOf<TW_UINT32>(TWTY_UINT16, 150).data(), sizeof(TW_ONEVALUE)));
    EXPECT_EQ(std::make_tuple(in->head.con_type, in->head.item_type, in->head.num_items, in->head.flags),
              std::make_tuple(TW_UINT16{TWON_ONEVALUE}, TW_UINT16{TWTY_UINT16}, 1u, uint8_t{0}));

    const auto* getOut = r.CaptureOf(getId, fr::kPhaseOut);
    const auto* getIn2 = r.CaptureOf(getId, fr::kPhaseIn);
    ASSERT_TRUE(getIn2 && getOut);
    EXPECT_EQ(getIn2->structure, Bytes(&getIn, sizeof getIn));
    EXPECT_EQ(getIn2->block, "");
    EXPECT_EQ(getOut->structure, Bytes(&get, sizeof get));
    const size_t head = offsetof(TW_ENUMERATION, ItemList);
    EXPECT_EQ(getOut->head.block_size, head + 3 * sizeof(TW_UINT16));
    EXPECT_EQ(getOut->block, Bytes(answerBytes.data(), answerBytes.size()));
    EXPECT_TRUE(r.images.empty());

    // The reader shows each call's input beside its output.
    if (NoReader()) return;
    const std::vector<nlohmann::json> calls = ReaderJson();
    ASSERT_EQ(calls.size(), 2u);
    const nlohmann::json& capture = calls[0]["capture"];
    EXPECT_EQ(capture["in"]["structure"]["hex"], Hex(in->structure));
    EXPECT_EQ(capture["in"]["container"]["con_type"], "TWON_ONEVALUE");
    EXPECT_EQ(capture["in"]["container"]["bytes"]["hex"], Hex(in->block));
    EXPECT_EQ(capture["out"]["container"]["bytes"]["hex"], Hex(out->block));
    EXPECT_EQ(calls[1]["capture"]["in"]["container"].contains("bytes"), false);
    EXPECT_EQ(calls[1]["capture"]["out"]["container"]["num_items"], 3);
}

// A memory transfer: the request going in, the strip's description coming
// out, and the strip's data by its length and hash; with the image folder
// the data itself in a file beside the record, hashed whole.
TEST(Capture, AMemoryTransferKeepsItsRequestItsStripAndTheStripsHash) {
    for (const bool images : {false, true}) {
        SCOPED_TRACE(images ? "with the image folder" : "without it");
        Session s(images ? MakeImageFolder : nullptr);
        s.Source<void>(nullptr, [](void*, TW_UINT32, TW_UINT16 DAT, TW_UINT16, TW_MEMREF pData) {
            if (DAT != DAT_IMAGEMEMXFER) return;
            auto* x = static_cast<TW_IMAGEMEMXFER*>(pData);
            auto* strip = static_cast<unsigned char*>(x->Memory.TheMem);
            for (TW_UINT32 i = 0; i < 40000; ++i) strip[i] = static_cast<unsigned char>(i * 7 + x->YOffset);
            x->BytesWritten = 40000;
            x->Rows = 40;
            x->BytesPerRow = 1000;
        });
        std::vector<unsigned char> buffer(65536, 0xEE);
        TW_IMAGEMEMXFER x[3];
        TW_IMAGEMEMXFER request[3];
        for (int i = 0; i < 3; ++i) {
            memset(&x[i], 0xff, sizeof x[i]);
            x[i].YOffset = i == 2 ? 1 : 0;  // the third strip differs from the first two in every byte
            x[i].Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, 65536, buffer.data()};
            request[i] = x[i];
            ASSERT_EQ(s.ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x[i]), TWRC_SUCCESS);
        }
        const std::string strip = Bytes(buffer.data(), 40000);
        const RecordFile r = s.Finish();
        ASSERT_EQ(r.calls.size(), 3u);
        ASSERT_EQ(r.images.size(), 3u);
        EXPECT_EQ(bool(r.header.capture & fr::kCaptureImages), images);
        for (int i = 0; i < 3; ++i) {
            const uint32_t id = r.calls[i].call_id;
            ASSERT_TRUE(r.CaptureOf(id, fr::kPhaseIn) && r.CaptureOf(id, fr::kPhaseOut));
            EXPECT_EQ(r.CaptureOf(id, fr::kPhaseIn)->structure, Bytes(&request[i], sizeof request[i]));
            EXPECT_EQ(r.CaptureOf(id, fr::kPhaseOut)->structure, Bytes(&x[i], sizeof x[i]));
        }
        const fr::ImageRecord& first = *r.ImageOf(r.calls[0].call_id);
        EXPECT_EQ(std::make_tuple(first.transfer, first.length_from, first.length, first.address),
                  std::make_tuple(uint8_t{fr::kTransferMemory}, uint8_t{fr::kLengthBytesWritten}, uint64_t{40000},
                                  uint64_t(reinterpret_cast<uintptr_t>(buffer.data()))));
        // The same data hashes the same, other data otherwise.
        EXPECT_EQ(first.hash, r.ImageOf(r.calls[1].call_id)->hash);
        EXPECT_NE(first.hash, r.ImageOf(r.calls[2].call_id)->hash);
        if (!images) {
            EXPECT_EQ(std::make_tuple(first.hash_kind, first.hashed_bytes, first.flags, first.file_name[0]),
                      std::make_tuple(uint8_t{fr::kHashSample}, uint64_t{fr::kCaptureHashSample}, uint8_t{0}, '\0'));
            continue;
        }
        // The last strip's data is in the buffer now.
        const fr::ImageRecord& last = *r.ImageOf(r.calls[2].call_id);
        EXPECT_EQ(std::make_tuple(last.hash_kind, last.hashed_bytes, last.stored_bytes, last.flags),
                  std::make_tuple(uint8_t{fr::kHashFull}, uint64_t{40000}, uint64_t{40000}, uint8_t{fr::kImageStored}));
        EXPECT_EQ(last.hash, XXH3_64bits_withSeed(strip.data(), strip.size(), 40000));
        std::string record = RecordFiles(LoadedDataSource::LogFolder())[0];
        record.resize(record.size() - strlen(".calls"));
        EXPECT_EQ(std::string(last.file_name), record + "." + std::to_string(r.calls[2].call_id) + ".img");
        EXPECT_EQ(ReadFile(LoadedDataSource::LogFolder() + "/images/" + last.file_name), strip);
        if (!NoReader()) {
            const std::vector<nlohmann::json> calls = ReaderJson();
            ASSERT_EQ(calls.size(), 3u);
            const nlohmann::json& image = calls.at(2)["capture"]["image"];
            EXPECT_EQ(std::make_tuple(image["length"], image["hash_of"], image["file"]),
                      std::make_tuple(nlohmann::json(40000), nlohmann::json("full"),
                                      nlohmann::json(LoadedDataSource::LogFolder() + "/images/" + last.file_name)));
        }
        ResetFolder(LoadedDataSource::LogFolder(), false);
    }
}

// Whatever the application or the source hands over, a capture reads no
// further than the type, the counts, the bounds and readable memory allow,
// and says which of them stopped it.
TEST(Capture, BoundsHoldAgainstLargeContainersLyingCountsAndTheEndOfMemory) {
    EdgeOfMemory edge;
    const size_t head = offsetof(TW_ARRAY, ItemList);
    std::vector<unsigned char> large = ArrayHead(TWTY_UINT32, 5000);
    large.resize(head + 5000 * 4, 0x42);
    Handle largeArray(large);
    // A count of 0xFFFFFFFF items in a block of the container's head.
    Handle lyingArray(ArrayHead(TWTY_UINT32, 0xFFFFFFFFu));
#if defined(TRACELET_TWAIN_ABI_MACOS)
    TW_HANDLE lying = lyingArray.get();
#else
    // In memory that reads on as far as the bound, not the heap.
    memcpy(edge.base, ArrayHead(TWTY_UINT32, 0xFFFFFFFFu).data(), head);
    TW_HANDLE lying = edge.base;
#endif
    std::vector<unsigned char> infos(sizeof(TW_EXTIMAGEINFO) + 999 * sizeof(TW_INFO), 0x5a);
    TW_UINT32 thousand = 1000;
    memcpy(infos.data(), &thousand, sizeof thousand);

    struct Row {
        const char* what;
        TW_UINT16 DAT, MSG;
        void* pData;
        uint32_t structureSize, structureBytes;
        uint64_t blockSize;
        uint32_t blockBytes;
        uint8_t flags;
    };
    TW_CAPABILITY setLarge{CAP_SUPPORTEDCAPS, TWON_ARRAY, largeArray.get()};
    TW_CAPABILITY setLying{CAP_SUPPORTEDCAPS, TWON_ARRAY, lying};
    const uint32_t capSize = sizeof(TW_CAPABILITY);
#if defined(TRACELET_TWAIN_ABI_MACOS)
    // The handle knows its block: the lying count meets its end.
    const uint32_t lyingBytes = static_cast<uint32_t>(head);
    const uint8_t lyingFlags = fr::kCapBlockCut | fr::kCapBlockTooSmall;
#else
    // The block's size is not known: the bound stops the read.
    const uint32_t lyingBytes = fr::kCaptureMaxBlock;
    const uint8_t lyingFlags = fr::kCapBlockCut;
#endif
    const Row rows[] = {
        {"a container larger than its bound", DAT_CAPABILITY, MSG_SET, &setLarge, capSize, capSize, head + 20000,
         fr::kCaptureMaxBlock, fr::kCapBlockCut},
        {"a container whose count lies", DAT_CAPABILITY, MSG_SET, &setLying, capSize, capSize, UINT32_MAX, lyingBytes,
         lyingFlags},
        {"a structure whose count claims more than its type", DAT_EXTIMAGEINFO, MSG_GET, infos.data(),
         static_cast<uint32_t>(sizeof(TW_EXTIMAGEINFO)), static_cast<uint32_t>(sizeof(TW_EXTIMAGEINFO)), 0, 0, 0},
        {"no structure", DAT_IDENTITY, MSG_GET, nullptr, 0, 0, 0, 0, fr::kCapNullData},
        {"a type without one", DAT_NULL, MSG_XFERREADY, &thousand, 0, 0, 0, 0, 0},
    };
    Session s;
    for (const Row& row : rows) s.ds.Call(DG_CONTROL, row.DAT, row.MSG, row.pData);
    const RecordFile r = s.Finish();
    ASSERT_EQ(r.calls.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const auto* c = r.CaptureOf(r.calls[i].call_id, fr::kPhaseIn);
        ASSERT_NE(c, nullptr) << row.what;
        EXPECT_EQ(std::make_tuple(c->head.structure_size, c->head.structure_bytes, c->head.block_bytes, c->head.flags),
                  std::make_tuple(row.structureSize, row.structureBytes, row.blockBytes, row.flags))
            << row.what;
        if (row.blockSize != UINT64_MAX) {
            EXPECT_EQ(c->head.block_size, row.blockSize) << row.what;
        }
        EXPECT_EQ(c->structure, Bytes(row.pData, c->head.structure_bytes)) << row.what;
        EXPECT_EQ(c->head.slots, fr::CaptureSlots(c->head.structure_bytes + c->head.block_bytes)) << row.what;
    }
    EXPECT_EQ(r.CaptureOf(r.calls[0].call_id, fr::kPhaseIn)->block, Bytes(large.data(), fr::kCaptureMaxBlock));
}

// A container at the end of readable memory is kept up to there; a failed
// call's container is not read at all.
TEST(Capture, AContainerIsReadUpToUnreadableMemoryAndNotAfterAFailure) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    GTEST_SKIP() << "handles of this layout know their blocks";
#else
    EdgeOfMemory edge;
    const size_t head = offsetof(TW_ARRAY, ItemList);
    char* array = edge.End() - head - 40;  // room for 10 of its 1000 items
    const std::vector<unsigned char> bytes = ArrayHead(TWTY_UINT32, 1000);
    memcpy(array, bytes.data(), head);
    TW_CAPABILITY set{CAP_SUPPORTEDCAPS, TWON_ARRAY, array};
    Session s;
    s.ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set);
    s.ds.control->rc = TWRC_FAILURE;
    s.ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set);
    const RecordFile r = s.Finish();
    ASSERT_EQ(r.calls.size(), 2u);
    const auto* in = r.CaptureOf(r.calls[0].call_id, fr::kPhaseIn);
    const auto* out = r.CaptureOf(r.calls[0].call_id, fr::kPhaseOut);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(std::make_tuple(in->head.block_size, in->head.block_bytes, in->head.flags),
              std::make_tuple(uint32_t(head + 4000), uint32_t(head + 40), uint8_t{fr::kCapBlockUnreadable}));
    EXPECT_EQ(in->block, Bytes(array, head + 40));
    EXPECT_EQ(out->block, in->block);
    const auto* failed = r.CaptureOf(r.calls[1].call_id, fr::kPhaseOut);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(std::make_tuple(failed->head.handle, failed->head.block_bytes),
              std::make_tuple(uint64_t(reinterpret_cast<uintptr_t>(array)), 0u));
#endif
}

// A strip's buffer the application did not make readable, or whose end is
// not: its hash takes what can be read and says the rest could not be.
TEST(Capture, AStripIsHashedUpToUnreadableMemory) {
    EdgeOfMemory edge;
    struct Row {
        const char* what;
        void* buffer;
        uint64_t hashed;
        uint8_t hashKind;
    } rows[] = {
        {"a buffer that cannot be read", edge.End(), 0, fr::kHashFull},
        {"a buffer that ends early", edge.End() - 50, 50, fr::kHashFull},
        // Pieces of 32 bytes, each 9968/15 bytes on from the last: 8 of them lie in the first 5000 bytes.
        {"a large buffer that ends early", edge.End() - 5000, 8 * (fr::kCaptureHashSample / 16), fr::kHashSample},
    };
    Session s;
    // The source says it wrote 100 or 10,000 bytes.
    s.Source<void>(nullptr, [](void*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
        auto* x = static_cast<TW_IMAGEMEMXFER*>(pData);
        x->BytesWritten = x->Memory.Length;
    });
    for (Row& row : rows) {
        TW_IMAGEMEMXFER x{};
        const TW_UINT32 length = row.hashKind == fr::kHashSample ? 10000 : 100;
        x.Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, length, row.buffer};
        s.ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
    }
    const RecordFile r = s.Finish();
    ASSERT_EQ(r.images.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const fr::ImageRecord& m = r.images[i];
        EXPECT_EQ(std::make_tuple(m.hashed_bytes, m.hash_kind, m.flags),
                  std::make_tuple(rows[i].hashed, rows[i].hashKind, uint8_t{fr::kImageUnreadable}))
            << rows[i].what;
    }
}
