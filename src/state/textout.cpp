#include "state/textout.hpp"

#include "state/error.hpp"
#include "state/pending_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace korvex {

namespace {
[[noreturn]] void io_fail(const char* what, const std::string& path, int err) {
    halt(std::string("Error ") + what + " \"" + path + "\": " + std::strerror(err));
}
} // namespace

void write_text_file(const std::string& path, const std::string& content) {
    PendingFile file(path);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(file.fd(), content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            file.fail(std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    file.close();
    file.commit();
}

void append_text_file(const std::string& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) io_fail("opening", path, errno);
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    const int err = errno;
    if (std::fclose(f) != 0 || !ok) io_fail("writing", path, err);
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

RecordFile::~RecordFile() {
    if (fp_) std::fclose(static_cast<std::FILE*>(fp_));
}

void RecordFile::open(const std::string& path) {
    close();
    path_ = path;
    fp_ = std::fopen(path.c_str(), "wb");
    if (!fp_) io_fail("creating", path, errno);
}

void RecordFile::line(const std::string& text) {
    auto* f = static_cast<std::FILE*>(fp_);
    if (!f) halt("Error writing \"" + path_ + "\": the file is not open");
    if (std::fputs(text.c_str(), f) < 0 || std::fputc('\n', f) == EOF || std::fflush(f) != 0)
        io_fail("writing", path_, errno);
}

void RecordFile::close() {
    if (!fp_) return;
    auto* f = static_cast<std::FILE*>(fp_);
    fp_ = nullptr;
    if (std::fclose(f) != 0) io_fail("closing", path_, errno);
}

} // namespace korvex
