// The playback companion's answers from a captured session: containers and
// native images in new handles, a page by memory transfer cut afresh for
// other buffers, a file where the application asks for it, and generated
// pages when the session kept no image bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PlaybackOperator.h"
#include "Script.h"
#include "trace/record.hpp"
#include "trace/record_writer.hpp"
#include "tracelet/flightrecord.h"
#include "tracelet/twain_memory.h"

using namespace tracelet::playback;
using tracelet::trace::RecordWriter;
namespace fs = std::filesystem;

namespace {

template <typename T>
std::string Bytes(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string HandleBytes(TW_HANDLE h, std::size_t n) {
    std::string s(static_cast<const char*>(TwainLockHandle(h)), n);
    TwainUnlockHandle(h);
    return s;
}

// A page of 10 rows of 4 bytes, recorded in strips of 4, 4 and 2 rows; a
// native image; a file. `stored`: the session had its images folder.
constexpr uint32_t kRowBytes = 4, kRows = 10;
const std::string kNative = "native image bytes", kFile = "file image bytes";
std::string Page() {
    std::string page;
    for (uint32_t i = 0; i < kRowBytes * kRows; ++i) page += static_cast<char>('a' + i % 26);
    return page;
}

struct Session {
    fs::path dir = fs::temp_directory_path() / ("tracelet-playback-" + std::to_string(getpid()));
    Script script;
    std::vector<std::string> lines;

    explicit Session(bool stored) {
        fs::remove_all(dir);
        fs::create_directories(dir / "images");
        RecordWriter::Header h;
        h.capture = true;
        h.images = stored;
        RecordWriter w(h);
        auto call = [&](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, const std::string& in,
                        const std::string& out, int cap = -1) {
            RecordWriter::Start s;
            s.dg = dg;
            s.dat = dat;
            s.msg = msg;
            s.cap = cap;
            const uint32_t slot = w.start(s);
            RecordWriter::Capture c;
            c.call_slot = slot;
            c.structure = in;
            w.capture(c);
            c.out = true;
            c.structure = out;
            if (cap >= 0) {
                c.container = true;
                c.handle = 0xdead;
                c.con_type = TWON_ONEVALUE;
                c.item_type = TWTY_UINT16;
                c.num_items = 1;
                c.block = std::string("\x04\x00\x2c\x01\x00\x00", 6);
            }
            w.capture(c);
            return slot;
        };
        auto image = [&](uint32_t slot, uint8_t transfer, const std::string& bytes) {
            RecordWriter::Image m;
            m.call_slot = slot;
            m.transfer = transfer;
            m.length = bytes.size();
            if (stored) {
                m.flags = tracelet::flightrecord::kImageStored;
                m.stored_bytes = bytes.size();
                m.file_name = "Twainlog_20261208_040000_0100." + std::to_string(slot + 1) + ".img";
                std::ofstream(dir / "images" / m.file_name, std::ios::binary) << bytes;
            }
            w.image(m);
        };
        TW_CAPABILITY capIn{ICAP_XRESOLUTION, 0, nullptr}, capOut = capIn;
        capOut.ConType = TWON_ONEVALUE;
        capOut.hContainer = reinterpret_cast<TW_HANDLE>(0xdead);
        w.end(call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, Bytes(capIn), Bytes(capOut), ICAP_XRESOLUTION),
              1, TWRC_SUCCESS, 4, -1);
        TW_IMAGEINFO info{};
        info.ImageWidth = 4;
        info.ImageLength = kRows;
        info.BitsPerPixel = 8;
        info.SamplesPerPixel = 1;
        info.PixelType = TWPT_GRAY;
        w.end(call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, Bytes(TW_IMAGEINFO{}), Bytes(info)), 2,
              TWRC_SUCCESS, 6, -1);
        const std::string page = Page();
        for (uint32_t y = 0; y < kRows; y += 4) {
            TW_IMAGEMEMXFER x{};
            x.Memory.Length = 16;
            x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            const std::string in = Bytes(x);
            x.BytesPerRow = kRowBytes;
            x.Columns = 4;
            x.Rows = std::min(4u, kRows - y);
            x.YOffset = y;
            x.BytesWritten = x.Rows * kRowBytes;
            const bool last = y + 4 >= kRows;
            const uint32_t slot = call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, in, Bytes(x));
            image(slot, 1, page.substr(y * kRowBytes, x.BytesWritten));
            w.end(slot, 3 + y, last ? TWRC_XFERDONE : TWRC_SUCCESS, 7, -1);
        }
        const TW_HANDLE none = nullptr;
        uint32_t slot = call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, Bytes(none), Bytes(none));
        image(slot, 2, kNative);
        w.end(slot, 20, TWRC_XFERDONE, 7, -1);
        TW_SETUPFILEXFER setup{};
        std::strcpy(setup.FileName, "/recorded/host/page.bmp");
        w.end(call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, Bytes(setup), Bytes(setup)), 21, TWRC_SUCCESS, 6, -1);
        slot = call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, "", "");
        image(slot, 1, kFile);
        w.end(slot, 22, TWRC_XFERDONE, 7, -1);
        w.write((dir / "Twainlog_20261208_040000_0100.calls").string());
        script = ScriptFrom(tracelet::trace::read_flight_record((dir / "Twainlog_20261208_040000_0100.calls").string()));
    }
    ~Session() { fs::remove_all(dir); }

    // Plays the session with memory buffers of `buffer` bytes: the page as
    // it arrived, and each strip's rows.
    void Play(uint32_t buffer, std::string* page, std::vector<uint32_t>* rows, std::string* native,
              std::string* file) {
        PlaybackOperator op(script, false, [this](const std::string& l) { lines.push_back(l); });
        TW_CAPABILITY cap{ICAP_XRESOLUTION, 0, nullptr};
        ASSERT_EQ(op.TripletEntry(nullptr, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
        ASSERT_EQ(cap.ConType, TWON_ONEVALUE);
        ASSERT_NE(cap.hContainer, nullptr);
        EXPECT_EQ(HandleBytes(cap.hContainer, 6), std::string("\x04\x00\x2c\x01\x00\x00", 6));
        TwainDisposeHandle(cap.hContainer);
        TW_IMAGEINFO info{};
        ASSERT_EQ(op.TripletEntry(nullptr, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        std::vector<char> memory(buffer);
        TW_UINT16 rc = TWRC_SUCCESS;
        for (int strip = 0; rc == TWRC_SUCCESS && strip < 20; ++strip) {
            TW_IMAGEMEMXFER x{};
            x.Memory = {TWMF_APPOWNS | TWMF_POINTER, buffer, memory.data()};
            rc = op.TripletEntry(nullptr, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
            ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
            EXPECT_EQ(x.Memory.TheMem, memory.data());
            EXPECT_EQ(x.YOffset * kRowBytes, page->size());
            page->append(memory.data(), x.BytesWritten);
            rows->push_back(x.Rows);
        }
        TW_HANDLE h = nullptr;
        ASSERT_EQ(op.TripletEntry(nullptr, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
        *native = HandleBytes(h, native->size());
        TwainDisposeHandle(h);
        TW_SETUPFILEXFER setup{};
        const std::string path = (dir / "scan.bmp").string();
        std::strcpy(setup.FileName, path.c_str());
        ASSERT_EQ(op.TripletEntry(nullptr, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
        EXPECT_EQ(setup.FileName, path);
        ASSERT_EQ(op.TripletEntry(nullptr, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
        std::ifstream in(path, std::ios::binary);
        file->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST(PlaybackAnswers, TheRecordedPageInAnyBufferSize) {
    Session s(true);
    ASSERT_EQ(s.script.calls.size(), 6u);  // the page's three strips are one call
    struct Row {
        uint32_t buffer;
        std::vector<uint32_t> rows;
    };
    for (const Row& r : {Row{16, {4, 4, 2}}, Row{12, {3, 3, 3, 1}}, Row{64, {10}}}) {
        SCOPED_TRACE(r.buffer);
        std::string page, native(kNative.size(), '?'), file;
        std::vector<uint32_t> rows;
        s.Play(r.buffer, &page, &rows, &native, &file);
        EXPECT_EQ(page, Page());
        EXPECT_EQ(rows, r.rows);
        EXPECT_EQ(native, kNative);
        EXPECT_EQ(file, kFile);
    }
    EXPECT_TRUE(s.lines.empty()) << s.lines.front();
}

TEST(PlaybackAnswers, WithoutImageBytesPagesOfTheRecordedGeometrySaidOnce) {
    Session s(false);
    std::string page, native(32 + kRowBytes * kRows, '?'), file;
    std::vector<uint32_t> rows;
    s.Play(12, &page, &rows, &native, &file);
    EXPECT_EQ(page.size(), kRowBytes * kRows);
    EXPECT_NE(page, Page());
    EXPECT_EQ(rows, (std::vector<uint32_t>{3, 3, 3, 1}));
    EXPECT_EQ(native.substr(0, 4), "TVSI");  // a header, then rows of the recorded image's geometry
    uint32_t geometry[3];
    std::memcpy(geometry, native.data() + 8, sizeof geometry);
    EXPECT_EQ(geometry[0], 4u);
    EXPECT_EQ(geometry[1], kRows);
    EXPECT_EQ(geometry[2], kRowBytes);
    EXPECT_EQ(file.size(), kFile.size());
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_NE(s.lines[0].find("no image bytes"), std::string::npos);
}

}  // namespace
