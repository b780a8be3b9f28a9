// JSON Lines export, read back with the JSON library.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"
#include "trace/json.hpp"
#include "trace/reader.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
using nlohmann::json;

namespace {

std::vector<json> export_lines(const std::string& name, bool messages = false) {
    std::ostringstream out;
    JsonLinesWriter w(out, messages);
    read_session(session_files({data_path(name)}), w);
    std::vector<json> lines;
    std::istringstream in(out.str());
    std::string line;
    while (std::getline(in, line)) lines.push_back(json::parse(line));  // throws on anything but JSON
    return lines;
}

const json& by_seq(const std::vector<json>& lines, int seq) {
    for (const json& j : lines)
        if (j["seq"] == seq) return j;
    throw std::runtime_error("no call " + std::to_string(seq));
}

}  // namespace

TEST(JsonLines, OneObjectPerCallThatParsesBack) {
    auto lines = export_lines("session-memory.txt");
    ASSERT_EQ(lines.size(), 25u);
    const json& first = lines[0];
    EXPECT_EQ(first["file"], "session-memory.txt");
    EXPECT_EQ(first["seq"], 1);
    EXPECT_EQ(first["dg"], "DG_CONTROL");
    EXPECT_EQ(first["dat"], "DAT_IDENTITY");
    EXPECT_EQ(first["msg"], "MSG_GET");
    EXPECT_TRUE(first["cap"].is_null());
    EXPECT_EQ(first["rc"], "TWRC_SUCCESS");
    EXPECT_EQ(first["state_after"], 3);
    EXPECT_EQ(first["data"]["TW_IDENTITY"]["Version"]["Language"], "TWLG_ENGLISH_USA");
}

TEST(JsonLines, ValuesAreTyped) {
    auto lines = export_lines("session-memory.txt");
    const json& info = by_seq(lines, 15)["data"]["TW_IMAGEINFO"];
    EXPECT_TRUE(info["XResolution"].is_number_float());
    EXPECT_DOUBLE_EQ(info["XResolution"].get<double>(), 300.0);
    EXPECT_EQ(info["ImageWidth"], 2550);
    EXPECT_EQ(info["Planar"], false);
    EXPECT_EQ(info["PixelType"], "TWPT_GRAY");
    EXPECT_EQ(info["BitsPerSamples[]"], json::array({8, 0, 0, 0, 0, 0, 0, 0}));

    const json& cap = by_seq(lines, 5);
    EXPECT_EQ(cap["cap"], "ICAP_PIXELTYPE");
    const json& en = cap["data"]["TW_CAPABILITY"]["TW_ENUMERATION"];
    EXPECT_EQ(en["CurrentIndex"], 2);
    EXPECT_EQ(en["ItemList"], json::array({"TWPT_BW", "TWPT_GRAY", "TWPT_RGB"}));
    EXPECT_EQ(cap["data"]["TW_CAPABILITY"]["hContainer"], "0x0012a520");

    const json& mem = by_seq(lines, 18)["data"]["TW_IMAGEMEMXFER"];
    EXPECT_EQ(mem["Memory"]["Flags"], 0x11);
    EXPECT_EQ(mem["Memory"]["Length"], 255000);
}

TEST(JsonLines, TextItemsStayTextWhateverTheyLookLike) {
    auto lines = export_lines("irregular.txt");
    EXPECT_EQ(by_seq(lines, 8)["data"]["TW_CAPABILITY"]["TW_ONEVALUE"]["Item"], "1.2") << "CAP_NV_VERSION";
    EXPECT_EQ(by_seq(lines, 9)["data"]["TW_CAPABILITY"]["TW_ONEVALUE"]["Item"], "12, Rue des Fleurs = [x]");
    EXPECT_EQ(by_seq(lines, 7)["data"]["TW_CAPABILITY"]["TW_ONEVALUE"]["Item"], json::array({0.0, 0.0, 8.5, 11.0}))
        << "a TW_FRAME is four numbers";
    EXPECT_EQ(by_seq(lines, 1)["data"]["TW_IDENTITY"]["Version"]["Info"], "1.0 demo build");
    EXPECT_EQ(by_seq(lines, 13)["rc"], "ERROR!(32769)");
    EXPECT_EQ(by_seq(lines, 13)["data"]["TWNV_AUTOEXPOSURE"]["FilmType"], "ERROR!(5)");
    EXPECT_EQ(by_seq(lines, 13)["data"]["TWNV_AUTOEXPOSURE"]["Left"], -1);
    EXPECT_EQ(by_seq(lines, 2)["data"]["TW_JPEGCOMPRESSION"]["QuantTable[2]"]["Length"], 128);
}

