#include "state/snapshot.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace korvex {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 22;

bool starts_with(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

std::string_view trim_view(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool to_double(std::string_view s, double& v) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool to_int(std::string_view s, std::int64_t& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

} // namespace

void split_words(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t b = i;
        while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > b) out.push_back(line.substr(b, i - b));
    }
}

LineSource::LineSource(const std::string& path) : path_(path), buf_(kBlock) {
    fp_ = std::fopen(path.c_str(), "rb");
    if (!fp_) throw ReadError("Cannot open \"" + path + "\": " + std::strerror(errno));
}

LineSource::~LineSource() {
    if (fp_) std::fclose(fp_);
}

void LineSource::fail(const std::string& what) const {
    fail_at(line_, what);
}

void LineSource::fail_at(long line, const std::string& what) const {
    throw ReadError("Error reading \"" + path_ + "\", line " + std::to_string(line) + ": " + what);
}

bool LineSource::next(std::string_view& line) {
    for (;;) {
        const char* b = buf_.data() + begin_;
        const void* nl = std::memchr(b, '\n', end_ - begin_);
        if (nl) {
            const std::size_t len = static_cast<std::size_t>(static_cast<const char*>(nl) - b);
            line = std::string_view(b, len);
            begin_ += len + 1;
            ++line_;
            return true;
        }
        if (eof_) {
            if (begin_ == end_) return false;
            line = std::string_view(b, end_ - begin_); // a last line without its end
            begin_ = end_;
            ++line_;
            return true;
        }
        // Keep the unfinished line, make room and read more.
        std::memmove(buf_.data(), b, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
        const std::size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, fp_);
        if (got == 0) {
            if (std::ferror(fp_)) fail(std::string("read failed: ") + std::strerror(errno));
            eof_ = true;
        }
        end_ += got;
    }
}

SnapshotReader::SnapshotReader(const std::string& path) : src_(path) {
    std::string_view first;
    if (!src_.next(first)) src_.fail("the file is empty");
    const std::string_view t = trim_view(first);
    std::int64_t n = 0;
    if (starts_with(t, "ITEM:")) {
        lammps_ = true;
        if (t != "ITEM: TIMESTEP")
            src_.fail("a LAMMPS dump starts with \"ITEM: TIMESTEP\", found \"" + std::string(t) +
                      "\"");
        read_lammps_header();
    } else if (to_int(t, n)) {
        read_xyz_header(t);
    } else {
        src_.fail("unknown layout: neither a LAMMPS dump (\"ITEM: TIMESTEP\") nor an extended "
                  "XYZ file (the atom count)");
    }
}

