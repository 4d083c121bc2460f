// Building free-format records: text items as they are, numbers in the program's free format;
// two numbers in a row are separated by one blank. `list()` gives the record as written in
// list style (one leading blank).
#pragma once

#include "state/fmt.hpp"

#include <string>

namespace korvex {

class Rec {
  public:
    Rec() = default;
    explicit Rec(const std::string& text) { *this << text; }
    Rec& operator<<(const std::string& text) {
        s_ += text;
        last_number_ = false;
        return *this;
    }
    Rec& operator<<(const char* text) { return *this << std::string(text); }
    Rec& operator<<(double v) { return number(list_real(v)); }
    Rec& operator<<(int v) { return number(list_int(v)); }
    Rec& operator<<(long long v) { return number(list_int(v)); }
    // The record's text without the list-style blank.
    const std::string& str() const { return s_; }
    // The record as a list-style line.
    std::string list() const { return " " + s_; }

  private:
    Rec& number(const std::string& t) {
        if (last_number_) s_ += ' ';
        s_ += t;
        last_number_ = true;
        return *this;
    }
    std::string s_;
    bool last_number_ = false;
};

} // namespace korvex
