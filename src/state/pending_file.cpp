#include "state/pending_file.hpp"

#include "state/error.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace korvex {

PendingFile::PendingFile(std::string final_path) : final_(std::move(final_path)) {
    // "<name>.part", or "<name>.part1", ... when a file of that name is already there.
    for (int n = 0; n < 100; ++n) {
        temp_ = final_ + ".part" + (n == 0 ? std::string() : std::to_string(n));
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return;
        if (errno != EEXIST) break;
    }
    const int err = errno;
    done_ = true; // nothing of ours to remove
    halt("Error creating \"" + final_ + "\": " + std::strerror(err));
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!done_) std::remove(temp_.c_str());
}

int PendingFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void PendingFile::close() {
    if (fd_ < 0) return;
    const int fd = release();
    if (::close(fd) != 0) fail(std::strerror(errno));
}

void PendingFile::commit() {
    close();
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) fail(std::strerror(errno));
    done_ = true;
}

void PendingFile::fail(const std::string& why) {
    if (fd_ >= 0) ::close(release());
    std::remove(temp_.c_str());
    done_ = true;
    halt("Error writing \"" + final_ + "\": " + why);
}

} // namespace korvex
