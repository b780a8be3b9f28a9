// The reader on whole sessions, on every block kind the formatters write,
// and on logs that are cut, overflowing or full of garbage.
#include <gtest/gtest.h>

#include <random>

#include "test_support.hpp"
#include "trace/generator.hpp"
#include "trace/parser.hpp"
#include "trace/reader.hpp"
#include "trace/text.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

const Field* path(const Call& c, std::initializer_list<const char*> names) {
    const Node* n = c.block(*names.begin());
    const Field* f = nullptr;
    for (auto it = names.begin() + 1; n && it != names.end(); ++it) {
        f = n->field(*it);
        if (!f) {
            const Node* child = n->child(*it);
            if (!child) return nullptr;
            n = child;
            continue;
        }
        n = f->node.get();
    }
    return f;
}

std::string raw(const Call& c, std::initializer_list<const char*> names) {
    const Field* f = path(c, names);
    return f ? f->raw : "(missing)";
}

}  // namespace

// --- whole sessions ------------------------------------------------------------

TEST(WholeSession, MemoryTransferSessionReadsEveryCallWithoutProblems) {
    Session s = load("session-memory.txt");
    EXPECT_TRUE(s.problems.empty());
    ASSERT_EQ(s.calls.size(), 25u);
    ASSERT_EQ(s.messages.size(), 1u);
    EXPECT_EQ(s.messages[0].text, "opened 3");

    const Call* open = find_call(s, "00002");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->triplet(), "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS");
    EXPECT_EQ(open->state_after, 4);
    EXPECT_EQ(raw(*open, {"TW_IDENTITY", "Version", "Info"}), "1.0 demo build");

    const Call* failed = find_call(s, "00010");
    ASSERT_NE(failed, nullptr);
    EXPECT_TRUE(failed->failed());
    EXPECT_TRUE(failed->error_marker);
    EXPECT_EQ(failed->state_after, -1);
    EXPECT_EQ(failed->blocks[0].fields.size(), 3u) << "a failed capability call has no container block";
    EXPECT_FALSE(failed->incomplete);
}

TEST(WholeSession, ResultBlockWithoutTripletLineIsAClaimedEvent) {
    Session s = load("session-memory.txt");
    const Call* ev = find_call(s, "00014+ev");
    ASSERT_NE(ev, nullptr);
    EXPECT_TRUE(ev->claimed_event());
    EXPECT_EQ(ev->triplet(), "DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT");
    EXPECT_EQ(ev->rc, "TWRC_DSEVENT");
    EXPECT_EQ(raw(*ev, {"TW_EVENT", "TWMessage"}), "MSG_XFERREADY");
    EXPECT_EQ(ev->state_after, 6);
}

TEST(WholeSession, MemoryTransferBlockClosedAtColumnZeroIsComplete) {
    Session s = load("session-memory.txt");
    const Call* x = find_call(s, "00020");
    ASSERT_NE(x, nullptr);
    ASSERT_EQ(x->blocks.size(), 1u);
    EXPECT_TRUE(x->blocks[0].closed);
    EXPECT_EQ(x->rc, "TWRC_XFERDONE");
    EXPECT_EQ(raw(*x, {"TW_IMAGEMEMXFER", "YOffset"}), "200");
    EXPECT_EQ(raw(*x, {"TW_IMAGEMEMXFER", "Memory", "Length"}), "255000");
    EXPECT_EQ(x->state_after, 7);
}

TEST(WholeSession, NativeTransferSessionFollowsTheStatesOfTheLog) {
    Session s = load("session-native.txt");
    EXPECT_TRUE(s.problems.empty());
    ASSERT_EQ(s.calls.size(), 16u);
    std::vector<int> states;
    for (const auto& st : s.steps) states.push_back(st.after);
    EXPECT_EQ(states, (std::vector<int>{3, 4, 4, 4, 4, 5, 6, 6, 7, 6, 6, 7, 5, 4, 4, 3}));
    EXPECT_EQ(raw(*find_call(s, "00008"), {"TW_UINT32", "Item"}), "0x0c1a2000");
    EXPECT_EQ(path(*find_call(s, "00008"), {"TW_UINT32", "Item"})->delim, '<');
}

