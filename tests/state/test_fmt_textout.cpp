#include "state/fmt.hpp"
#include "state/textout.hpp"
#include "support/testing.hpp"

#include <filesystem>

using namespace korvex;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

TEST(Fmt, FixedWidthFields) {
    // The columns of the slice table: I5 then three F10.3.
    EXPECT_EQ(fmt_i(1, 5) + fmt_f(0.5, 10, 3) + fmt_f(1.0, 10, 3) + fmt_f(1.0, 10, 3),
              "    1     0.500     1.000     1.000");
    EXPECT_EQ(fmt_i(123456, 5), "*****");
    EXPECT_EQ(fmt_i(-42, 5), "  -42");
    EXPECT_EQ(fmt_f(-0.0004, 7, 3), "  0.000");
    EXPECT_EQ(fmt_f(0.25, 4, 3), ".250"); // the leading zero goes only when that makes it fit
    EXPECT_EQ(fmt_f(12345.0, 8, 3), "********");
}

TEST(Fmt, ScientificFields) {
    EXPECT_EQ(fmt_es(0.1234, 12, 3), "   1.234E-01");
    EXPECT_EQ(fmt_es(-5.0e10, 12, 3), "  -5.000E+10");
    EXPECT_EQ(fmt_es(0.0, 12, 3), "   0.000E+00");
    EXPECT_EQ(fmt_es(1.5e-120, 12, 3), "   1.500-120"); // three-digit exponents drop the E
}

TEST(Fmt, TextAndListForms) {
    EXPECT_EQ(fmt_a("abc", 5) + fmt_a("abcdef", 3), "  abcabc");
    EXPECT_EQ(pad("ab", 4) + pad("abcdef", 4), "ab  abcd");
    EXPECT_EQ(trim("ab  ") + trim("   "), "ab");
    EXPECT_EQ(list_real(200.0), "200.0");
    EXPECT_EQ(list_real(250000.0), "250000.0");
    EXPECT_EQ(list_real(0.025070001931), "0.02507000193");
    EXPECT_EQ(list_real(1.2e-5), "1.2E-05");
}

TEST(TextOut, WholeFileWriteLeavesNoPartialFile) {
    ScratchDir dir;
    const std::string path = dir.str() + "a.slice";
    write_text_file(path, "one\ntwo\n");
    EXPECT_EQ(dir.read("a.slice"), "one\ntwo\n");
    EXPECT_FALSE(dir.exists("a.slice.part"));
    write_text_file(path, "new\n");
    EXPECT_EQ(dir.read("a.slice"), "new\n");

    const std::string bad = dir.str() + "missing/dir/x.txt";
    const auto lines = stop_lines([&] { write_text_file(bad, "x"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(bad), std::string::npos) << lines[0];
}

TEST(TextOut, AppendAndRecordFile) {
    ScratchDir dir;
    append_text_file(dir.str() + "record.sim", "a\n");
    append_text_file(dir.str() + "record.sim", "b\n");
    EXPECT_EQ(dir.read("record.sim"), "a\nb\n");

    {
        RecordFile f(dir.str() + "run.imi");
        f.line(list_record({"width", "3"}));
        // Each record is on disk as soon as it is written.
        EXPECT_EQ(dir.read("run.imi"), " width 3\n");
        f.line(list_record({}));
        f.close();
        EXPECT_FALSE(f.is_open());
        EXPECT_THROW(f.line("x"), Fatal);
    }
    EXPECT_EQ(dir.read("run.imi"), " width 3\n \n");
    EXPECT_THROW(RecordFile(dir.str() + "no/such/dir.imi"), Fatal);
}
