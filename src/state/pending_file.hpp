// A result file in the making. It is written under a temporary name of its own beside the
// final name (created exclusively, so no other file is ever touched) and renamed over the
// final name only when complete; a failure removes the temporary file and stops the run with a
// message naming the final file, so a reader never sees a partial file. A symbolic link under
// the final name is refused, never written through or replaced.
//
// Every temporary file in the making is listed in one process-wide registry, so that a stop
// that cannot unwind (a lost display connection) still removes them all.
#pragma once

#include <string>

namespace korvex {

class PendingFile {
  public:
    // Creates the temporary file; stops the run when the directory does not allow it or a
    // link stands under the final name.
    explicit PendingFile(std::string final_path);
    ~PendingFile(); // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& final_path() const { return final_; }
    const std::string& temp_path() const { return temp_; }
    // The open descriptor of the temporary file; after release() the caller closes it.
    int fd() const { return fd_; }
    int release();
    // Writes all bytes; a failure stops the run naming the final file and the reason.
    void write(const char* data, std::size_t size);
    void write(const std::string& text) { write(text.data(), text.size()); }
    // Closes the descriptor if still held (a failing close stops the run).
    void close();
    // Renames the finished file to its final name.
    void commit();
    // Removes the temporary file and stops the run: Error writing "<final>": <why>.
    [[noreturn]] void fail(const std::string& why);

  private:
    void forget();
    std::string final_, temp_;
    int fd_ = -1;
    bool done_ = false;
};

// Stops the run when `path` is a symbolic link: Error writing "<path>": ...
void refuse_link(const std::string& path);

// Removes every temporary file still in the making, for a stop that cannot unwind, and returns
// how many there were (a run in progress always has its run record in the making). Does
// nothing, returning -1, when the list is being changed at that moment.
int remove_pending_files() noexcept;

} // namespace korvex