TEST(WholeSession, ChunkSizeDoesNotChangeWhatIsRead) {
    std::string text = read_file(data_path("session-memory.txt"));
    Session whole = Session::from_text(text);
    for (std::size_t chunk : {1u, 2u, 7u, 4096u}) {
        Session pieces;
        Parser p(pieces, ParseOptions{true});
        p.begin_file(0, "x");
        for (std::size_t off = 0; off < text.size(); off += chunk) p.feed(std::string_view(text).substr(off, chunk));
        p.end_file();
        ASSERT_EQ(pieces.calls.size(), whole.calls.size()) << "chunk " << chunk;
        for (std::size_t i = 0; i < whole.calls.size(); ++i) EXPECT_EQ(pieces.calls[i].text, whole.calls[i].text);
        EXPECT_TRUE(pieces.problems.empty());
    }
}

TEST(WholeSession, GeneratedSessionParsesToTheCallsWritten) {
    GeneratorOptions o;
    o.calls = 500;
    Session s = Session::from_text(generate_session(o), ParseOptions{false});
    EXPECT_TRUE(s.problems.empty());
    EXPECT_GE(s.calls.size(), 500u);
    EXPECT_EQ(s.calls.back().triplet(), "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS");
    EXPECT_EQ(s.calls.back().state_after, 3);
}

// --- block kinds ------------------------------------------------------------------

TEST(BlockKinds, IrregularBlocksReadWithoutProblems) {
    Session s = load("irregular.txt");
    for (const Problem& p : s.problems) ADD_FAILURE() << p.line << ": " << p.what << ": " << p.text;
    EXPECT_EQ(s.calls.size(), 17u);
    for (const Call& c : s.calls) EXPECT_FALSE(c.incomplete) << c.id();
}

TEST(BlockKinds, JpegLabelsLeftOpenHoldTheirMemoryBlocks) {
    Session s = load("irregular.txt");
    const Call& c = *find_call(s, "00002");
    const Node* jpeg = c.block("TW_JPEGCOMPRESSION");
    ASSERT_NE(jpeg, nullptr);
    EXPECT_TRUE(jpeg->closed) << "the open labels must not swallow the block's own closing brace";
    EXPECT_EQ(raw(c, {"TW_JPEGCOMPRESSION", "QuantTable[3]", "Length"}), "192");
    EXPECT_EQ(raw(c, {"TW_JPEGCOMPRESSION", "HuffmanAC[1]", "TheMem"}), "0x00000000");
    const Field* map = path(c, {"TW_JPEGCOMPRESSION", "QuantMap[]"});
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->delim, '{');
    EXPECT_EQ(map->raw, "0,1,1,0");
    EXPECT_EQ(c.state_after, 4);
}

TEST(BlockKinds, NestedBlocksThreeDeepAndLabelsWithoutBlanks) {
    Session s = load("irregular.txt");
    const Call& c = *find_call(s, "00005");
    EXPECT_EQ(raw(c, {"TW_CIECOLOR", "StageLMN", "Decode[2]", "Gamma"}), "1.000");
    EXPECT_EQ(raw(c, {"TW_CIECOLOR", "StageABC", "Mix[1][1]"}), "1.000");
    EXPECT_EQ(raw(c, {"TW_CIECOLOR", "BlackInk", "Z"}), "1.089");
    EXPECT_EQ(raw(c, {"TW_CIECOLOR", "Samples[]"}), "0.000");
}

TEST(BlockKinds, VendorLabelsWithATrailingBlankTakeTheNextBlock) {
    Session s = load("irregular.txt");
    const Call& c = *find_call(s, "00011");
    EXPECT_EQ(raw(c, {"TWNV_USMINFO", "USMParm", "Amount"}), "120");
    EXPECT_EQ(raw(c, {"TWNV_USMINFO", "ReviseParm", "OutputRevise", "HighlightL"}), "255");
    EXPECT_EQ(raw(c, {"TWNV_USMINFO", "ReviseParm", "BlurMax"}), "4");
    const Call& m = *find_call(s, "00012");
    EXPECT_EQ(raw(m, {"TWNV_RGBMATRIX", "ColorCoeff"}), "1.000,0.000,0.000,0.000,1.000,0.000,0.000,0.000,1.000");
}

TEST(BlockKinds, LabelWithoutItsBlockDoesNotCatchALaterOne) {
    Session s = Session::from_text(crlf("[00001] [APP] DG_CONTROL/DAT_IDENTITY/MSG_GET\n"
                                        "        Return Code = [TWRC_SUCCESS]\n"
                                        "pData   = <0x00000010>\n"
                                        "  TW_IDENTITY = {\n"
                                        "    Version         =\n"
                                        "    ProtocolMajor   = [2]\n"
                                        "    TW_VERSION = {\n"
                                        "      MajorNum = [1]\n"
                                        "    }\n"
                                        "  }\n"
                                        "\n"
                                        "TWAIN Status = [3]\n"));
    ASSERT_EQ(s.calls.size(), 1u);
    const Node& id = s.calls[0].blocks[0];
    EXPECT_EQ(id.field("Version")->node, nullptr);
    ASSERT_NE(id.child("TW_VERSION"), nullptr);
    EXPECT_EQ(id.child("TW_VERSION")->field("MajorNum")->raw, "1");
}

