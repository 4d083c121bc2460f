// Writing text files safely: a file is written whole to a temporary name beside its final name
// and renamed only once every byte is on disk, so a failed write never leaves a file that looks
// complete. Failures stop the run with a message naming the file.
#pragma once

#include <string>
#include <vector>

namespace korvex {

void write_text_file(const std::string& path, const std::string& content);

// Appends to a file (created when missing); stops the run when that fails.
void append_text_file(const std::string& path, const std::string& content);

// One list-style record: a leading blank, then the items separated by single blanks.
std::string list_record(const std::vector<std::string>& items);

// A file kept open during the run (run record, report document): each record is written and
// flushed at once. Opening or writing failures stop the run with a message naming the file.
class RecordFile {
  public:
    RecordFile() = default;
    explicit RecordFile(const std::string& path) { open(path); }
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    void open(const std::string& path);
    void line(const std::string& text); // writes text and a newline
    void close();
    bool is_open() const { return fp_ != nullptr; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    void* fp_ = nullptr;
};

} // namespace korvex
