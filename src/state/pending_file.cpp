#include "state/pending_file.hpp"

#include "state/error.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvex {

namespace {

// The temporary files in the making: the one process-wide list a stop without unwinding needs.
struct Registry {
    std::mutex lock;
    std::vector<std::string> paths;
};
Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

void refuse_link(const std::string& path) {
    struct stat s {};
    if (::lstat(path.c_str(), &s) == 0 && S_ISLNK(s.st_mode))
        halt("Error writing \"" + path +
             "\": a symbolic link stands under this name; it is not followed or replaced");
}

PendingFile::PendingFile(std::string final_path) : final_(std::move(final_path)) {
    done_ = true; // nothing of ours to remove until the temporary file exists
    refuse_link(final_);
    // "<name>.part", or "<name>.part1", ... when a file of that name is already there.
    for (int n = 0; n < 100; ++n) {
        temp_ = final_ + ".part" + (n == 0 ? std::string() : std::to_string(n));
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            done_ = false;
            const std::lock_guard<std::mutex> g(registry().lock);
            registry().paths.push_back(temp_);
            return;
        }
        if (errno != EEXIST) break;
    }
    const int err = errno;
    halt("Error creating \"" + final_ + "\": " + std::strerror(err));
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!done_) {
        std::remove(temp_.c_str());
        forget();
    }
}

void PendingFile::forget() {
    const std::lock_guard<std::mutex> g(registry().lock);
    auto& p = registry().paths;
    if (auto it = std::find(p.begin(), p.end(), temp_); it != p.end()) p.erase(it);
}

int PendingFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void PendingFile::write(const char* data, std::size_t size) {
    if (fd_ < 0) fail("the file is not open");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

void PendingFile::close() {
    if (fd_ < 0) return;
    const int fd = release();
    if (::close(fd) != 0) fail(std::strerror(errno));
}

void PendingFile::commit() {
    close();
    refuse_link(final_); // a link planted while the file was written
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) fail(std::strerror(errno));
    done_ = true;
    forget();
}

void PendingFile::fail(const std::string& why) {
    if (fd_ >= 0) ::close(release());
    if (!done_) {
        std::remove(temp_.c_str());
        forget();
    }
    done_ = true;
    halt("Error writing \"" + final_ + "\": " + why);
}

int remove_pending_files() noexcept {
    Registry& r = registry();
    if (!r.lock.try_lock()) return -1;
    const int n = static_cast<int>(r.paths.size());
    for (const auto& p : r.paths) ::unlink(p.c_str());
    r.paths.clear();
    r.lock.unlock();
    return n;
}

} // namespace korvex