TEST(BlockKinds, PaletteNoticeIsAnEmptyClosedBlock) {
    Session s = load("irregular.txt");
    const Call& c = *find_call(s, "00003");
    ASSERT_EQ(c.blocks.size(), 1u);
    EXPECT_EQ(c.blocks[0].type, "TW_PALETTE8");
    EXPECT_TRUE(c.blocks[0].closed);
    EXPECT_EQ(c.state_after, 4);
}

TEST(BlockKinds, ItemListsLoseIndexAndSeparatorButKeepTheText) {
    Session s = load("irregular.txt");
    const Call& caps = *find_call(s, "00010");
    const Node* list = caps.block("TW_CAPABILITY")->child("TW_ARRAY")->child("ItemList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->items.size(), 103u) << "indexes of three digits start right after eight blanks";
    EXPECT_EQ(list->items[100], "CAP_XFERCOUNT");
    EXPECT_EQ(list->items[101], "ERROR!(4609)");
    EXPECT_EQ(list->items[102], "");
    const Call& text = *find_call(s, "00009");
    EXPECT_EQ(raw(text, {"TW_CAPABILITY", "TW_ONEVALUE", "Item"}), "12, Rue des Fleurs = [x]");

    // A text item that ends with a comma keeps it: only the separator goes.
    Session t = Session::from_text(crlf("[00001] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_AUTHOR)\n"
                                        "        Return Code = [TWRC_SUCCESS]\n"
                                        "pData   = <0x00000010>\n"
                                        "  TW_CAPABILITY = {\n"
                                        "    TW_ARRAY = {\n"
                                        "      ItemList = {\n"
                                        "          0:a,,\n"
                                        "          1:b,\n"
                                        "      }\n"
                                        "    }\n"
                                        "  }\n"
                                        "\n"
                                        "TWAIN Status = [4]\n"));
    ASSERT_EQ(t.calls.size(), 1u);
    const Node* l = t.calls[0].block("TW_CAPABILITY")->child("TW_ARRAY")->child("ItemList");
    EXPECT_EQ(l->items, (std::vector<std::string>{"a,", "b,"}));
}

TEST(BlockKinds, LoggerLinesWithAndWithoutSourcePosition) {
    Session s = load("irregular.txt");
    ASSERT_EQ(s.messages.size(), 2u);
    EXPECT_EQ(s.messages[0].level, "INFO");
    EXPECT_EQ(s.messages[0].component, "Scanner");
    EXPECT_EQ(s.messages[0].source_line, -1);
    EXPECT_EQ(s.messages[1].level, "ERROR");
    EXPECT_EQ(s.messages[1].source_file, "Dev.cpp");
    EXPECT_EQ(s.messages[1].source_line, 42);
    EXPECT_EQ(s.messages[1].text, "lamp failure");
    EXPECT_EQ(s.messages[1].time, "2024/01/31 09:45:02.009");
}

TEST(BlockKinds, LoggerTextOverSeveralLinesAndMessageWithoutText) {
    std::string text = "[2024/01/31 09:45:02.008] WARNING from \"Scanner\" first line\nsecond line\n" +
                       crlf("[00001] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\n"
                            "        Return Code = [TWRC_SUCCESS]\n"
                            "pData   = <0x00000010>\n\nTWAIN Status = [3]\n") +
                       "[2024/01/31 09:45:02.010] INFO from \"Scanner\" " +
                       crlf("[00002] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\n"
                            "        Return Code = [TWRC_SUCCESS]\n"
                            "pData   = <0x00000010>\n\nTWAIN Status = [3]\n");
    Session s = Session::from_text(text);
    EXPECT_TRUE(s.problems.empty());
    ASSERT_EQ(s.messages.size(), 2u);
    EXPECT_EQ(s.messages[0].text, "first line\nsecond line");
    EXPECT_EQ(s.messages[1].text, "");
    ASSERT_EQ(s.calls.size(), 2u) << "the triplet line after an empty message is still a call";
    EXPECT_EQ(s.calls[1].id(), "00002");
    EXPECT_EQ(s.calls[1].state_after, 3);
}

TEST(BlockKinds, VendorReturnCodeAndCallWithoutDump) {
    Session s = load("irregular.txt");
    const Call& v = *find_call(s, "00013");
    EXPECT_EQ(v.rc, "ERROR!(32769)");
    EXPECT_FALSE(v.failed());
    EXPECT_EQ(v.state_after, 4);
    const Call& d = *find_call(s, "00016");
    EXPECT_EQ(d.dat, "DAT_DEVICEEVENT");
    EXPECT_TRUE(d.blocks.empty());
    EXPECT_EQ(d.state_after, 4);
}

// --- the 5120-byte cut ------------------------------------------------------------

TEST(Overflow, NoteEndsTheCutCallAndTheNextTripletContinuesOnItsLine) {
    Session s = load("overflow.txt");
    ASSERT_EQ(s.calls.size(), 4u);
    const Call& cut = s.calls[1];
    EXPECT_TRUE(cut.overflow);
    EXPECT_EQ(cut.state_after, -1);
    const Node* list = cut.block("TW_CAPABILITY")->child("TW_ARRAY")->child("ItemList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->items.size(), 166u) << "the half line before the note is not an item";
    const Call& next = s.calls[2];
    EXPECT_EQ(next.id(), "00003");
    EXPECT_EQ(next.cap, "ICAP_XFERMECH");
    EXPECT_EQ(next.state_after, 4);
    EXPECT_FALSE(next.incomplete);
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_NE(s.problems[0].what.find("cut at 5120 bytes"), std::string::npos);
    EXPECT_EQ(s.steps[1].after, 4) << "the lost state line is taken from the tracker's rule";
}

TEST(Overflow, CutJustAfterCarriageReturnKeepsTheWholeLastLine) {
    std::string text = crlf("[00001] [APP] DG_CONTROL/DAT_PENDINGXFERS/MSG_GET\n"
                            "        Return Code = [TWRC_SUCCESS]\n"
                            "pData   = <0x00000010>\n"
                            "  TW_PENDINGXFERS = {\n"
                            "    Count = [2]\n");
    text.pop_back();  // the cut falls between CR and LF
    text += "Size of CAP_xxx too long[00002] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\r\n";
    Session s = Session::from_text(text);
    ASSERT_EQ(s.calls.size(), 2u);
    EXPECT_EQ(s.calls[0].block("TW_PENDINGXFERS")->field("Count")->raw, "2");
    EXPECT_TRUE(s.calls[0].overflow);
    EXPECT_EQ(s.calls[1].dat, "DAT_STATUS");
}

TEST(Overflow, FailedCallsMarkersAndEventsMayFollowTheNote) {
    std::string body = crlf("        Return Code = [TWRC_FAILURE]\n"
                            "pData   = <0x00000010>\n"
                            "  TW_CAPABILITY = {\n"
                            "    Cap        = [CAP_SUPPORTEDCAPS]\n");
    std::string text = crlf("[00001] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_SUPPORTEDCAPS)\n") + body +
                       "Size of CAP_xxx too long" +
                       crlf("*** Inspect Error Status Start ***\n*** Inspect Error Status End   ***\n") + body +
                       "Size of CAP_xxx too long" +
                       crlf("        Return Code = [TWRC_DSEVENT]\n"
                            "pData   = <0x00000020>\n"
                            "  TW_EVENT = {\n"
                            "    pEvent    = <0x00000000>\n"
                            "    TWMessage = [MSG_XFERREADY]\n"
                            "  }\n"
                            "\n"
                            "TWAIN Status = [6]\n");
    Session s = Session::from_text(text);
    ASSERT_EQ(s.calls.size(), 3u);
    EXPECT_TRUE(s.calls[0].error_marker);
    EXPECT_TRUE(s.calls[1].overflow) << "a result block with no triplet line of its own";
    EXPECT_TRUE(s.calls[2].claimed_event());
    EXPECT_EQ(s.calls[2].state_after, 6);
}

// --- damaged logs ---------------------------------------------------------------------

TEST(DamagedLog, TruncatedLastBlockIsKeptAndFlagged) {
    Session s = load("truncated.txt");
    ASSERT_EQ(s.calls.size(), 20u);
    const Call& last = s.calls.back();
    EXPECT_EQ(last.id(), "00019");
    EXPECT_TRUE(last.incomplete);
    EXPECT_EQ(last.block("TW_IMAGEMEMXFER")->field("XOffset")->raw, "0");
    EXPECT_EQ(last.block("TW_IMAGEMEMXFER")->field("YOffset"), nullptr) << "a half line is not a value";
    for (std::size_t i = 0; i + 1 < s.calls.size(); ++i) EXPECT_FALSE(s.calls[i].incomplete) << s.calls[i].id();
    ASSERT_EQ(s.problems.size(), 2u);
}

TEST(DamagedLog, TripletLineWithoutResultAtTheEnd) {
    Session s = Session::from_text(crlf("[00001] [APP] DG_CONTROL/DAT_IDENTITY/MSG_OPENDS\n"));
    ASSERT_EQ(s.calls.size(), 1u);
    EXPECT_TRUE(s.calls[0].incomplete);
    EXPECT_FALSE(s.calls[0].has_result);
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_NE(s.problems[0].what.find("no result block"), std::string::npos);
}

TEST(DamagedLog, GarbageLinesAreReportedWithTheirLineAndReadingGoesOn) {
    Session s = load("garbage.txt");
    Session clean = load("session-memory.txt");
    ASSERT_EQ(s.calls.size(), clean.calls.size());
    std::vector<std::size_t> lines;
    for (const Problem& p : s.problems) lines.push_back(p.line);
    EXPECT_EQ(lines, (std::vector<std::size_t>{8, 44, 46, 96, 98, 100, 129}));
    // The logger line among the garbage is a message, not a problem.
    EXPECT_EQ(s.messages.size(), 2u);
    for (std::size_t i = 0; i < s.calls.size(); ++i) {
        EXPECT_EQ(s.calls[i].triplet(), clean.calls[i].triplet());
        EXPECT_EQ(s.calls[i].state_after, clean.calls[i].state_after) << s.calls[i].id();
    }
}

TEST(DamagedLog, SequenceJumpIsReported) {
    Session s = Session::from_text(crlf("[00001] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\n"
                                        "        Return Code = [TWRC_SUCCESS]\n"
                                        "pData   = <0x00000010>\n\nTWAIN Status = [3]\n"
                                        "[00005] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\n"
                                        "        Return Code = [TWRC_SUCCESS]\n"
                                        "pData   = <0x00000010>\n\nTWAIN Status = [3]\n"));
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_NE(s.problems[0].what.find("from 1 to 5"), std::string::npos);
}

TEST(DamagedLog, RandomBytesAndMangledLinesNeverStopTheReader) {
    std::string clean = read_file(data_path("irregular.txt"));
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        std::string text = clean;
        int edits = 1 + static_cast<int>(rng() % 40);
        for (int e = 0; e < edits; ++e) {
            std::size_t at = rng() % text.size();
            switch (rng() % 4) {
            case 0: text[at] = static_cast<char>(rng() % 256); break;
            case 1: text.erase(at, rng() % 200); break;
            case 2: text.insert(at, "Size of CAP_xxx too long"); break;
            case 3: text.insert(at, std::string(1 + rng() % 3, "{}=[]<>\n\r"[rng() % 9])); break;
            }
            if (text.empty()) text = "x";
        }
        Session s = Session::from_text(text);
        std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        for (const Problem& p : s.problems) ASSERT_LE(p.line, lines);
        ASSERT_LE(s.calls.size(), 60u);
    }
}

// --- sessions of several files ----------------------------------------------------------

TEST(SeveralFiles, FolderIsReadInTimeStampOrderWithStateRestartingAtThree) {
    Session s = Session::load({data_path("two_loads")});
    ASSERT_EQ(s.files.size(), 2u);
    EXPECT_EQ(s.files[0], "Twainlog_20240131_094502_0008.txt");
    EXPECT_TRUE(s.problems.empty()) << "numbering restarts with each load: no jump";
    ASSERT_EQ(s.calls.size(), 17u);
    EXPECT_EQ(s.calls[1].id(), "2:00001");
    EXPECT_EQ(s.steps[1].before, 3);
}

TEST(SeveralFiles, FilesNamedOneByOneAreSortedByStampAndMilliseconds) {
    auto files = session_files({data_path("two_loads/Twainlog_20240131_094510_0120.txt"),
                                data_path("two_loads/Twainlog_20240131_094502_0008.txt")});
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(files[0].find("094502"), std::string::npos);
    EXPECT_TRUE(is_log_file_name("Twainlog_20240131_094502_1000.txt"));
    EXPECT_FALSE(is_log_file_name("Twainlog_20240131-094502_0008.txt"));
    EXPECT_FALSE(is_log_file_name("notes.txt"));
    EXPECT_THROW(session_files({data_path("no-such-file.txt")}), std::runtime_error);
}
