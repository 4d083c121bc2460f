// Writing text files safely: a file is written whole to a temporary name beside its final name
// and renamed only once every byte is on disk, so a failed write never leaves a file that looks
// complete. Failures stop the run with a message naming the file.
#pragma once

#include "state/pending_file.hpp"

#include <memory>
#include <string>
#include <vector>

namespace korvex {

void write_text_file(const std::string& path, const std::string& content);
// The same, the content given in parts written one after the other.
void write_text_file(const std::string& path, const std::vector<std::string>& parts);
// Written whole under the temporary name, for the caller to commit (it may be made on any
// thread; dropped uncommitted, it leaves nothing).
std::unique_ptr<PendingFile> written_text_file(const std::string& path,
                                               const std::vector<std::string>& parts);

// Appends to a file (created when missing): the old content and the new are written under a
// temporary name and renamed over the file, so a failed append leaves the file as it was. A
// link under the name is refused. Appends run one at a time under an exclusive lock on the
// file "<path>.lock" beside it (left there), so that runs sharing the file keep every entry.
// Stops the run when that fails.
void append_text_file(const std::string& path, const std::string& content);

// One list-style record: a leading blank, then the items separated by single blanks.
std::string list_record(const std::vector<std::string>& items);

// A file written record by record during the run (run record, report document). It grows
// under a temporary name and appears under its own name at close(); a run that stops before
// (the object destroyed open) leaves neither. Failures stop the run naming the file.
class RecordFile {
  public:
    RecordFile() = default;
    explicit RecordFile(const std::string& path) { open(path); }
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    void open(const std::string& path);
    void line(const std::string& text); // writes text and a newline
    void close();                       // the file under its own name
    bool is_open() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::unique_ptr<PendingFile> file_;
};

} // namespace korvex
