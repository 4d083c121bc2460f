#include "state/reader.hpp"
#include "support/testing.hpp"

#include <array>

using namespace korvex;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

namespace {
std::string only_line(const std::vector<std::string>& lines) {
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? std::string() : lines.front();
}
} // namespace

TEST(RecordReader, ValuesSeparatedByBlanksAndCommasRestOfRecordSkipped) {
    RecordReader r("mem", "1, 2.5  abc   label text 99\n7\n");
    int a = 0;
    double b = 0;
    std::string c;
    r.read(a, b, c);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2.5);
    EXPECT_EQ(c, "abc");
    EXPECT_EQ(r.record(), 1);
    int d = 0;
    r.read(d); // the labels after the values of record 1 are skipped
    EXPECT_EQ(d, 7);
    EXPECT_EQ(r.record(), 2);
}

TEST(RecordReader, ShortRecordContinuesOnTheNextOnesBlankRecordsSkipped) {
    RecordReader r("mem", "1 2\n\n   \n3 4 5\n6\n");
    std::array<double, 3> v{};
    r.read(v);
    EXPECT_EQ(v, (std::array<double, 3>{1, 2, 3}));
    EXPECT_EQ(r.record(), 4);
    int n = 0;
    r.read(n); // 4 and 5 were skipped with the rest of record 4
    EXPECT_EQ(n, 6);
}

TEST(RecordReader, NullValuesLeaveTheVariableUnchanged) {
    {
        RecordReader r("mem", "1,,3\n");
        int a = -1, b = -1, c = -1;
        r.read(a, b, c);
        EXPECT_EQ(a, 1);
        EXPECT_EQ(b, -1);
        EXPECT_EQ(c, 3);
    }
    {
        RecordReader r("mem", ",2\n");
        int a = -1, b = -1;
        r.read(a, b);
        EXPECT_EQ(a, -1);
        EXPECT_EQ(b, 2);
    }
    {
        // A comma after the end of a record completes the separator of the last value.
        RecordReader r("mem", "1\n,2\n");
        int a = -1, b = -1;
        r.read(a, b);
        EXPECT_EQ(a, 1);
        EXPECT_EQ(b, 2);
    }
    {
        RecordReader r("mem", "1,\n,2\n");
        int a = -1, b = -1, c = -1;
        r.read(a, b, c);
        EXPECT_EQ(a, 1);
        EXPECT_EQ(b, -1);
        EXPECT_EQ(c, 2);
    }
}

TEST(RecordReader, SlashEndsTheReadAndTheRecord) {
    RecordReader r("mem", "1 / 2 3\n4\n");
    int a = 0, b = -1, c = -1;
    r.read(a, b, c);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(c, -1);
    int d = 0;
    r.read(d);
    EXPECT_EQ(d, 4);
}

TEST(RecordReader, UnquotedTextEndsAtBlankCommaOrSlash) {
    RecordReader r("mem", "./ rest\nab,cd\nx y\n");
    std::string a, b, c;
    r.read(a);
    r.read(b);
    r.read(c);
    EXPECT_EQ(a, "."); // a directory must be quoted to keep its slash
    EXPECT_EQ(b, "ab");
    EXPECT_EQ(c, "x");
}

TEST(RecordReader, QuotedTextKeepsBlanksCommasSlashesAndDoubledQuotes) {
    RecordReader r("mem", "'/data/run 1/, x'  next\n\"it\"\"s\" 'don''t'\n");
    std::string a, b, c;
    r.read(a);
    r.read(b, c);
    EXPECT_EQ(a, "/data/run 1/, x");
    EXPECT_EQ(b, "it\"s");
    EXPECT_EQ(c, "don't");
}

TEST(RecordReader, RepeatCounts) {
    RecordReader r("mem", "3*2.5 7\n2* 5\n2*'a b' c\n");
    std::array<double, 4> v{};
    r.read(v);
    EXPECT_EQ(v, (std::array<double, 4>{2.5, 2.5, 2.5, 7}));
    int a = -1, b = -1, c = -1;
    r.read(a, b, c);
    EXPECT_EQ(a, -1);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(c, 5);
    std::string s1, s2, s3;
    r.read(s1, s2, s3);
    EXPECT_EQ(s1, "a b");
    EXPECT_EQ(s2, "a b");
    EXPECT_EQ(s3, "c");
}

