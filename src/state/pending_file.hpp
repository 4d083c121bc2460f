// A binary result file in the making. It is written under a temporary name of its own beside
// the final name (created exclusively, so no other file is ever touched) and renamed over the
// final name only when complete; a failure removes the temporary file and stops the run with a
// message naming the final file, so a reader never sees a partial picture.
#pragma once

#include <string>

namespace korvex {

class PendingFile {
  public:
    // Creates the temporary file; stops the run when the directory does not allow it.
    explicit PendingFile(std::string final_path);
    ~PendingFile(); // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& final_path() const { return final_; }
    const std::string& temp_path() const { return temp_; }
    // The open descriptor of the temporary file; after release() the caller closes it.
    int fd() const { return fd_; }
    int release();
    // Closes the descriptor if still held (a failing close stops the run).
    void close();
    // Renames the finished file to its final name.
    void commit();
    // Removes the temporary file and stops the run: Error writing "<final>": <why>.
    [[noreturn]] void fail(const std::string& why);

  private:
    std::string final_, temp_;
    int fd_ = -1;
    bool done_ = false;
};

} // namespace korvex
