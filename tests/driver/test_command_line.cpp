#include "driver/program.hpp"
#include "support/testing.hpp"

#include <sstream>

using namespace korvex;

namespace {
CommandLine parse(std::vector<std::string> args, std::string& out) {
    std::ostringstream s;
    CommandLine cl = parse_command_line(args, s);
    out = s.str();
    return cl;
}
} // namespace

TEST(CommandLine, TextModeWithBothFiles) {
    std::string out;
    const auto cl = parse({"-t", "in.txt", "edge.ini"}, out);
    EXPECT_TRUE(cl.text_mode);
    EXPECT_EQ(cl.f_in, "in.txt");
    EXPECT_EQ(cl.f_defect, "edge.ini");
    EXPECT_EQ(out, " * KORVEX is runing under text environment...\n option=-t\n");
}

TEST(CommandLine, UpperCaseAndLongerOptionsCountByTheirFirstTwoCharacters) {
    std::string out;
    EXPECT_TRUE(parse({"-T", "in"}, out).text_mode);
    const auto cl = parse({"-text", "in", "d"}, out);
    EXPECT_TRUE(cl.text_mode);
    EXPECT_EQ(cl.option, "-t");
    EXPECT_FALSE(parse({"-X", "ignored"}, out).text_mode);
    EXPECT_EQ(out, " * KORVEX is  running in graphic interface.\n option=-X\n");
}

TEST(CommandLine, MissingDefectFileOnlyWarns) {
    std::string out;
    const auto cl = parse({"-t", "in"}, out);
    EXPECT_TRUE(cl.text_mode);
    EXPECT_FALSE(cl.usage_error);
    EXPECT_EQ(out, " * KORVEX is runing under text environment...\n"
                   "\n"
                   " * WARNING..........\n"
                   " > No defect configuration file is given.\n"
                   " * Program will stop if you have chosen a defect in the input file.\n"
                   " option=-t\n");
}

TEST(CommandLine, TextModeWithoutInputFilePrintsUsageAndStops) {
    std::string out;
    const auto cl = parse({"-t"}, out);
    EXPECT_TRUE(cl.usage_error);
    EXPECT_EQ(out, "\n * ERROR..........\n"
                   " > Usage: korvex -t <input file> [defect configuration file]\n"
                   " * Program now exiting.....Bye.....\n");
}

TEST(CommandLine, NoOrWrongOptionFallsBackToGraphicMode) {
    std::string out;
    EXPECT_FALSE(parse({}, out).text_mode);
    EXPECT_EQ(out, " * WARNING..........\n > No graphic or text option given\n"
                   " * Program is forced to run in graphic interface.\n option=  \n");
    EXPECT_FALSE(parse({"-q"}, out).text_mode);
    EXPECT_EQ(out, " * WARNING..........\n > The input character for runing option is wrong\n"
                   " * Program is forced to run in graphic interface.\n option=-q\n");
}
