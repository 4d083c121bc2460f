// Text in and out: the list-directed record rules and their errors, the directories, the input
// file; printed fields and the files written whole.
#include "state/fmt.hpp"
#include "state/input.hpp"
#include "state/reader.hpp"
#include "state/textout.hpp"
#include "support/testing.hpp"

#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <tuple>

using namespace korvex::testing;

namespace {

// The 28 records of an input parameter file (Cu, 200 kV, g 2 0 0, beams -1..3); records can be
// replaced by number (1-based).
std::string input_file(const std::map<int, std::string>& replace = {}) {
    auto rec = split_lines(
        "Specimen label\ntest-1\nCrystal\nCu\nJob\n1\nColumn approximation\nyes\n"
        "Voltage (kV)\n200\nDefect\nno\nImage width x\n100.0\nImage width y\n80\n"
        "Foil thickness\n250.4\nZone axis\n0 0 1\nDiffraction vector\n2 0 0\nBeams\n-1 3\n"
        "(g,ng)\n1.0\nAbsorption\n1\n");
    for (const auto& [n, text] : replace) rec.at(static_cast<std::size_t>(n - 1)) = text;
    std::string s;
    for (const auto& r : rec) s += r + "\n";
    return s;
}

// Reads `input` as "cu.in" in a fresh working directory with the given filesystem.ini.
struct InputRun {
    ScratchDir dir;
    State st;
    explicit InputRun(const std::string& input,
                      const std::string& fs = "a\nb\n''\n'sys/'\n'./'\n'rec/'\n'out/'\n") {
        dir.enter();
        dir.write("filesystem.ini", fs);
        dir.write("cu.in", input);
    }
    State& read() {
        read_system_parameters(st, "cu.in");
        return st;
    }
    Lines stop() {
        auto lines = stop_lines([&] { read_system_parameters(st, "cu.in"); });
        EXPECT_FALSE(st.allocated) << "a refused parameter set must not make arrays";
        return lines;
    }
};

// One read of the given variables from the first records of `text`.
template <class... T> std::tuple<T...> read1(const std::string& text, T... v) {
    RecordReader r("mem", text);
    r.read(v...);
    return {v...};
}
using S = std::string;

} // namespace

