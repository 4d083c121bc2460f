#include "state/fmt.hpp"
#include "state/textout.hpp"
#include "support/testing.hpp"

using namespace korvex;
using korvex::testing::contains;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

// Printed fields: widths, overflow stars, negative zero, the optional leading zero, three-digit
// exponents and the shortest list form of reals.
TEST(Fmt, FieldsAsPrinted) {
    const std::pair<std::string, std::string> cases[] = {
        {fmt_i(1, 5) + fmt_f(0.5, 10, 3) + fmt_f(1.0, 10, 3), "    1     0.500     1.000"},
        {fmt_i(123456, 5) + fmt_i(-42, 5), "*****  -42"},
        {fmt_f(-0.0004, 7, 3) + fmt_f(0.25, 4, 3), "  0.000.250"},
        {fmt_f(12345.0, 8, 3), "********"},
        {fmt_es(0.1234, 12, 3) + fmt_es(-5.0e10, 12, 3), "   1.234E-01  -5.000E+10"},
        {fmt_es(0.0, 12, 3) + fmt_es(1.5e-120, 12, 3), "   0.000E+00   1.500-120"},
        {fmt_a("abc", 5) + fmt_a("abcdef", 3), "  abcabc"},
        {pad("ab", 4) + pad("abcdef", 4) + trim("ab  ") + trim("   "), "ab  abcdab"},
        {list_real(200.0) + " " + list_real(250000.0), "200.0 250000.0"},
        {list_real(0.025070001931) + " " + list_real(1.2e-5), "0.02507000193 1.2E-05"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// Whole files replace the old one without leaving the temporary; records are on disk as soon
// as written; unwritable paths stop the run naming the file.
TEST(TextOut, WholeAppendAndRecordFiles) {
    ScratchDir dir;
    write_text_file(dir.str() + "a.slice", "one\ntwo\n");
    write_text_file(dir.str() + "a.slice", "new\n");
    EXPECT_EQ(dir.read("a.slice"), "new\n");
    EXPECT_FALSE(dir.exists("a.slice.part"));
    const std::string bad = dir.str() + "missing/dir/x.txt";
    const auto lines = stop_lines([&] { write_text_file(bad, "x"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], bad));

    append_text_file(dir.str() + "record.sim", "a\n");
    append_text_file(dir.str() + "record.sim", "b\n");
    EXPECT_EQ(dir.read("record.sim"), "a\nb\n");

    // A record file appears whole at close; one left open (a stopped run) leaves nothing.
    {
        RecordFile open(dir.str() + "stopped.imi");
        open.line(" exit");
    }
    RecordFile f(dir.str() + "run.imi");
    f.line(list_record({"width", "3"}));
    EXPECT_FALSE(dir.exists("run.imi"));
    f.line(list_record({}));
    f.close();
    // No temporary file, and nothing of the stopped one.
    EXPECT_EQ(dir.names(), (std::set<std::string>{"a.slice", "record.sim", "run.imi"}));
    EXPECT_THROW(f.line("x"), Fatal);
    EXPECT_EQ(dir.read("run.imi"), " width 3\n \n");
    EXPECT_THROW(RecordFile(dir.str() + "no/such/dir.imi"), Fatal);
}
