#include "driver/same_inputs.hpp"

#include "driver/program.hpp"
#include "state/error.hpp"
#include "state/input.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvex {

namespace {

// FNV-1a, 64 bits.
struct Digest {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    void add(const char* p, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k)
            h = (h ^ static_cast<unsigned char>(p[k])) * 0x100000001b3ULL;
    }
    void add(const std::string& s) { add(s.data(), s.size()); }
};

// Beyond this many bytes a file is compared by its length and its first bytes.
constexpr std::size_t kDigestBytes = std::size_t{64} << 20;

std::uint64_t file_digest(const std::string& path) {
    Digest d;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return d.add("missing"), d.h;
    // A device or a pipe is not read here (it might never end or block).
    if (!S_ISREG(info.st_mode))
        return d.add("not a file " + std::to_string(info.st_mode & S_IFMT)), d.h;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return d.add("unreadable"), d.h;
    d.add("file " + std::to_string(info.st_size) + "\n");
    char buf[65536];
    for (std::size_t total = 0; total < kDigestBytes;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        d.add(buf, static_cast<std::size_t>(n));
        total += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return d.h;
}

} // namespace

std::vector<std::pair<std::string, std::uint64_t>>
input_digests(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::uint64_t>> list;
    Digest line;
    for (const auto& a : args) line.add(a + '\0');
    list.emplace_back("the command line", line.h);
    try {
        std::ostream quiet(nullptr);
        const CommandLine cl = parse_command_line(args, quiet);
        if (!cl.text_mode || cl.usage_error) return list;
        list.emplace_back("filesystem.ini", file_digest("filesystem.ini"));
        InputParameters dirs;
        try {
            read_filesystem_ini(dirs);
        } catch (const std::exception&) {
            dirs.rundir = "./"; // the same failure on every process that reads the same file
        }
        const std::string in = cl.f_in.starts_with('/') ? cl.f_in : dirs.rundir + cl.f_in;
        list.emplace_back(in, file_digest(in));
        if (!cl.f_defect.empty()) list.emplace_back(cl.f_defect, file_digest(cl.f_defect));
        // The circular loop's integral tables are not compared: a process that lacks them
        // computes the same ones.
        list.emplace_back("loop.ini", file_digest("loop.ini"));
    } catch (const std::exception&) {
        // Whatever failed fails again where the run reads it, with its own message.
    }
    return list;
}

void check_same_inputs(Communicator& comm, const std::vector<std::string>& args) {
    const auto list = input_digests(args);
    // The command line comes first: processes whose lists differ in length differ there.
    constexpr std::size_t kMax = 16;
    // Each digest d is passed as d and ~d: the least of ~d is ~ the greatest of d. Unused
    // places hold 0 and ~0, alike everywhere.
    std::vector<std::uint64_t> v(2 * kMax, 0);
    std::fill(v.begin() + kMax, v.end(), ~std::uint64_t{0});
    for (std::size_t k = 0; k < list.size() && k < kMax; ++k) {
        v[k] = list[k].second;
        v[kMax + k] = ~list[k].second;
    }
    const std::vector<std::uint64_t> low = comm.lowest(v);
    for (std::size_t k = 0; k < kMax; ++k) {
        if (low[k] == ~low[kMax + k]) continue; // the least and the greatest agree
        const std::string first =
            k == 0 ? "The processes of this run were started with different command lines."
                   : "The processes of this run read different inputs: \"" +
                         (k < list.size() ? list[k].first : std::string("?")) +
                         "\" is not the same in every process.";
        halt({first, "Start every process with the same command line, in folders holding the "
                     "same input files."});
    }
}

} // namespace korvex
