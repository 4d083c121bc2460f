// Record-by-record reading of every text input of the program (the directory file, the input
// parameter file, the defect configuration files, tables and gradient files).
//
// A record is a line. One `read(...)` takes the values it needs starting at the next record,
// continuing on the following records when one holds too few, and skips the rest of the last
// record it used, so labels may follow the values. Values are separated by blanks or commas;
// an unquoted text value ends at a blank, comma or slash; quotes (' or ") delimit text holding
// such characters, a doubled quote standing for one. A slash outside quotes ends the read: the
// values not yet read keep what they held. `n*value` repeats a value and an empty field
// between two commas leaves its value unchanged.
//
// A read whose last value is a number and whose last record holds further numbers after it
// (as "32.0 0,0 100.0" read as three values, where the comma split "0,0" and 100.0 is left
// over) adds a warning to the notes a caller asked for (collect_notes); text after the values,
// such as a label, is no surplus.
//
// Every failure (file missing, end of file before a value, a value that is not of the wanted
// type) throws `ReadError` with one line naming the file, the record, what was expected and the
// text found.
#pragma once

#include "state/error.hpp"

#include <array>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

class ReadError : public Fatal {
  public:
    using Fatal::Fatal;
};

// A record longer than the reader's cap: never a file to pass over as incomplete.
class RecordTooLong : public ReadError {
  public:
    using ReadError::ReadError;
};

// The longest record of an input, configuration or table file: far beyond any record the
// program's files hold, small enough to be held at once.
inline constexpr std::size_t kMaxRecordBytes = std::size_t{16} << 20;

class RecordReader {
  public:
    // Opens a file; throws ReadError when it cannot be opened.
    explicit RecordReader(const std::string& path);
    // Reads from an in-memory text (tests, generated data); `name` appears in messages.
    RecordReader(std::string name, std::string text);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // Discards `count` records; throws ReadError at the end of the file.
    void skip(int count = 1);

    // One list-directed read: int, double, float, std::string, std::array<double|int, N>.
    template <class... Args> void read(Args&... args) {
        begin_statement();
        (item(args), ...);
        end_statement();
    }

    // A read whose values must all stand on one record (files of one value set per line): a
    // record ending early is reported at that record.
    template <class... Args> void read_record(Args&... args) {
        one_record_ = true;
        read(args...);
    }

    // The same read split in parts, for a number of values known only at run time:
    // begin_read(), read_more(v) for each value, end_read().
    void begin_read() { begin_statement(); }
    template <class T> void read_more(T& v) { item(v); }
    void end_read() { end_statement(); }

    // Number of the last record read (1-based; 0 before the first).
    int record() const { return record_no_; }
    const std::string& name() const { return name_; }
    // True when no further record exists.
    bool at_end();
    // The whole text of the next record, outside any read; nullopt at the end of the file.
    std::optional<std::string> next_record();

    // Whether a file can be opened for reading.
    static bool exists(const std::string& path);

    // The longest record accepted (kMaxRecordBytes unless set); a longer one throws ReadError.
    void set_max_record(std::size_t bytes) { max_record_ = bytes; }
    // From now on, warnings about surplus numbers are appended to `sink` (one line each,
    // " * WARNING: ..."); without a sink they are not made.
    void collect_notes(std::vector<std::string>& sink) { notes_ = &sink; }

  private:
    struct Token {
        enum Kind { Value, Null, Slash } kind = Value;
        std::string text;
        bool quoted = false;
    };

    void begin_statement();
    void end_statement();
    bool next_line(std::string& line);
    // The next value token of the current statement; nullopt after a slash.
    std::optional<Token> next_token(const char* expected);
    void item(int& v);
    void item(double& v);
    // A plain decimal number next on the open record, read in place; false (nothing taken)
    // for anything else.
    bool plain_real(double& v);
    void item(float& v);
    void item(std::string& v);
    template <class T, std::size_t N> void item(std::array<T, N>& v) {
        for (auto& e : v) item(e);
    }
    [[noreturn]] void fail_type(const char* expected, const std::string& found) const;
    // The numbers left on the open record after the last value read (see collect_notes).
    void note_surplus();

    std::string name_;
    std::unique_ptr<std::istream> in_;
    std::string line_;
    std::size_t pos_ = 0;
    int record_no_ = 0;
    bool in_statement_ = false;
    bool line_open_ = false;   // a record of the current statement is being consumed
    bool stopped_ = false;     // a slash ended the current statement
    bool after_value_ = false; // a value was just taken on this record (comma rules)
    bool one_record_ = false;  // the current statement may not continue on the next record
    int repeat_left_ = 0;      // pending repetitions of `repeat_` (n*value)
    Token repeat_;
    std::size_t max_record_ = kMaxRecordBytes;
    bool last_numeric_ = false; // the last value taken was a number
    std::vector<std::string>* notes_ = nullptr;
};

// Parses a whole token as a Fortran integer or real; nullopt when it is not one.
std::optional<int> parse_fortran_int(std::string_view s);
std::optional<double> parse_fortran_real(std::string_view s);

} // namespace korvex
