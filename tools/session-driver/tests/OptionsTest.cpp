// The command line: defaults, each option, refusals by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "Options.h"

namespace session {
namespace {

struct Parsed {
    int code;
    Options options;
    std::string out, err;
};

Parsed Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tracelet-session");
    Parsed p;
    p.options.dataSource = "/demo/TraceletDemo.ds";
    std::ostringstream out, err;
    p.code = ParseOptions(static_cast<int>(args.size()), args.data(), p.options, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(OptionsTest, DefaultsShortNamesAndAnyCaseAreTaken) {
    Parsed p = Parse({});
    EXPECT_EQ(-1, p.code);
    EXPECT_EQ(2, p.options.pages);
    EXPECT_EQ(XferChoice::Mixed, p.options.xfer);
    EXPECT_EQ("rgb", p.options.pixelType);
    EXPECT_EQ(100, p.options.resolution);
    EXPECT_FALSE(p.options.frame.has_value());
    EXPECT_EQ("/demo/TraceletDemo.ds", p.options.dataSource);
    // (The session tests pass every option of a scan and check what it did.)
    p = Parse({"-p", "5", "--xfer", "Native", "--pixel-type", "GRAY", "--frame", "0.5,1,4,6.25", "--no-log-print"});
    ASSERT_EQ(-1, p.code) << p.err;
    EXPECT_EQ(5, p.options.pages);
    EXPECT_EQ(XferChoice::Native, p.options.xfer) << "any case";
    EXPECT_EQ("gray", p.options.pixelType);
    EXPECT_DOUBLE_EQ(0.5, p.options.frame->left);
    EXPECT_DOUBLE_EQ(6.25, p.options.frame->bottom);
    EXPECT_FALSE(p.options.printLog);
    p = Parse({"--help"});
    EXPECT_EQ(0, p.code);
    EXPECT_NE(std::string::npos, p.out.find("--resolution"));
}

TEST(OptionsTest, BadValuesAreRefusedNamingTheOption) {
    for (const auto& args : std::vector<std::vector<const char*>>{
             {"--pages", "100"}, {"--resolution", "0"}, {"--bit-depth", "12"}, {"--xfer", "file"},
             {"--pages", "two"}, {"--bit-depth", "1"}, {"--pixel-type", "bw", "--bit-depth", "16"},
             {"--frame", "0,0,8.5"}, {"--frame", "0,0,8.5,11,2"}, {"--frame", "3,0,2,11"}, {"--frame", "0,4,2,4"},
             {"--frame", "-1,0,2,4"}, {"--frame", "0,0,2,4x"}, {"--certify"},
             {"--certify", "--target", "x.ds", "--stress-cycles", "1"}}) {
        const Parsed p = Parse(args);
        EXPECT_GT(p.code, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        const char* option = *std::find_if(args.rbegin(), args.rend(), [](const char* a) { return a[0] == '-'; });
        EXPECT_NE(std::string::npos, p.err.find(option)) << p.err;
    }
    EXPECT_EQ(-1, Parse({"--pixel-type", "bw", "--bit-depth", "1"}).code);
}

}  // namespace
}  // namespace session
