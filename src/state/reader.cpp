#include "state/reader.hpp"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <sys/stat.h>

namespace korvex {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

std::optional<int> parse_fortran_int(std::string_view s) {
    std::string_view d = s;
    bool neg = false;
    if (!d.empty() && (d[0] == '+' || d[0] == '-')) {
        neg = d[0] == '-';
        d.remove_prefix(1);
    }
    if (!all_digits(d)) return std::nullopt;
    long long v = 0;
    for (char c : d) {
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
    }
    if (neg) v = -v;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(v);
}

std::optional<double> parse_fortran_real(std::string_view s) {
    // [sign] (digits [. [digits]] | . digits) [(E|D|Q) [sign] digits]
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t mant_digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++mant_digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++mant_digits;
    }
    if (mant_digits == 0) return std::nullopt;
    std::size_t exp_at = std::string_view::npos;
    if (i < s.size()) {
        const char e = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
        if (e != 'E' && e != 'D' && e != 'Q') return std::nullopt;
        exp_at = i++;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!all_digits(s.substr(i))) return std::nullopt;
    }
    // from_chars takes no leading '+' and only 'e' / 'E' exponents: normalise on the stack.
    char buf[128];
    if (s.size() >= sizeof buf) return std::nullopt;
    std::size_t n = 0;
    for (std::size_t k = (s[0] == '+') ? 1 : 0; k < s.size(); ++k)
        buf[n++] = (k == exp_at) ? 'e' : s[k];
    double v = 0.0;
    const auto [end, ec] = std::from_chars(buf, buf + n, v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range && end == buf + n) {
        // Underflow reads as zero (or the nearest subnormal); overflow is an error.
        buf[n] = '\0';
        v = std::strtod(buf, nullptr);
        if (std::isinf(v)) return std::nullopt;
        return v;
    }
    if (ec != std::errc() || end != buf + n) return std::nullopt;
    return v;
}

RecordReader::RecordReader(const std::string& path) : name_(path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        throw ReadError("Error opening \"" + path + "\" for reading: " + std::strerror(EISDIR));
    errno = 0;
    auto f = std::make_unique<std::ifstream>(path);
    if (!f->is_open()) {
        const int err = errno;
        throw ReadError("Error opening \"" + path + "\" for reading: " +
                        (err ? std::string(std::strerror(err)) : std::string("cannot open")));
    }
    in_ = std::move(f);
}

RecordReader::RecordReader(std::string name, std::string text)
    : name_(std::move(name)), in_(std::make_unique<std::istringstream>(std::move(text))) {}

RecordReader::~RecordReader() = default;

bool RecordReader::exists(const std::string& path) {
    std::ifstream f(path);
    return f.is_open();
}

bool RecordReader::next_line(std::string& line) {
    // A record is read in pieces, so that a file without line ends (a device, a binary file
    // given by mistake) stops at the cap instead of filling the memory.
    line.clear();
    char piece[16384];
    for (;;) {
        in_->getline(piece, sizeof piece);
        const auto got = static_cast<std::size_t>(in_->gcount());
        if (!in_->fail()) { // the record ended, by its line end (counted) or the end of file
            line.append(piece, in_->eof() ? got : got - 1);
            break;
        }
        if (in_->eof() || in_->bad()) { // nothing more: a record only if a piece came before
            if (line.empty() && got == 0) return false;
            line.append(piece, got);
            break;
        }
        line.append(piece, got); // a full piece: the record goes on
        in_->clear();
        if (line.size() > max_record_) break;
    }
    if (line.size() > max_record_)
        throw RecordTooLong("Error reading \"" + name_ + "\", record " +
                            std::to_string(record_no_ + 1) + ": the record is longer than " +
                            std::to_string(max_record_ >> 20) + " MB (a file without line ends?)");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++record_no_;
    return true;
}

bool RecordReader::at_end() {
    return in_->peek() == std::char_traits<char>::eof();
}

std::optional<std::string> RecordReader::next_record() {
    std::string line;
    if (!next_line(line)) return std::nullopt;
    return line;
}

void RecordReader::skip(int count) {
    std::string line;
    for (int c = 0; c < count; ++c) {
        if (!next_line(line))
            throw ReadError("Error reading \"" + name_ + "\": the file ends after record " +
                            std::to_string(record_no_) + ", but a further record is needed");
    }
}

void RecordReader::begin_statement() {
    last_numeric_ = false;
    in_statement_ = true;
    line_open_ = false;
    stopped_ = false;
    after_value_ = false;
    repeat_left_ = 0;
}

void RecordReader::note_surplus() {
    std::string ignored;
    std::size_t p = pos_;
    bool first = true;
    for (;;) {
        while (p < line_.size() && is_blank(line_[p])) ++p;
        // One comma may still separate the last value read from the next.
        if (first && p < line_.size() && line_[p] == ',') {
            ++p;
            while (p < line_.size() && is_blank(line_[p])) ++p;
        }
        first = false;
        const std::size_t start = p;
        while (p < line_.size() && !is_blank(line_[p]) && line_[p] != ',' && line_[p] != '/') ++p;
        const std::string_view tok = std::string_view(line_).substr(start, p - start);
        if (tok.empty() || !parse_fortran_real(tok)) break;
        ignored += (ignored.empty() ? "" : " ") + std::string(tok);
        if (p < line_.size() && line_[p] == ',') ++p;
    }
    if (ignored.empty()) return;
    std::string note = " * WARNING: \"" + name_ + "\", record " + std::to_string(record_no_) +
                       " holds more numbers than are read; ignored: " + ignored;
    if (line_.find(',') != std::string::npos)
        note += " (a comma separates values: write decimals with a point)";
    notes_->push_back(std::move(note));
}