// Each record lands in its variable; sizes round half away from zero to the grid.
TEST(ReadSystemParameters, DirectoriesRecordsGridTextValuesStopsAndTheGuard) {
    InputRun run(input_file());
    const State& st = run.read();
    EXPECT_EQ(std::tie(st.sample_no, st.sample, st.ca, st.defect, st.f_in, st.f_out, st.datadir),
              std::tuple("test-1", "Cu", ColumnApprox::yes, "no", "cu.in", "cu.in", "out/"));
    EXPECT_EQ(
        std::tie(st.job, st.voltage, st.size_x, st.size_y, st.size_z, st.condition_n, st.iabs),
        std::tuple(Job::amplitude_images, 200.0, 100.0, 80.0, 250.4, 1.0, 1));
    EXPECT_EQ(std::tie(st.n_pixel_x, st.n_pixel_y, st.n_slice), std::tuple(100, 80, 250));
    EXPECT_EQ(std::pair(st.foil, st.v_g), std::pair(Vec3{0, 0, 1}, Vec3{2, 0, 0}));
    ASSERT_TRUE(st.allocated && st.n_beams == 5);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(st.mtx_beams(n), n - 2);
    EXPECT_EQ(std::tuple(st.mtx_intensity.n3(), st.p_z.size(), st.u.size()), std::tuple(5, 250, 4));

    InputRun half(input_file({{14, "127.5"}, {16, "127.49"}, {18, "250.5"}}));
    EXPECT_EQ(std::tie(half.read().n_pixel_x, half.st.n_pixel_y, half.st.n_slice),
              std::tuple(128, 127, 251));
    // An absolute input name is taken as it stands, without the run directory.
    InputRun abs(input_file({{24, "0 1"}})); // each run enters its own directory
    State& two = abs.st;
    read_system_parameters(two, abs.dir.str() + "cu.in");
    EXPECT_EQ(std::tuple(two.n_beams, two.mtx_beams(1), two.f_out), std::tuple(2, 0, "cu.in"));
    InputRun tiny(input_file({{14, "0.5"}, {16, "0.5"}, {18, "0.5"}})); // half a cell makes one
    tiny.read();
    EXPECT_EQ(tiny.st.n_pixel_x * tiny.st.n_pixel_y * tiny.st.n_slice, 1);

    // Text values: quoted text keeps its commas and slashes; each is cut to its length (label 20,
    // column approximation 5); words after the values of a record and records beyond the 28th
    // are ignored; record 27 is skipped whole even when blank.
    // clang-format off
    InputRun text(input_file({{2, "'Cu foil, no. 1/2 of a long series'"}, {4, "Cu-annealed"},
        {8, "half-and-half"}, {12, "'pg_loop'"}, {20, "1 1 1 zone"}, {22, "2 -2 0 g"}, {27, ""},
        {28, "0"}}) + "extra records are ignored\n");
    // clang-format on
    const State& t = text.read();
    EXPECT_EQ(std::tie(t.sample_no, t.sample, t.ca, t.defect),
              std::tuple("Cu foil, no. 1/2 of", "Cu-annealed", ColumnApprox::unknown, "pg_loop"));
    EXPECT_EQ(std::tie(t.foil, t.v_g, t.iabs), std::tuple(Vec3{1, 1, 1}, Vec3{2, -2, 0}, 0));

    // The input file is looked up in the run directory, with the root prefixed, and a missing one
    // is named with that directory.
    ScratchDir rdir;
    rdir.enter();
    std::filesystem::create_directories(rdir.path() / "in");
    rdir.write("in/cu.in", input_file());
    rdir.write("filesystem.ini", "a\nb\n'" + rdir.str() + "'\n'./'\n'in/'\n'./'\n'./'\n");
    State rs;
    read_system_parameters(rs, "cu.in");
    EXPECT_EQ(std::tie(rs.rundir, rs.f_out, rs.sample),
              std::tuple(rdir.str() + "in/", "cu.in", "Cu"));
    rdir.write("filesystem.ini", "a\nb\n''\n'./'\n'in/'\n'./'\n'./'\n");
    EXPECT_TRUE(contains(stop_lines([&] { read_system_parameters(rs, "none.in"); }).at(0),
                         "\"in/none.in\""));

    // Every refusal with its exact message, before any array is made.
    const std::string big = "The size of array is too big, please reduce the number of grids";
    std::string truncated = input_file();
    truncated.erase(truncated.rfind("1\n")); // ends after record 27
    const std::pair<std::string, std::string> cases[] = {
        {input_file({{24, "3 -1"}}), "The beam range given is wrong"},
        // The beam range is checked before the zone axis.
        {input_file({{20, "1 1 1"}, {22, "1 1 1"}, {24, "1 0"}}), "The beam range given is wrong"},
        {input_file({{14, "10000"}, {16, "10000"}}), big},
        // "0 0" continues on the label record of g, so g is read from "Beams".
        {input_file({{20, "0 0"}, {21, "1"}}),
         "Error reading \"./cu.in\", record 23: expected a real number, found \"Beams\""},
        {input_file({{6, "2.5"}}),
         "Error reading \"./cu.in\", record 6: expected an integer, found \"2.5\""},
        {input_file({{10, "abc"}}),
         "Error reading \"./cu.in\", record 10: expected a real number, found \"abc\""},
        {truncated, "Error reading \"./cu.in\": the file ends after record 27, before an integer "
                    "could be read"},
    };
    for (const auto& [file, want] : cases) EXPECT_EQ(InputRun(file).stop().at(0), want);
    // g not perpendicular to the zone axis: where g was read, both vectors and their product.
    EXPECT_EQ(InputRun(input_file({{20, "1 1 1"}, {22, "1 1 1"}})).stop(),
              (Lines{"SAMPLE COORDINATES SYSTEM GIVEN WRONG!",
                     "Error reading \"./cu.in\", record 22: the diffraction vector h k l must be "
                     "perpendicular to the zone axis u v w (zone . g = 0)",
                     "Read: zone 1.0 1.0 1.0, g 1.0 1.0 1.0, zone . g = 3.0"}));
    // Surplus numbers on a value record are named (a decimal comma splits a value); labels
    // after the values and on label records are no surplus. The crystal's record is kept for
    // the crystal table's message.
    InputRun surplus(input_file({{3, "Crystal 1 2 3"}, {20, "0,0 1 5.5 zone axis"}, {26, "1.0"}}));
    std::ostringstream out;
    surplus.st.out = &out;
    surplus.read();
    EXPECT_EQ(out.str(), " * WARNING: \"./cu.in\", record 20 holds more numbers than are read; "
                         "ignored: 5.5 (a comma separates values: write decimals with a point)\n");
    EXPECT_EQ(surplus.st.sample_source, "Error reading \"./cu.in\", record 4");
    // Sizes giving no column or slice, or more than an int can count.
    for (const std::string bad : {"0.4", "0", "-20", "1e12"})
        for (const int rec : {14, 16, 18})
            EXPECT_TRUE(contains(InputRun(input_file({{rec, bad}})).stop().at(0),
                                 rec == 18 ? "foil thickness" : "image width"));

    // Values the models cannot use are refused at their record, with the value as read.
    const std::pair<int, std::string> invalid[] = {
        {22, "0 0 0"},
        {20, "0 0 0"},
        {22, "2.5 0 0"},
        {24, "1 3"},
        {24, "-3 -1"},
        {28, "2"},
        {28, "-1"},
        {14, "1e300"},
        {26, "1e9"},
        {20, "1e308 0 1"},
        // jobs other than 1, 2, 3, 9, 999; rows of one beam, or whose ends a slash or a null
        // value would leave unread
        {6, "-1"},
        {6, "0"},
        {6, "7"},
        {24, "0 0"},
        {24, "/"},
        {24, "-1,,3"}};
    for (const auto& [rec, value] : invalid) {
        const Lines l = InputRun(input_file({{rec, value}})).stop();
        EXPECT_TRUE(l.size() == 2 && l[1].starts_with("Read: ") &&
                    l[0].starts_with("Error reading \"./cu.in\", record " + std::to_string(rec)))
            << value;
    }

    // The memory guard: columns x beams up to 62,500,000 pass, one more (or a product beyond 32
    // bits) is refused, and so is a thickness whose slice tables alone would not fit.
    State guard;
    guard.size_x = guard.size_y = guard.size_z = 1.0;
    std::tie(guard.n_pixel_x, guard.n_pixel_y, guard.n_beams) = std::tuple(2500, 2500, 10);
    EXPECT_NO_THROW(check_grid(guard));
    // Both guards keep their first line and add the numbers and the run's length.
    guard.n_slice = 10;
    for (const auto& [nx, ny] : {std::pair(62'500'001, 1), {100000, 100000}}) {
        std::tie(guard.n_pixel_x, guard.n_pixel_y, guard.n_beams) = std::tuple(nx, ny, 1);
        const Lines l = stop_lines([&] { check_grid(guard); });
        EXPECT_TRUE(l.size() == 3 && l[0] == big && contains(l[1], " values per array") &&
                    l[2].starts_with("This run: about "))
            << l.at(0);
    }
    std::tie(guard.n_pixel_x, guard.n_pixel_y, guard.n_beams, guard.n_slice) =
        std::tuple(64, 64, 5, 200'000'000);
    guard.size_z = 2e8;
    EXPECT_TRUE(contains(stop_lines([&] { check_grid(guard); }).at(1), "200000000 slices"));
    std::tie(guard.n_pixel_x, guard.n_pixel_y, guard.n_beams, guard.n_slice) =
        std::tuple(1024, 1024, 10, 2000);
    guard.engine = Engine::table;
    EXPECT_EQ(run_length_text(guard),
              "about 2.1E+09 column-slices: roughly 5.8 hours of one core's time with the table "
              "engine");

    // A record without end (a device, a binary file) stops at the cap naming the file and the
    // record, as the input, as a configuration file and as "filesystem.ini".
    const std::string endless = "label\n" + std::string(kMaxRecordBytes + 1, 'x');
    RecordReader capped("cfg", endless);
    EXPECT_THROW(capped.skip(2), RecordTooLong);
    EXPECT_TRUE(contains(stop_lines([&] { InputRun(endless).read(); }).at(0),
                         "\"./cu.in\", record 2: the record is longer than 16 MB"));
    ScratchDir zdir;
    std::filesystem::create_symlink("/dev/zero", zdir.path() / "filesystem.ini");
    State zst;
    EXPECT_EQ(stop_lines([&] { read_filesystem_ini(zst, zdir.str() + "filesystem.ini"); }).at(0),
              "Error reading \"" + zdir.str() +
                  "filesystem.ini\", record 1: the record is longer than 16 MB (a file "
                  "without line ends?)");

    // Seven records; the root (record 3) prefixes the other four, kept whole at any length; a
    // missing or short file gives "./" everywhere, even for directories read before its end.
    const std::string long_root = "/" + std::string(90, 'r') + "/";
    const std::pair<std::string, std::array<std::string, 5>> dirs[] = {
        {"a\nb\n'/data/run1/'  root\n'sys/'\n'in/'\n'rec/' x\n'out/'\n",
         {"/data/run1/", "/data/run1/sys/", "/data/run1/in/", "/data/run1/rec/",
          "/data/run1/out/"}},
        {"a\nb\n''\n'sys/'\n'./'\n'rec/'\n'out/'\n", {"", "sys/", "./", "rec/", "out/"}},
        {"a\nb\n'/root/'\n'sys/'\n'in/'\n", {"", "./", "./", "./", "./"}},
        {"", {"", "./", "./", "./", "./"}}, // no file at all
        {"a\nb\n'" + long_root + "'\n'system-directory/'\n'./'\n'./'\n'./'\n",
         {long_root, long_root + "system-directory/", long_root + "./", long_root + "./",
          long_root + "./"}},
    };
    for (const auto& [ini, want] : dirs) {
        ScratchDir fdir;
        if (!ini.empty()) fdir.write("filesystem.ini", ini);
        State fst;
        fst.homedir = "old/";
        read_filesystem_ini(fst, fdir.str() + "filesystem.ini");
        EXPECT_EQ((std::array{fst.homedir, fst.sysdir, fst.rundir, fst.simrecdir, fst.datadir}),
                  want)
            << ini;
    }
    // A directory longer than a path can be is refused, not shortened.
    ScratchDir fdir;
    fdir.write("fs.ini", "a\nb\n''\n'./'\n'./'\n'./'\n'" + std::string(5000, 'd') + "/'\n");
    State fst;
    EXPECT_TRUE(contains(stop_lines([&] { read_filesystem_ini(fst, fdir.str() + "fs.ini"); }).at(0),
                         "fs.ini\", record 7: the directory is longer"));
}

