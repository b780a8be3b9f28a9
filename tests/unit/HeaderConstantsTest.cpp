// Every constant the TWAIN header defines is named in data/ with the same
// value, so that the header, the trace and the tools cannot drift apart. The
// header's constants are listed from the header itself at build time.
#include <gtest/gtest.h>

#include "tables/TwNames.h"
#include "tracelet/twain.h"
#include "tracelet/twain_nv.h"

namespace {

struct HeaderConstant {
    const char* name;
    long long value;
};

const HeaderConstant kHeaderConstants[] = {
#include "HeaderConstants.inc"
};

TEST(NameTables, EveryConstantOfTheTwainHeaderHasItsValueInData) {
    ASSERT_GT(sizeof kHeaderConstants / sizeof kHeaderConstants[0], 150u) << "the header's constants were listed";
    for (const HeaderConstant& c : kHeaderConstants) {
        const auto value = twnames::ConstantValue(c.name);
        ASSERT_TRUE(value.has_value()) << c.name << " is not in data/";
        EXPECT_EQ(c.value, *value) << c.name;
    }
}

}  // namespace