TEST(JsonLines, EventsFailuresAndCutCalls) {
    auto lines = export_lines("session-memory.txt");
    const json* ev = nullptr;
    for (const json& j : lines)
        if (j["event"] == true) ev = &j;
    ASSERT_NE(ev, nullptr);
    EXPECT_TRUE((*ev)["seq"].is_null());
    EXPECT_EQ((*ev)["state_before"], 5);
    EXPECT_EQ((*ev)["state_after"], 6);
    const json& failed = by_seq(lines, 10);
    EXPECT_EQ(failed["failed"], true);
    EXPECT_TRUE(failed["state_line"].is_null());
    EXPECT_EQ(failed["state_after"], 4) << "a failed call leaves the state";
    EXPECT_FALSE(failed["data"]["TW_CAPABILITY"].contains("TW_ONEVALUE"));

    auto cut = export_lines("overflow.txt");
    ASSERT_EQ(cut.size(), 4u);
    EXPECT_EQ(cut[1]["overflow"], true);
    EXPECT_EQ(cut[1]["data"]["TW_CAPABILITY"]["TW_ARRAY"]["ItemList"].size(), 166u);
}

TEST(JsonLines, LoggerMessagesOnlyWhenAsked) {
    EXPECT_EQ(export_lines("irregular.txt").size(), 17u);
    auto with = export_lines("irregular.txt", true);
    ASSERT_EQ(with.size(), 19u);
    EXPECT_EQ(with[1]["message"]["source_file"], "Dev.cpp");
    EXPECT_EQ(with[1]["message"]["level"], "ERROR");
}

TEST(JsonLines, GarbageBytesStillGiveValidJson) {
    auto lines = export_lines("garbage.txt");
    EXPECT_EQ(lines.size(), 25u);

    // A vendor text in a single-byte encoding is not UTF-8.
    std::string text = crlf("[00001] [APP] DG_CONTROL/DAT_IDENTITY/MSG_GET\n"
                            "        Return Code = [TWRC_SUCCESS]\n"
                            "pData   = <0x00000010>\n"
                            "  TW_IDENTITY = {\n"
                            "    Manufacturer    = [Soci\xe9t\xe9]\n"
                            "  }\n"
                            "\n"
                            "TWAIN Status = [3]\n");
    std::ostringstream out;
    JsonLinesWriter w(out, false);
    Parser::parse_text(text, w);
    json j = json::parse(out.str());
    EXPECT_EQ(j["data"]["TW_IDENTITY"]["Manufacturer"], "Soci\xef\xbf\xbdt\xef\xbf\xbd");
}

TEST(JsonLines, SourceCallsLoadsAndInferredStates) {
    auto notified = export_lines("reconstructed/callback-memory-notified");
    const json& ready = notified[6];  // 2:00006, the first block after the capabilities
    EXPECT_EQ(ready["load"], 2);
    EXPECT_EQ(ready["source"], true);
    EXPECT_EQ(ready["msg"], "MSG_XFERREADY");
    EXPECT_EQ(ready["during"], "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS");
    EXPECT_EQ(ready["state_after"], 6);
    EXPECT_EQ(ready["state_inferred"], false);
    EXPECT_EQ(notified.back()["load"], 3);

    auto silent = export_lines("reconstructed/callback-memory-silent");
    const json& buffer = silent[9];  // 2:00009, the first buffer of page 1
    EXPECT_EQ(buffer["dat"], "DAT_IMAGEMEMXFER");
    EXPECT_EQ(buffer["state_line"], 5) << "as the log shows it";
    EXPECT_EQ(buffer["state_before"], 6);
    EXPECT_EQ(buffer["state_after"], 7);
    EXPECT_EQ(buffer["state_inferred"], true);
}
