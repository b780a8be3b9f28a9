// Every name table holds exactly the rows of the reference data, in order,
// then the TWAIN 2 names appended to it, ends with its ERROR! row, and the
// lookups follow the first-row-wins rule.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/ParaAnalyze.h"

namespace {

struct Row {
    std::string name;
    uint64_t value;
};

std::map<std::string, std::vector<Row>> ReadReference(std::vector<std::string>* order) {
    std::map<std::string, std::vector<Row>> tables;
    for (const std::string& path : {std::string(TRACELET_TEST_DATA_DIR) + "/name-tables.tsv",
                                   std::string(TRACELET_TWAIN2_NAMES)}) {
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("table\t", 0) == 0) continue;
        std::stringstream ss(line);
        std::string table, name, value;
        std::getline(ss, table, '\t');
        std::getline(ss, name, '\t');
        std::getline(ss, value, '\t');
        if (!tables.count(table)) order->push_back(table);
        tables[table].push_back({name, std::stoull(value)});
    }
    }
    return tables;
}

TEST(NameTables, EveryTableMatchesTheReferenceRowByRowInOrder) {
    std::vector<std::string> order;
    auto reference = ReadReference(&order);
    ASSERT_EQ(reference.size(), 66u);
    ASSERT_EQ(sizeof g_aTwNameTables / sizeof g_aTwNameTables[0], 66u);
    size_t rowsSeen = 0;
    for (size_t t = 0; t < 66; ++t) {
        const TwNamedTable& table = g_aTwNameTables[t];
        SCOPED_TRACE(table.name);
        EXPECT_EQ(order[t], table.name);
        const std::vector<Row>& rows = reference[table.name];
        ASSERT_EQ(table.count, rows.size() + 1) << "row count, terminator included";
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_STREQ(table.rows[i].name, rows[i].name.c_str()) << "row " << i;
            EXPECT_EQ(table.rows[i].value, rows[i].value) << "row " << i;
        }
        EXPECT_STREQ(table.rows[rows.size()].name, "ERROR!");
        EXPECT_EQ(table.rows[rows.size()].value, 0xFFFFFFFFFFFFFFFFull);
        rowsSeen += rows.size();
    }
    EXPECT_EQ(rowsSeen, 1010u + 92u);
}

TEST(NameTables, CapabilityValueTablesPointAtTablesOfTheRightSize) {
    auto check = [](const TwValToCapRow* rows, size_t n) {
        for (size_t i = 0; i + 1 < n; ++i) {
            bool found = false;
            for (const TwNamedTable& t : g_aTwNameTables)
                if (t.rows == rows[i].table) {
                    found = true;
                    EXPECT_EQ(rows[i].rows, t.count) << t.name;
                }
            EXPECT_TRUE(found) << std::hex << rows[i].cap;
        }
        EXPECT_EQ(rows[n - 1].cap, 0xFFFFFFFFu);
        EXPECT_EQ(rows[n - 1].rows, 0xFFFFFFFFu);
        EXPECT_EQ(rows[n - 1].table, nullptr);
    };
    EXPECT_EQ(sizeof VALTOCAP / sizeof VALTOCAP[0], 32u);
    EXPECT_EQ(sizeof VALTOCAPNV / sizeof VALTOCAPNV[0], 21u);
    check(VALTOCAP, 32);
    check(VALTOCAPNV, 21);
    EXPECT_EQ(VALTOCAP[16].cap, 0x1201u);
    EXPECT_EQ(VALTOCAP[16].table, twaf_macros);
    EXPECT_EQ(VALTOCAPNV[19].table, twnv_autosizetype_macros);
}

std::string Named(const TwNameRow* t, size_t n, uint64_t v) {
    char out[kNameSize];
    ValToName(t, n, v, out);
    return out;
}