TEST(RecordReader, FortranNumberForms) {
    RecordReader r("mem", "1.5D2 1e3 .5 5. -2 +7 1.0E-2 3\n");
    double a = 0, b = 0, c = 0, d = 0, e = 0, g = 0;
    int f = 0, h = 0;
    r.read(a, b, c, d, e, f, g, h);
    EXPECT_EQ(a, 150.0);
    EXPECT_EQ(b, 1000.0);
    EXPECT_EQ(c, 0.5);
    EXPECT_EQ(d, 5.0);
    EXPECT_EQ(e, -2.0);
    EXPECT_EQ(f, 7);
    EXPECT_EQ(g, 0.01);
    EXPECT_EQ(h, 3);
    EXPECT_FALSE(parse_fortran_int("2.5"));
    EXPECT_FALSE(parse_fortran_int("3000000000"));
    EXPECT_FALSE(parse_fortran_real("abc"));
    EXPECT_FALSE(parse_fortran_real("1e"));
    EXPECT_FALSE(parse_fortran_real("."));
    EXPECT_FALSE(parse_fortran_real("1e999"));
}

TEST(RecordReader, WindowsLineEndsAndSplitReads) {
    RecordReader r("mem", "2\r\n10 20\r\n");
    int n = 0;
    r.read(n);
    r.begin_read();
    std::array<int, 2> v{};
    for (int i = 0; i < n; ++i) r.read_more(v[static_cast<std::size_t>(i)]);
    r.end_read();
    EXPECT_EQ(v, (std::array<int, 2>{10, 20}));
    EXPECT_TRUE(r.at_end());
}

TEST(RecordReader, ErrorsNameFileRecordExpectationAndText) {
    {
        RecordReader r("job.in", "label\n2.5\n");
        std::string l;
        int job = 0;
        r.read(l);
        EXPECT_EQ(only_line(stop_lines([&] { r.read(job); })),
                  "Error reading \"job.in\", record 2: expected an integer, found \"2.5\"");
    }
    {
        RecordReader r("v.in", "1 abc\n");
        double a = 0, b = 0;
        EXPECT_EQ(only_line(stop_lines([&] { r.read(a, b); })),
                  "Error reading \"v.in\", record 1: expected a real number, found \"abc\"");
    }
    {
        RecordReader r("short.in", "1 2\n");
        std::array<double, 3> v{};
        EXPECT_EQ(only_line(stop_lines([&] { r.read(v); })),
                  "Error reading \"short.in\": the file ends after record 1, before a real "
                  "number could be read");
    }
    {
        RecordReader r("s.in", "a\n");
        EXPECT_EQ(only_line(stop_lines([&] { r.skip(2); })),
                  "Error reading \"s.in\": the file ends after record 1, but a further record "
                  "is needed");
    }
    {
        // A quoted value is text, never a number.
        RecordReader r("q.in", "'5'\n");
        int a = 0;
        EXPECT_EQ(only_line(stop_lines([&] { r.read(a); })),
                  "Error reading \"q.in\", record 1: expected an integer, found \"5\"");
    }
}

TEST(RecordReader, MissingFileIsReadErrorNamingIt) {
    ScratchDir dir;
    const std::string path = dir.str() + "absent.in";
    EXPECT_FALSE(RecordReader::exists(path));
    try {
        RecordReader r(path);
        ADD_FAILURE() << "a missing file must be refused";
    } catch (const ReadError& e) {
        EXPECT_NE(e.lines().at(0).find("\"" + path + "\""), std::string::npos) << e.lines().at(0);
    }
    dir.write("present.in", "3\n");
    RecordReader r(dir.str() + "present.in");
    int v = 0;
    r.read(v);
    EXPECT_EQ(v, 3);
}