// The list-directed record rules: separators, skipped rest of record, continuation over short
// and blank records, null values (which leave the variable alone), slash, repeat counts,
// quoting and the number forms.
TEST(RecordReader, ListDirectedRulesErrorsPrintedFieldsAndFiles) {
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
    EXPECT_EQ(read1("+1.5,-.5/ 9\n", 0.0, 0.0, 7.0), std::tuple(1.5, -0.5, 7.0));
    EXPECT_EQ(read1("1e-400 2*-3E1\n", 1.0, 0.0, 0.0), std::tuple(0.0, -30.0, -30.0));
    for (const char* bad : {"nan\n", "-inf\n", "1e999\n", "1e\n", "-\n", "2.5x\n"})
        EXPECT_THROW(read1(bad, 0.0), ReadError) << bad;
    for (const char* bad : {"2.5", "3000000000"}) EXPECT_FALSE(parse_fortran_int(bad)) << bad;
    for (const char* bad : {"abc", "1e", ".", "1e999"})
        EXPECT_FALSE(parse_fortran_real(bad)) << bad;

    // Numbers left on the last record of a numeric read are noted, once per record, up to the
    // first word; none after a slash, a text value or without a sink.
    std::vector<std::string> notes;
    RecordReader nr("n.ini", "32.0 0,0 100.0, 7 label 8\nabc 1 2\n1 / 2 3\n1 2\n4 text 5\n");
    nr.collect_notes(notes);
    Vec3 p{};
    std::string word;
    int num = 0;
    nr.read(p), nr.read(word), nr.read(num), nr.read(num), nr.read(num);
    EXPECT_EQ(p, (Vec3{32.0, 0.0, 0.0}));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], " * WARNING: \"n.ini\", record 1 holds more numbers than are read; "
                        "ignored: 100.0 7 (a comma separates values: write decimals with a point)");
    EXPECT_EQ(notes[1], " * WARNING: \"n.ini\", record 4 holds more numbers than are read; "
                        "ignored: 2");

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
        EXPECT_EQ(stop_lines([&, &read = read] { read(rd); }), Lines{message});
    }

    ScratchDir dir;
    const std::string path = dir.str() + "absent.in";
    EXPECT_FALSE(RecordReader::exists(path));
    EXPECT_TRUE(contains(stop_lines([&] { RecordReader missing(path); }).at(0), '"' + path + '"'));
    EXPECT_EQ(stop_lines([&] { RecordReader folder(dir.str()); }),
              Lines{"Error opening \"" + dir.str() + "\" for reading: Is a directory"});

    // Printed fields: widths, overflow stars, negative zero, the optional leading zero, three-digit
    // exponents and the shortest list form of reals.
    const std::pair<std::string, std::string> fields[] = {
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
        {list_real(-1234567890.0) + " " + list_real(1e10) + " " + list_real(-0.5) + " " +
             list_real(1e-4),
         "-1234567890.0 1E+10 -0.5 0.0001"},
    };
    for (const auto& [got, want] : fields) EXPECT_EQ(got, want);

    // The image files' fast path against the C library's "%.3E" and "%.10G" over random values
    // of every magnitude, decimal ties (k + 1/2) 10^-4, values at the rounding boundary, and
    // powers of ten with their neighbours (where a decimal exponent changes).
    std::mt19937_64 frng(7);
    for (int k = 0; k < 61803; ++k) {
        const double ten = std::pow(10.0, (k - 60000) / 3 - 300);
        const double val =
            k < 20000   ? (k + 0.5) * 1e-4 * (k % 2 ? -1 : 1)
            : k < 40000 ? std::ldexp(std::uniform_real_distribution<>(-1, 1)(frng), k % 800 - 400)
            : k < 60000 ? std::nextafter(9.9995 * std::pow(10.0, k % 40 - 20), 0.0)
                        : std::nextafter(ten, k % 3 == 0   ? 0.0
                                              : k % 3 == 1 ? ten
                                                           : HUGE_VAL);
        char es[64], g[64];
        std::snprintf(es, sizeof es, "%.3E", val);
        std::snprintf(g, sizeof g, "%.10G", val);
        std::string want_es = es, want_g = g;
        const auto e = want_es.find('E');
        if (std::abs(std::atoi(want_es.c_str() + e + 1)) > 99) want_es.erase(e, 1);
        if (want_g.find_first_of(".E") == std::string::npos) want_g += ".0";
        want_es = std::string(want_es.size() < 12 ? 12 - want_es.size() : 0, ' ') + want_es;
        ASSERT_EQ(std::pair(fmt_es(val, 12, 3), list_real(val)), std::pair(want_es, want_g)) << val;
        char es7[64]; // and to seven places
        std::snprintf(es7, sizeof es7, "%.7E", val);
        std::string want7 = es7;
        if (const auto e7 = want7.find('E'); std::abs(std::atoi(want7.c_str() + e7 + 1)) > 99)
            want7.erase(e7, 1);
        ASSERT_EQ(fmt_es(val, static_cast<int>(want7.size()), 7), want7) << val;
    }

    // Whole files replace the old one without leaving the temporary; records are on disk as soon
    // as written; unwritable paths stop the run naming the file.
    ScratchDir tdir;
    write_text_file(tdir.str() + "a.slice", "one\ntwo\n");
    write_text_file(tdir.str() + "a.slice", "new\n");
    EXPECT_EQ(tdir.read("a.slice"), "new\n"); // no temporary left: see the names below
    const std::string tbad = tdir.str() + "missing/dir/x.txt";
    EXPECT_TRUE(contains(stop_lines([&] { write_text_file(tbad, "x"); }).at(0), tbad));

    append_text_file(tdir.str() + "record.sim", "a\n");
    append_text_file(tdir.str() + "record.sim", "b\n");
    EXPECT_EQ(tdir.read("record.sim"), "a\nb\n");

    // A record file appears whole at close; one left open (a stopped run) leaves nothing.
    RecordFile(tdir.str() + "stopped.imi").line(" exit");
    RecordFile rec_file(tdir.str() + "run.imi");
    rec_file.line(list_record({"width", "3"}));
    EXPECT_FALSE(tdir.exists("run.imi"));
    rec_file.line(list_record({}));
    rec_file.close();
    // No temporary file, and nothing of the stopped one.
    EXPECT_EQ(tdir.names(),
              (std::set<std::string>{"a.slice", "record.sim", "record.sim.lock", "run.imi"}));
    EXPECT_THROW(rec_file.line("x"), Fatal);
    EXPECT_EQ(tdir.read("run.imi"), " width 3\n \n");
    EXPECT_THROW(RecordFile(tdir.str() + "no/such/dir.imi"), Fatal);
}
