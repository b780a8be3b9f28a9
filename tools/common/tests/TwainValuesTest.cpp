// The tools' TWAIN value helpers: containers built and read back in every
// container and item type, reads of lying or short containers, TW_FIX32
// rounding and range, text fields without a NUL.
#include "TwainValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tracelet/twain_memory.h"

namespace tracelet::values {
namespace {

TEST(Fix32Test, NumbersGoToTheNearest65536thAndStayInRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double value;
        TW_INT16 whole;
        TW_UINT16 frac;
    } rows[] = {{0, 0, 0},           {300, 300, 0},          {1.5, 1, 0x8000},         {-1.5, -2, 0x8000},
                {-0.25, -1, 0xc000}, {118.11, 118, 0x1c29}, {-3.0 / 65536, -1, 0xfffd}, {-1000, -1000, 0},
                {0.5 / 65536, 0, 1}, {-0.5 / 65536, -1, 0xffff},  // halves away from zero
                {40000, 32767, 0xffff}, {-40000, -32768, 0},      // held to the range
                {nan, 0, 0}};
    for (const auto& row : rows) {
        const TW_FIX32 f = TwainFix32Of(row.value);
        EXPECT_EQ(row.whole, f.Whole) << row.value;
        EXPECT_EQ(row.frac, f.Frac) << row.value;
        const std::uint32_t word = Fix32Word(row.value);
        EXPECT_EQ(std::uint32_t(std::uint16_t(row.whole)) | std::uint32_t(row.frac) << 16, word) << row.value;
        if (std::fabs(row.value) < 32767) {
            EXPECT_NEAR(row.value, Fix32Value(word), 0.5 / 65536) << row.value;
        }
    }
    const TW_FRAME frame = Frame(1, -2.5, 8.5, 11);
    EXPECT_EQ(-2.5, TwainFix32Value(frame.Top));
    EXPECT_EQ(11.0, TwainFix32Value(frame.Bottom));
}

TEST(FieldTextTest, StopsAtTheNulOrTheWidth) {
    TW_STR32 field;
    std::memset(field, 'x', sizeof field);  // no NUL at all
    EXPECT_EQ(std::string(sizeof field, 'x'), FieldText(field));
    PutFieldText(field, std::string(40, 'y'));
    EXPECT_EQ(std::string(sizeof field - 1, 'y'), FieldText(field)) << "cut to leave its NUL";
    PutFieldText(field, "abc");
    EXPECT_EQ("abc", FieldText(field));
    EXPECT_EQ(0, field[sizeof field - 1]) << "the rest zeroed";
    EXPECT_EQ("", FieldText(nullptr, 8));
}

TEST(ItemTest, NumbersReadAsTheirType) {
    const struct {
        TW_UINT16 type;
        std::int64_t stored;
        std::size_t bytes;
        std::int64_t read;
    } rows[] = {{TWTY_INT8, -2, 1, -2},          {TWTY_UINT8, 0x1ff, 1, 0xff},   {TWTY_INT16, -1, 2, -1},
                {TWTY_UINT16, 0x12345, 2, 0x2345}, {TWTY_BOOL, 1, 2, 1},         {TWTY_INT32, -7, 4, -7},
                {TWTY_UINT32, 0xfffffffe, 4, 0xfffffffe}};
    for (const auto& row : rows) {
        const Item item = Item::OfNumber(row.type, row.stored);
        EXPECT_EQ(row.bytes, item.size()) << row.type;
        EXPECT_EQ(row.read, item.Int(row.type)) << row.type;
    }
    EXPECT_EQ(-2.5, Item::OfFix32(-2.5).Value(TWTY_FIX32));
    EXPECT_EQ(2.75, Sum(TWTY_FIX32, Item::OfFix32(1.25), Item::OfFix32(1.5)).Value(TWTY_FIX32));
    EXPECT_EQ(Item::OfNumber(TWTY_UINT16, 7), Sum(TWTY_UINT16, Item::OfNumber(TWTY_UINT16, 3),
                                                 Item::OfNumber(TWTY_UINT16, 4)));
}

TEST(ItemTest, ReportTextNamesValuesAndQuotesText) {
    EXPECT_EQ("TWPT_GRAY", ItemText(TWTY_UINT16, Item::OfNumber(TWTY_UINT16, TWPT_GRAY), ICAP_PIXELTYPE));
    EXPECT_EQ("32767", ItemText(TWTY_UINT16, Item::OfNumber(TWTY_UINT16, 0x7fff), ICAP_PIXELTYPE));
    EXPECT_EQ("-3", ItemText(TWTY_INT8, Item::OfNumber(TWTY_INT8, -3), CAP_XFERCOUNT));
    EXPECT_EQ("118.11", ItemText(TWTY_FIX32, Item::OfFix32(118.11), ICAP_XRESOLUTION));
    EXPECT_EQ("0,0,8.5,11", ItemText(TWTY_FRAME, Item::OfFrame(Frame(0, 0, 8.5, 11)), ICAP_FRAMES));
    EXPECT_EQ("\"A4\"", ItemText(TWTY_STR32, Item::OfText(TWTY_STR32, "A4"), CAP_XFERCOUNT));
}

// Every container with items of every kind of type: built into a handle,
// read back the same.
TEST(ContainerTest, EveryContainerAndItemTypeReadsBackAsBuilt) {
    const std::vector<std::pair<TW_UINT16, std::vector<Item>>> kinds = {
        {TWTY_INT8, {Item::OfNumber(TWTY_INT8, -1), Item::OfNumber(TWTY_INT8, 5)}},
        {TWTY_UINT16, {Item::OfNumber(TWTY_UINT16, 1), Item::OfNumber(TWTY_UINT16, 0xfffe)}},
        {TWTY_INT32, {Item::OfNumber(TWTY_INT32, -70000), Item::OfNumber(TWTY_INT32, 70000)}},
        {TWTY_FIX32, {Item::OfFix32(-0.5), Item::OfFix32(600)}},
        {TWTY_FRAME, {Item::OfFrame(Frame(0, 0, 8.5, 11)), Item::OfFrame(Frame(1, 1, 2, 2))}},
        {TWTY_STR32, {Item::OfText(TWTY_STR32, "first"), Item::OfText(TWTY_STR32, std::string(40, 's'))}},
        {TWTY_STR255, {Item::OfText(TWTY_STR255, ""), Item::OfText(TWTY_STR255, "last")}},
    };
    for (const auto& [type, items] : kinds) {
        for (TW_UINT16 conType : {TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY, TWON_RANGE}) {
            Container c;
            c.conType = conType;
            c.itemType = type;
            if (conType == TWON_ONEVALUE) c.items = {items[1]};
            if (conType == TWON_ENUMERATION || conType == TWON_ARRAY) c.items = items;
            if (conType == TWON_ENUMERATION) c.currentIndex = 1;
            c.minValue = c.defaultValue = items[0];
            c.maxValue = c.currentValue = items[1];
            c.stepSize = items[0];
            TW_HANDLE h = BuildContainer(c);
            const std::string row = std::to_string(type) + " in " + std::to_string(conType);
            if (conType == TWON_RANGE && TwainItemSize(type) > 4) {
                EXPECT_EQ(nullptr, h) << row << ": a range holds 32-bit values";
                continue;
            }
            ASSERT_NE(nullptr, h) << row;
            Container read;
            ASSERT_TRUE(ReadContainer(h, conType, &read)) << row;
            TwainDisposeHandle(h);
            EXPECT_EQ(type, read.itemType) << row;
            EXPECT_EQ(c.items, read.items) << row;
            EXPECT_EQ(c.currentIndex, read.currentIndex) << row;
            if (conType != TWON_RANGE) continue;
            EXPECT_TRUE(read.minValue == items[0] && read.maxValue == items[1] && read.stepSize == items[0] &&
                        read.defaultValue == items[0] && read.currentValue == items[1])
                << row;
        }
    }
}

// What a source may hand over instead: each read fails, and never reads
// past the block it was given.
TEST(ContainerTest, ShortLyingAndUnknownContainersAreRefused) {
    Container list;
    list.conType = TWON_ENUMERATION;
    list.itemType = TWTY_UINT32;
    list.items.assign(3, Item::OfNumber(TWTY_UINT32, 9));
    std::vector<unsigned char> bytes(ContainerBytes(list));
    ASSERT_TRUE(WriteContainer(list, bytes.data(), bytes.size()));
    const std::size_t whole = bytes.size();
    auto count = [&](TW_UINT32 n) { std::memcpy(bytes.data() + offsetof(TW_ENUMERATION, NumItems), &n, 4); };

    Container out;
    EXPECT_TRUE(ReadContainer(bytes.data(), whole, TWON_ENUMERATION, &out));
    EXPECT_EQ(3u, out.items.size());
    EXPECT_FALSE(ReadContainer(bytes.data(), whole - 1, TWON_ENUMERATION, &out)) << "the last item cut";
    EXPECT_TRUE(out.items.empty());
    count(4);
    EXPECT_FALSE(ReadContainer(bytes.data(), whole, TWON_ENUMERATION, &out)) << "a count past the block";
    count(kMaxItems + 1);
    EXPECT_FALSE(ReadContainer(bytes.data(), SIZE_MAX, TWON_ENUMERATION, &out)) << "a count past the cap";
    EXPECT_EQ(TW_UINT16(TWTY_UINT32), out.itemType) << "the item type is still known";
    EXPECT_FALSE(ReadContainer(bytes.data(), 1, TWON_ENUMERATION, &out)) << "no whole ItemType";
    EXPECT_FALSE(ReadContainer(bytes.data(), whole, TW_UINT16(0x7f), &out)) << "no such container";
    EXPECT_EQ(TW_UINT16(0x7f), out.conType);
    EXPECT_FALSE(ReadContainer(nullptr, 100, TWON_ONEVALUE, &out));
    EXPECT_FALSE(ReadContainer(TW_HANDLE(nullptr), TWON_ONEVALUE, &out));

    const TW_UINT16 unknownType = 0x40;
    std::memcpy(bytes.data(), &unknownType, 2);
    EXPECT_FALSE(ReadContainer(bytes.data(), whole, TWON_ONEVALUE, &out));
    EXPECT_EQ(unknownType, out.itemType);

    list.items.resize(kMaxItems + 1);
    EXPECT_EQ(0u, ContainerBytes(list)) << "too long to build";
    EXPECT_FALSE(WriteContainer(Container::OneValue(TWTY_INT16, {}), bytes.data(), 2)) << "no room";
}

}  // namespace
}  // namespace tracelet::values
