// The command line: defaults, each option, and clear refusals.
#include <gtest/gtest.h>

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

TEST(OptionsTest, WithoutOptionsTheDemoSessionRuns) {
    const Parsed p = Parse({});
    EXPECT_EQ(-1, p.code);
    EXPECT_EQ(2, p.options.pages);
    EXPECT_EQ(XferChoice::Mixed, p.options.xfer);
    EXPECT_EQ("rgb", p.options.pixelType);
    EXPECT_EQ(100, p.options.resolution);
    EXPECT_FALSE(p.options.frame.has_value());
    EXPECT_EQ("/demo/TraceletDemo.ds", p.options.dataSource);
}

TEST(OptionsTest, EveryOptionIsTaken) {
    const Parsed p = Parse({"-p", "5", "--xfer", "Native", "--pixel-type", "GRAY", "--bit-depth", "16",
                            "--resolution", "300", "--frame", "0.5,1,4,6.25", "--output", "/tmp/x", "--ds", "a.ds",
                            "--log-dir", "/logs", "--no-log-print"});
    ASSERT_EQ(-1, p.code) << p.err;
    EXPECT_EQ(5, p.options.pages);
    EXPECT_EQ(XferChoice::Native, p.options.xfer);
    EXPECT_EQ("gray", p.options.pixelType);
    EXPECT_EQ(16, p.options.bitDepth.value_or(0));
    EXPECT_EQ(300, p.options.resolution);
    ASSERT_TRUE(p.options.frame.has_value());
    EXPECT_DOUBLE_EQ(6.25, p.options.frame->bottom);
    EXPECT_EQ("/tmp/x", p.options.outputDir);
    EXPECT_EQ("a.ds", p.options.dataSource);
    EXPECT_EQ("/logs", p.options.logDir);
    EXPECT_FALSE(p.options.printLog);
}

TEST(OptionsTest, OutOfRangeAndUnknownValuesAreRefusedByName) {
    for (const auto& args : std::vector<std::vector<const char*>>{
             {"--pages", "100"}, {"--resolution", "0"}, {"--bit-depth", "12"}, {"--xfer", "file"}, {"--pages", "two"}}) {
        const Parsed p = Parse(args);
        EXPECT_GT(p.code, 0) << args[0] << " " << args[1];
        EXPECT_NE(std::string::npos, p.err.find(args[0])) << p.err;
    }
}

TEST(OptionsTest, AConformanceRunNeedsItsTargetAndTakesItsOwnOptions) {
    EXPECT_EQ(2, Parse({"--certify"}).code);
    const Parsed p = Parse({"--certify", "--target", "x.ds", "--out", "o", "--json", "r.json", "--stress-cycles",
                            "5", "--timeout", "9"});
    ASSERT_EQ(-1, p.code) << p.err;
    EXPECT_TRUE(p.options.certify);
    EXPECT_EQ("x.ds", p.options.certifyTarget);
    EXPECT_EQ("o", p.options.certifyOut);
    EXPECT_EQ("r.json", p.options.certifyJson);
    EXPECT_EQ(5, p.options.stressCycles);
    EXPECT_EQ(9, p.options.certifyTimeout);
    EXPECT_GT(Parse({"--certify", "--target", "x.ds", "--stress-cycles", "1"}).code, 0);
}

TEST(OptionsTest, ABitDepthMustFitThePixelType) {
    EXPECT_EQ(2, Parse({"--pixel-type", "bw", "--bit-depth", "16"}).code);
    EXPECT_EQ(2, Parse({"--bit-depth", "1"}).code);
    EXPECT_EQ(-1, Parse({"--pixel-type", "bw", "--bit-depth", "1"}).code);
}

TEST(OptionsTest, AFrameIsFourInchValuesWithAnArea) {
    Frame f;
    EXPECT_TRUE(ParseFrame("0,0,8.5,11", &f));
    EXPECT_DOUBLE_EQ(8.5, f.right);
    EXPECT_FALSE(ParseFrame("0,0,8.5", &f));
    EXPECT_FALSE(ParseFrame("0,0,8.5,11,2", &f));
    EXPECT_FALSE(ParseFrame("3,0,2,11", &f)) << "right of left";
    EXPECT_FALSE(ParseFrame("0,4,2,4", &f)) << "an empty area";
    EXPECT_FALSE(ParseFrame("-1,0,2,4", &f));
    EXPECT_FALSE(ParseFrame("0,0,2,4x", &f));
}

TEST(OptionsTest, HelpEndsTheProgramSuccessfully) {
    const Parsed p = Parse({"--help"});
    EXPECT_EQ(0, p.code);
    EXPECT_NE(std::string::npos, p.out.find("--resolution"));
}

}  // namespace
}  // namespace session
