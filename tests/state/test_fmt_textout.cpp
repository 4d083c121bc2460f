#include "state/fmt.hpp"
#include "state/textout.hpp"
#include "support/testing.hpp"

#include <cstdio>
#include <random>

using namespace korvex::testing;

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

    // The image files' fast path against the C library's "%.3E" and "%.10G" over random values
    // of every magnitude, decimal ties (k + 1/2) 10^-4 and values at the rounding boundary.
    std::mt19937_64 rng(7);
    for (int k = 0; k < 60000; ++k) {
        const double v =
            k < 20000   ? (k + 0.5) * 1e-4 * (k % 2 ? -1 : 1)
            : k < 40000 ? std::ldexp(std::uniform_real_distribution<>(-1, 1)(rng), k % 800 - 400)
                        : std::nextafter(9.9995 * std::pow(10.0, k % 40 - 20), 0.0);
        char es[64], g[64];
        std::snprintf(es, sizeof es, "%.3E", v);
        std::snprintf(g, sizeof g, "%.10G", v);
        std::string want_es = es, want_g = g;
        const auto e = want_es.find('E');
        if (std::abs(std::atoi(want_es.c_str() + e + 1)) > 99) want_es.erase(e, 1);
        if (want_g.find_first_of(".E") == std::string::npos) want_g += ".0";
        want_es = std::string(want_es.size() < 12 ? 12 - want_es.size() : 0, ' ') + want_es;
        ASSERT_EQ(std::pair(fmt_es(v, 12, 3), list_real(v)), std::pair(want_es, want_g)) << v;
    }
}

// Whole files replace the old one without leaving the temporary; records are on disk as soon
// as written; unwritable paths stop the run naming the file.
TEST(TextOut, WholeAppendAndRecordFiles) {
    ScratchDir dir;
    write_text_file(dir.str() + "a.slice", "one\ntwo\n");
    write_text_file(dir.str() + "a.slice", "new\n");
    EXPECT_EQ(dir.read("a.slice"), "new\n"); // no temporary left: see the names below
    const std::string bad = dir.str() + "missing/dir/x.txt";
    EXPECT_TRUE(contains(stop_lines([&] { write_text_file(bad, "x"); }).at(0), bad));

    append_text_file(dir.str() + "record.sim", "a\n");
    append_text_file(dir.str() + "record.sim", "b\n");
    EXPECT_EQ(dir.read("record.sim"), "a\nb\n");

    // A record file appears whole at close; one left open (a stopped run) leaves nothing.
    RecordFile(dir.str() + "stopped.imi").line(" exit");
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
