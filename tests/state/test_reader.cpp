#include "state/reader.hpp"
#include "support/testing.hpp"

#include <array>
#include <functional>
#include <tuple>

using namespace korvex::testing;

namespace {
// One read of the given variables from the first records of `text`.
template <class... T> std::tuple<T...> read1(const std::string& text, T... v) {
    RecordReader r("mem", text);
    r.read(v...);
    return {v...};
}
using S = std::string;
} // namespace

// The list-directed record rules: separators, skipped rest of record, continuation over short
// and blank records, null values (which leave the variable alone), slash, repeat counts,
// quoting and the number forms.
TEST(RecordReader, ListDirectedRulesAndErrorMessages) {
    EXPECT_EQ(read1("1, 2.5  abc   label 99\n", 0, 0.0, S()), std::tuple(1, 2.5, S("abc")));
    EXPECT_EQ(read1("1,,3\n", -1, -1, -1), std::tuple(1, -1, 3));
    EXPECT_EQ(read1("1\n,2\n", -1, -1), std::tuple(1, 2)); // comma completes the separator
    EXPECT_EQ(read1("1,\n,2\n", -1, -1, -1), std::tuple(1, -1, 2));
    EXPECT_EQ(read1("2* 5\n", -1, -1, -1), std::tuple(-1, -1, 5));
    EXPECT_EQ(read1("2*'a b' c\n", S(), S(), S()), std::tuple(S("a b"), S("a b"), S("c")));
    EXPECT_EQ(read1("./ rest\n", S()), std::tuple(S("."))); // a directory must be quoted
    EXPECT_EQ(read1("'/data/run 1/, x'  next\n", S()), std::tuple(S("/data/run 1/, x")));
    EXPECT_EQ(read1("\"it\"\"s\" 'don''t'\n", S(), S()), std::tuple(S("it\"s"), S("don't")));
    EXPECT_EQ(read1("1.5D2 1e3 .5 5. -2 1.0E-2\n", 0.0, 0.0, 0.0, 0.0, 0.0, 0.0),
              std::tuple(150.0, 1000.0, 0.5, 5.0, -2.0, 0.01));
    for (const char* bad : {"2.5", "3000000000"}) EXPECT_FALSE(parse_fortran_int(bad)) << bad;
    for (const char* bad : {"abc", "1e", ".", "1e999"})
        EXPECT_FALSE(parse_fortran_real(bad)) << bad;

    RecordReader r("mem", "1 2\n\n   \n3 4 5\n6\n3*2.5 7\n1 / 2 3\n4\n");
    std::array<double, 3> v{};
    r.read(v);
    EXPECT_EQ(v, (std::array<double, 3>{1, 2, 3}));
    EXPECT_EQ(r.record(), 4);
    int n = 0;
    r.read(n); // 4 and 5 went with the rest of record 4
    EXPECT_EQ(n, 6);
    std::array<double, 4> w{};
    r.read(w);
    EXPECT_EQ(w, (std::array<double, 4>{2.5, 2.5, 2.5, 7}));
    int a = 0, b = -1, c = -1;
    r.read(a, b, c); // the slash ends the read and the record
    EXPECT_EQ(std::tuple(a, b, c), std::tuple(1, -1, -1));
    r.read(n);
    EXPECT_EQ(n, 4);

    // Every read error names the file, the record, what was expected and what was found; a quoted
    // value is text, never a number; a one-record read reports a short record there.
    int i = 0;
    double x = 0, y = 0;
    std::array<double, 3> vv{};
    using Read = std::function<void(RecordReader&)>;
    const std::tuple<std::string, Read, std::string> cases[] = {
        {"label\n2.5\n", [&](RecordReader& rd) { rd.skip(1), rd.read(i); },
         "Error reading \"f.in\", record 2: expected an integer, found \"2.5\""},
        {"1 abc\n", [&](RecordReader& rd) { rd.read(x, y); },
         "Error reading \"f.in\", record 1: expected a real number, found \"abc\""},
        {"1 2\n", [&](RecordReader& rd) { rd.read(vv); },
         "Error reading \"f.in\": the file ends after record 1, before a real number could be "
         "read"},
        {"a\n", [&](RecordReader& rd) { rd.skip(2); },
         "Error reading \"f.in\": the file ends after record 1, but a further record is needed"},
        {"'5'\n", [&](RecordReader& rd) { rd.read(i); },
         "Error reading \"f.in\", record 1: expected an integer, found \"5\""},
        {"1 2\n3 4 5\n", [&](RecordReader& rd) { rd.read_record(vv); },
         "Error reading \"f.in\", record 1: expected a real number, but the record ends"}};
    for (const auto& [text, read, message] : cases) {
        RecordReader rd("f.in", text);
        EXPECT_EQ(stop_lines([&] { read(rd); }), Lines{message});
    }

    ScratchDir dir;
    const std::string path = dir.str() + "absent.in";
    EXPECT_FALSE(RecordReader::exists(path));
    EXPECT_TRUE(contains(stop_lines([&] { RecordReader missing(path); }).at(0), '"' + path + '"'));
    EXPECT_EQ(stop_lines([&] { RecordReader folder(dir.str()); }),
              Lines{"Error opening \"" + dir.str() + "\" for reading: Is a directory"});
}