void SnapshotReader::read_lammps_header() {
    std::string_view line;
    auto need = [&](const char* what) {
        if (!src_.next(line)) src_.fail(std::string("the file ends before ") + what);
        return trim_view(line);
    };
    need("the timestep");
    bool have_count = false, have_box = false;
    for (;;) {
        const std::string_view item = need("the ATOMS section");
        if (!starts_with(item, "ITEM:")) continue; // the lines of a section not read here
        if (item == "ITEM: NUMBER OF ATOMS") {
            const std::string_view v = need("the atom count");
            if (!to_int(v, count_) || count_ < 0)
                src_.fail("the atom count is not a whole number: \"" + std::string(v) + "\"");
            count_line_ = src_.line();
            have_count = true;
        } else if (starts_with(item, "ITEM: BOX BOUNDS")) {
            split_words(item.substr(16), tok_);
            const bool tri = !tok_.empty() && tok_[0] == "xy";
            const std::size_t flags = tri ? 3 : 0;
            for (std::size_t a = 0; a < 3; ++a)
                box_.periodic[a] = tok_.size() < flags + 3 || tok_[flags + a] == "pp";
            double lo[3], hi[3], tilt[3] = {0, 0, 0};
            for (int a = 0; a < 3; ++a) {
                split_words(need("the box bounds"), tok_);
                if (tok_.size() < (tri ? 3u : 2u) || !to_double(tok_[0], lo[a]) ||
                    !to_double(tok_[1], hi[a]) || (tri && !to_double(tok_[2], tilt[a])))
                    src_.fail(std::string("expected the box bounds along ") + "xyz"[a] +
                              (tri ? " and a tilt factor" : ""));
            }
            box_.line = src_.line() - 2;
            // Triclinic bounds enclose the tilted cell: take the tilt back out.
            const double xy = tilt[0], xz = tilt[1], yz = tilt[2];
            lo[0] -= std::min({0.0, xy, xz, xy + xz});
            hi[0] -= std::max({0.0, xy, xz, xy + xz});
            lo[1] -= std::min(0.0, yz);
            hi[1] -= std::max(0.0, yz);
            box_.origin = {lo[0], lo[1], lo[2]};
            box_.edge = {Vec3{hi[0] - lo[0], 0, 0}, Vec3{xy, hi[1] - lo[1], 0},
                         Vec3{xz, yz, hi[2] - lo[2]}};
            for (int a = 0; a < 3; ++a)
                if (!(hi[a] > lo[a])) src_.fail_at(box_.line + a, "the box has no extent");
            have_box = true;
        } else if (starts_with(item, "ITEM: ATOMS")) {
            break;
        }
    }
    if (!have_count) src_.fail("no NUMBER OF ATOMS section before the atoms");
    if (!have_box) src_.fail("no BOX BOUNDS section before the atoms");

    std::vector<std::string_view> names;
    split_words(trim_view(line).substr(11), names);
    n_cols_ = names.size();
    for (std::size_t a = 0; a < n_cols_; ++a)
        for (std::size_t b = 0; b < a; ++b)
            if (names[a] == names[b])
                src_.fail("the ATOMS columns name \"" + std::string(names[a]) +
                          "\" twice (columns " + std::to_string(b + 1) + " and " +
                          std::to_string(a + 1) + ")");
    auto find = [&](std::string_view n) {
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), n) - names.begin());
    };
    id_col_ = find("id");
    has_id_ = id_col_ < n_cols_;
    if (!has_id_) src_.fail("unknown column layout: the ATOMS columns hold no \"id\"");
    static const char* const kSets[][3] = {
        {"x", "y", "z"}, {"xu", "yu", "zu"}, {"xs", "ys", "zs"}, {"xsu", "ysu", "zsu"}};
    for (int s = 0; s < 4; ++s) {
        for (std::size_t a = 0; a < 3; ++a) pos_col_[a] = find(kSets[s][a]);
        if (pos_col_[0] < n_cols_ && pos_col_[1] < n_cols_ && pos_col_[2] < n_cols_) {
            scaled_ = s >= 2;
            return;
        }
    }
    src_.fail("unknown column layout: the ATOMS columns hold none of x y z, xu yu zu, xs ys zs, "
              "xsu ysu zsu");
}