void RecordReader::end_statement() {
    if (notes_ && last_numeric_ && line_open_ && !stopped_ && repeat_left_ == 0) note_surplus();
    last_numeric_ = false;
    in_statement_ = false;
    one_record_ = false;
    line_open_ = false;
    stopped_ = false;
    repeat_left_ = 0;
}

std::optional<RecordReader::Token> RecordReader::next_token(const char* expected) {
    for (;;) {
        if (repeat_left_ > 0) {
            --repeat_left_;
            return repeat_;
        }
        if (stopped_) return std::nullopt;
        if (!line_open_) {
            if (!next_line(line_))
                throw ReadError("Error reading \"" + name_ + "\": the file ends after record " +
                                std::to_string(record_no_) + ", before " + expected +
                                " could be read");
            pos_ = 0;
            line_open_ = true;
            // The end of a record acts as a blank: a comma opening the next record still
            // belongs to the separator after the last value, so it is no null value.
        }
        while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
        if (pos_ >= line_.size()) {
            if (one_record_)
                throw ReadError("Error reading \"" + name_ + "\", record " +
                                std::to_string(record_no_) + ": expected " + expected +
                                ", but the record ends");
            line_open_ = false;
            continue;
        }
        const char c = line_[pos_];
        if (c == ',') {
            ++pos_;
            if (after_value_) {
                after_value_ = false;
                continue;
            }
            return Token{Token::Null, {}, false};
        }
        if (c == '/') {
            stopped_ = true;
            return std::nullopt;
        }
        // Repeat count: n*value or n* (n nulls); the value may be quoted.
        int reps = 1;
        bool counted = false;
        {
            std::size_t q = pos_;
            while (q < line_.size() && std::isdigit(static_cast<unsigned char>(line_[q]))) ++q;
            if (q > pos_ && q < line_.size() && line_[q] == '*') {
                const auto r = parse_fortran_int(std::string_view(line_).substr(pos_, q - pos_));
                if (r && *r > 0) {
                    reps = *r;
                    counted = true;
                    pos_ = q + 1;
                }
            }
        }
        Token tok;
        const char v = pos_ < line_.size() ? line_[pos_] : ' ';
        if (counted && (is_blank(v) || v == ',' || v == '/')) tok.kind = Token::Null;
        if (tok.kind == Token::Null) {
            // n* stands for n null values
        } else if (v == '\'' || v == '"') {
            tok.quoted = true;
            ++pos_;
            while (pos_ < line_.size()) {
                if (line_[pos_] == v) {
                    if (pos_ + 1 < line_.size() && line_[pos_ + 1] == v) {
                        tok.text += v;
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                tok.text += line_[pos_++];
            }
        } else {
            const std::size_t start = pos_;
            while (pos_ < line_.size() && !is_blank(line_[pos_]) && line_[pos_] != ',' &&
                   line_[pos_] != '/')
                ++pos_;
            tok.text = line_.substr(start, pos_ - start);
        }
        if (reps > 1) {
            repeat_ = tok;
            repeat_left_ = reps - 1;
        }
        after_value_ = true;
        return tok;
    }
}

void RecordReader::fail_type(const char* expected, const std::string& found) const {
    throw ReadError("Error reading \"" + name_ + "\", record " + std::to_string(record_no_) +
                    ": expected " + expected + ", found \"" + found + "\"");
}

void RecordReader::item(int& v) {
    auto t = next_token("an integer");
    if (!t || t->kind == Token::Null) return;
    auto p = t->quoted ? std::nullopt : parse_fortran_int(t->text);
    if (!p) fail_type("an integer", t->text);
    v = *p;
    last_numeric_ = true;
}

bool RecordReader::plain_real(double& v) {
    if (repeat_left_ > 0 || stopped_ || !line_open_) return false;
    std::size_t p = pos_;
    while (p < line_.size() && is_blank(line_[p])) ++p;
    const char* b = line_.data() + p;
    const char* e = line_.data() + line_.size();
    // A sign must lead to a digit or a point: "-inf" and "nan" are no Fortran reals.
    const char* m = b < e && *b == '-' ? b + 1 : b;
    if (m >= e || !(std::isdigit(static_cast<unsigned char>(*m)) || *m == '.')) return false;
    double x = 0.0;
    const auto [end, ec] = std::from_chars(b, e, x, std::chars_format::general);
    if (ec != std::errc() || (end < e && !is_blank(*end) && *end != ',' && *end != '/'))
        return false;
    v = x;
    pos_ = static_cast<std::size_t>(end - line_.data());
    after_value_ = true;
    last_numeric_ = true;
    return true;
}

void RecordReader::item(double& v) {
    // Most values of a long record are plain decimals: read them in place, and leave repeat
    // counts, D exponents, signs and out-of-range values to the token rules below.
    if (plain_real(v)) return;
    auto t = next_token("a real number");
    if (!t || t->kind == Token::Null) return;
    auto p = t->quoted ? std::nullopt : parse_fortran_real(t->text);
    if (!p) fail_type("a real number", t->text);
    v = *p;
    last_numeric_ = true;
}

void RecordReader::item(float& v) {
    double d = v;
    item(d);
    v = static_cast<float>(d);
}

void RecordReader::item(std::string& v) {
    auto t = next_token("a text value");
    last_numeric_ = false;
    if (!t || t->kind == Token::Null) return;
    v = t->text;
}

} // namespace korvex
