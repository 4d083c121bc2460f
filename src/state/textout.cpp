#include "state/textout.hpp"

#include "state/error.hpp"
#include "state/pending_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvex {

namespace {
[[noreturn]] void io_fail(const char* what, const std::string& path, int err) {
    halt(std::string("Error ") + what + " \"" + path + "\": " + std::strerror(err));
}
} // namespace

void write_text_file(const std::string& path, const std::string& content) {
    PendingFile file(path);
    file.write(content);
    file.commit();
}

void write_text_file(const std::string& path, const std::vector<std::string>& parts) {
    written_text_file(path, parts)->commit();
}

std::unique_ptr<PendingFile> written_text_file(const std::string& path,
                                               const std::vector<std::string>& parts) {
    auto file = std::make_unique<PendingFile>(path);
    for (const auto& p : parts) file->write(p);
    return file;
}

namespace {

// An exclusive lock on "<path>.lock" (made when missing) while it lives: runs appending to the
// same file at the same time take turns, so none rebuilds it from content another is replacing.
class AppendLock {
  public:
    explicit AppendLock(const std::string& path) : name_(path + ".lock") {
        fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0) io_fail("opening", name_, errno);
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd_);
            io_fail("locking", name_, err);
        }
    }
    ~AppendLock() { ::close(fd_); } // releases the lock
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

  private:
    std::string name_;
    int fd_ = -1;
};

} // namespace

void append_text_file(const std::string& path, const std::string& content) {
    refuse_link(path);
    const AppendLock lock(path);
    std::string old;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) io_fail("opening", path, errno);
    if (fd >= 0) {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                const int err = errno;
                ::close(fd);
                io_fail("reading", path, err);
            }
            if (n == 0) break;
            old.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fd);
    }
    PendingFile file(path);
    file.write(old);
    file.write(content);
    file.commit();
}

std::string list_record(const std::vector<std::string>& items) {
    std::string r;
    for (const auto& it : items) {
        r += ' ';
        r += it;
    }
    if (r.empty()) r = " ";
    return r;
}

RecordFile::~RecordFile() = default;

void RecordFile::open(const std::string& path) {
    close();
    path_ = path;
    file_ = std::make_unique<PendingFile>(path);
}

void RecordFile::line(const std::string& text) {
    if (!file_) halt("Error writing \"" + path_ + "\": the file is not open");
    file_->write(text + "\n");
}

void RecordFile::close() {
    if (!file_) return;
    const auto f = std::move(file_);
    f->commit();
}

} // namespace korvex