TEST(NameTables, TheFirstRowHoldingAValueNamesIt) {
    EXPECT_EQ(Named(twlg_macros, TableRows(twlg_macros), 0), "TWLG_DAN");
    EXPECT_EQ(Named(twlg_macros, TableRows(twlg_macros), 2), "TWLG_ENG");
    EXPECT_EQ(Named(twss_macros, TableRows(twss_macros), 1), "TWSS_A4LETTER");
    EXPECT_EQ(Named(twif_macros, TableRows(twif_macros), 4), "TWIF_HIGHPASS");
    EXPECT_EQ(Named(twon_macros, TableRows(twon_macros), 9), "TWON_PROTOCOLMINOR");
    EXPECT_EQ(Named(twcy_macros, TableRows(twcy_macros), 39), "TWCY_ITALY");
    char out[kNameSize];
    CapToName(0x8043, out);
    EXPECT_STREQ(out, "ICAP_NV_ADE");
}

TEST(NameTables, AValueNoRowHoldsPrintsTheErrorTextWithItsNumber) {
    // The all-ones row of the languages is never matched by a 16-bit field,
    // and the ERROR! row is not matched by value.
    EXPECT_EQ(Named(twlg_macros, TableRows(twlg_macros), 0xFFFF), "ERROR!(65535)");
    EXPECT_EQ(Named(dat_macros, TableRows(dat_macros), 0x0404), "ERROR!(1028)");
    EXPECT_EQ(Named(dg_macros, TableRows(dg_macros), 0xFFFFFFFFu), "ERROR!(-1)");
    EXPECT_EQ(Named(twpt_macros, TableRows(twpt_macros), static_cast<uint64_t>(int64_t{-2147483647 - 1})),
              "ERROR!(-2147483648)");
    EXPECT_EQ(Named(twrc_macros, TableRows(twrc_macros), 0xFFFFFFFFFFFFFFFFull), "ERROR!(-1)");
}

TEST(NameTables, CapabilitiesAreNamedByTheirCapTableThenTheirIcapTable) {
    char out[kNameSize];
    const std::pair<TW_UINT16, const char*> cases[] = {
        {0x8000, "CAP_CUSTOMBASE"}, {0x8001, "CAP_NV_VERSION"}, {0x8002, "CAP_NV_TPUENABLED"},
        {0x8004, "ICAP_NV_DRAFTSCAN"}, {0x0101, "ICAP_PIXELTYPE"}, {0x0001, "CAP_XFERCOUNT"},
        {0x1201, "ERROR!(4609)"}, {0x1065, "ERROR!(4197)"}, {0xFFFF, "ERROR!(65535)"}};
    for (auto& c : cases) {
        CapToName(c.first, out);
        EXPECT_STREQ(out, c.second) << std::hex << c.first;
    }
}

TEST(NameTables, TwainTwoNamesFollowTheOlderRowsWhichWinWhereBothNameAValue) {
    const struct {
        const TwNameRow* table;
        size_t rows;
        uint64_t value;
        const char* name;
    } cases[] = {
        {dat_macros, TableRows(dat_macros), 0x0403, "DAT_ENTRYPOINT"},
        {dat_macros, TableRows(dat_macros), 0x0012, "DAT_CALLBACK2"},
        {msg_macros, TableRows(msg_macros), 0x0902, "MSG_REGISTER_CALLBACK"},
        {icap_macros, TableRows(icap_macros), 0x1159, "ICAP_AUTOMATICCOLORENABLED"},
        {twrc_macros, TableRows(twrc_macros), 10, "TWRC_BUSY"},
        {twcc_macros, TableRows(twcc_macros), 29, "TWCC_NOMEDIA"},
        {cap_macros, TableRows(cap_macros), 0x1064, "CAP_IAFIELDE_LASTPAGE"},
        // CAP_CAMERASIDE and the deprecated CAP_POWERDOWNTIME share 0x1034:
        // the earlier row names it.
        {cap_macros, TableRows(cap_macros), 0x1034, "CAP_CAMERASIDE"},
    };
    for (const auto& c : cases) EXPECT_EQ(Named(c.table, c.rows, c.value), c.name) << c.name;
}

}  // namespace