void SnapshotReader::read_xyz_header(std::string_view first) {
    std::int64_t n = 0;
    to_int(first, n);
    if (n < 0) src_.fail("the atom count is negative");
    count_ = n;
    count_line_ = src_.line();
    std::string_view line;
    if (!src_.next(line)) src_.fail("the file ends before the comment line");
    // key=value pairs; a value may be quoted.
    std::string lattice, properties = "species:S:1:pos:R:3", pbc = "T T T", origin = "0 0 0";
    bool have_lattice = false;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t k = i;
        while (i < line.size() && line[i] != '=' && line[i] != ' ' && line[i] != '\t') ++i;
        std::string key(line.substr(k, i - k)), value;
        if (i < line.size() && line[i] == '=') {
            ++i;
            if (i < line.size() && line[i] == '"') {
                const std::size_t e = line.find('"', i + 1);
                if (e == std::string_view::npos) src_.fail("a quote of " + key + " is not closed");
                value = line.substr(i + 1, e - i - 1);
                i = e + 1;
            } else {
                const std::size_t b = i;
                while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
                value = line.substr(b, i - b);
            }
        }
        std::transform(key.begin(), key.end(), key.begin(), ::tolower);
        if (key == "lattice") lattice = value, have_lattice = true;
        if (key == "properties") properties = value;
        if (key == "pbc") pbc = value;
        if (key == "origin") origin = value;
    }
    box_.line = src_.line();
    std::vector<double> v;
    auto numbers = [&](const std::string& s, std::size_t want, const char* key) {
        split_words(s, tok_);
        v.assign(want, 0.0);
        if (tok_.size() != want)
            src_.fail(std::string(key) + " needs " + std::to_string(want) + " numbers, found \"" +
                      s + "\"");
        for (std::size_t j = 0; j < want; ++j)
            if (!to_double(tok_[j], v[j]))
                src_.fail(std::string(key) + " holds \"" + std::string(tok_[j]) +
                          "\", not a number");
    };
    if (!have_lattice) src_.fail("no Lattice=\"...\" (the periodic cell) on the comment line");
    numbers(lattice, 9, "Lattice");
    for (std::size_t a = 0; a < 3; ++a) box_.edge[a] = {v[3 * a], v[3 * a + 1], v[3 * a + 2]};
    numbers(origin, 3, "Origin");
    box_.origin = {v[0], v[1], v[2]};
    split_words(pbc, tok_);
    if (tok_.size() != 3) src_.fail("pbc needs three flags, found \"" + pbc + "\"");
    for (std::size_t a = 0; a < 3; ++a) box_.periodic[a] = tok_[a] == "T" || tok_[a] == "True";

    // Properties: name:type:columns triples.
    std::vector<std::string> f;
    for (std::size_t b = 0;;) {
        const std::size_t e = properties.find(':', b);
        f.push_back(properties.substr(b, e == std::string::npos ? e : e - b));
        if (e == std::string::npos) break;
        b = e + 1;
    }
    if (f.size() % 3 != 0) src_.fail("Properties is not a list of name:type:columns");
    bool have_pos = false;
    for (std::size_t p = 0; p < f.size(); p += 3)
        for (std::size_t q = 0; q < p; q += 3)
            if (f[p] == f[q]) src_.fail("Properties names \"" + f[p] + "\" twice");
    for (std::size_t p = 0; p < f.size(); p += 3) {
        std::int64_t cols = 0;
        if (!to_int(f[p + 2], cols) || cols < 1)
            src_.fail("Properties gives \"" + f[p + 2] + "\" columns for " + f[p]);
        if (f[p] == "pos" && cols == 3)
            for (std::size_t a = 0; a < 3; ++a) pos_col_[a] = n_cols_ + a, have_pos = true;
        if (f[p] == "id" && cols == 1) id_col_ = n_cols_, has_id_ = true;
        n_cols_ += static_cast<std::size_t>(cols);
    }
    if (!have_pos) src_.fail("unknown column layout: Properties holds no pos:R:3");
}

void SnapshotReader::parse_atom(std::string_view line, SnapshotAtom& a) {
    split_words(line, tok_);
    if (tok_.size() < n_cols_)
        src_.fail("expected " + std::to_string(n_cols_) + " values for atom " +
                  std::to_string(done_ + 1) + " of " + std::to_string(count_) + ", found " +
                  std::to_string(tok_.size()));
    if (has_id_) {
        if (!to_int(tok_[id_col_], a.id))
            src_.fail("the atom id \"" + std::string(tok_[id_col_]) + "\" is not a whole number");
    } else {
        a.id = done_ + 1;
    }
    Vec3 p;
    for (std::size_t k = 0; k < 3; ++k)
        if (!to_double(tok_[pos_col_[k]], p[k]))
            src_.fail("the coordinate \"" + std::string(tok_[pos_col_[k]]) +
                      "\" is not a finite number");
    a.line = src_.line();
    if (!scaled_) {
        a.r = p;
        return;
    }
    for (std::size_t k = 0; k < 3; ++k)
        a.r[k] = box_.origin[k] + p[0] * box_.edge[0][k] + p[1] * box_.edge[1][k] +
                 p[2] * box_.edge[2][k];
}

std::size_t SnapshotReader::next(std::vector<SnapshotAtom>& out, std::size_t max) {
    out.clear();
    std::string_view line;
    while (out.size() < max && done_ < count_) {
        if (!src_.next(line))
            src_.fail("the file ends after " + std::to_string(done_) + " of " +
                      std::to_string(count_) + " atoms (count on line " +
                      std::to_string(count_line_) + ")");
        out.emplace_back();
        parse_atom(line, out.back());
        ++done_;
    }
    return out.size();
}

} // namespace korvex
