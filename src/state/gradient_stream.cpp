#include "state/gradient_stream.hpp"

#include "state/checks.hpp"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace korvex {

static_assert(std::endian::native == std::endian::little,
              "binary gradient files are read and written on little-endian machines");

namespace {

template <class T> void put(unsigned char* at, T v) {
    std::memcpy(at, &v, sizeof v);
}
template <class T> T get(const unsigned char* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

} // namespace

std::array<unsigned char, kGradientHeaderBytes> encode_gradient_header(const GradientHeader& h) {
    std::array<unsigned char, kGradientHeaderBytes> b{};
    std::memcpy(b.data(), kGradientMagic, sizeof kGradientMagic);
    put(b.data() + 8, kGradientVersion);
    put(b.data() + 12, static_cast<std::uint32_t>(h.value_bytes));
    for (std::size_t a = 0; a < 3; ++a) {
        put(b.data() + 16 + 4 * a, static_cast<std::uint32_t>(h.cells[a]));
        put(b.data() + 32 + 8 * a, h.unit[a]);
    }
    put(b.data() + 28, static_cast<std::uint32_t>(h.direction));
    return b;
}

GradientStream::GradientStream(const std::string& path) : path_(path) {
    fp_ = std::fopen(path.c_str(), "rb");
    if (!fp_) throw ReadError("Cannot open \"" + path + "\": " + std::strerror(errno));
}

GradientStream::~GradientStream() {
    if (fp_) std::fclose(fp_);
}

void GradientStream::fail(const std::string& what) const {
    throw ReadError("Error reading \"" + path_ + "\", " + what);
}

const GradientHeader& GradientStream::read_header(int direction) {
    unsigned char b[kGradientHeaderBytes];
    const std::size_t got = std::fread(b, 1, sizeof b, fp_);
    if (got < sizeof kGradientMagic || std::memcmp(b, kGradientMagic, sizeof kGradientMagic)) {
        // Text: read again from the start, record by record.
        std::fclose(fp_);
        fp_ = nullptr;
        text_ = std::make_unique<RecordReader>(path_);
        for (auto& n : header_.cells) {
            text_->skip(1);
            text_->read(n);
        }
        for (auto& u : header_.unit) {
            text_->skip(1);
            text_->read(u);
        }
        return header_;
    }
    if (got < sizeof b) fail("binary header: the file ends within its 64 bytes");
    if (const auto v = get<std::uint32_t>(b + 8); v != kGradientVersion)
        fail("binary header: version " + std::to_string(v) + " (this program reads version " +
             std::to_string(kGradientVersion) + ")");
    const auto bytes = get<std::uint32_t>(b + 12);
    if (bytes != 4 && bytes != 8)
        fail("binary header: " + std::to_string(bytes) + " bytes per value (4 or 8 expected)");
    header_.value_bytes = static_cast<int>(bytes);
    std::uint64_t cells = 1;
    for (std::size_t a = 0; a < 3; ++a) {
        const auto n = get<std::uint32_t>(b + 16 + 4 * a);
        if (n < 1 || n > 1u << 30)
            fail("binary header: " + std::to_string(n) + " cells along " + "xyz"[a]);
        header_.cells[a] = static_cast<int>(n);
        cells *= n;
        header_.unit[a] = get<double>(b + 32 + 8 * a);
        if (!std::isfinite(header_.unit[a]) || !(header_.unit[a] > 0.0))
            fail(std::string("binary header: the cell size along ") + "xyz"[a] + " is " +
                 std::to_string(header_.unit[a]) + " Angstrom (a positive number expected)");
    }
    const auto dir = get<std::uint32_t>(b + 28);
    if (dir > 2 || (direction >= 0 && dir != static_cast<std::uint32_t>(direction)))
        fail("binary header: derivative direction " + std::to_string(dir) + " (bytes 28-31), " +
             (direction >= 0 ? std::to_string(direction) + " (along " + "xyz"[direction] +
                                   ") expected for this file"
                             : std::string("0, 1 or 2 expected")));
    header_.direction = static_cast<int>(dir);
    if (const auto r = get<std::uint64_t>(b + 56); r != 0) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%016llx", static_cast<unsigned long long>(r));
        fail(std::string("binary header: the reserved bytes 56-63 hold ") + hex +
             " (little-endian), zero expected");
    }
    // A file of another length than the header's grid is refused before any slice is used:
    // short, or with bytes after the last cell (values of another size than the header says).
    struct stat s {};
    const std::uint64_t want = kGradientHeaderBytes + cells * 3 * bytes;
    if (::fstat(::fileno(fp_), &s) == 0 && static_cast<std::uint64_t>(s.st_size) != want) {
        const auto size = static_cast<std::uint64_t>(s.st_size);
        const std::uint64_t other = kGradientHeaderBytes + cells * 3 * (12 - bytes);
        fail("binary data: " + std::to_string(size) + " bytes, the header's " +
             std::to_string(header_.cells[0]) + " x " + std::to_string(header_.cells[1]) + " x " +
             std::to_string(header_.cells[2]) + " cells of " + std::to_string(bytes) +
             "-byte values need " + std::to_string(want) +
             (size == other ? " (the file's length fits " + std::to_string(12 - bytes) +
                                  "-byte values: bytes 12-15 say " + std::to_string(bytes) + ")"
              : size > want ? " (" + std::to_string(size - want) + " bytes after the last cell)"
                            : ""));
    }
    return header_;
}

void GradientStream::read_cells(std::vector<Vec3>& out) {
    if (text_) {
        for (failed_ = 0; failed_ < out.size(); ++failed_) {
            text_->read_record(out[failed_]);
            check_vector(*text_, "strain derivatives", out[failed_]);
        }
        cell_ += out.size();
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(header_.value_bytes);
    buf_.resize(out.size() * 3 * bytes);
    const std::size_t got = std::fread(buf_.data(), 1, buf_.size(), fp_);
    const std::size_t whole = got / (3 * bytes);
    for (std::size_t c = 0; c < out.size(); ++c) {
        failed_ = c;
        if (c >= whole) fail("cell " + std::to_string(cell_ + c + 1) + ": the file ends here");
        for (std::size_t k = 0; k < 3; ++k) {
            const unsigned char* p = buf_.data() + (3 * c + k) * bytes;
            const double v = bytes == 4 ? double(get<float>(p)) : get<double>(p);
            if (!std::isfinite(v))
                fail("cell " + std::to_string(cell_ + c + 1) + ": a value is not finite");
            out[c][k] = v;
        }
    }
    cell_ += out.size();
}

void GradientStream::skip_cells(std::uint64_t n) {
    if (text_) {
        for (failed_ = 0; failed_ < n; ++failed_) text_->skip(1);
    } else if (n > 0) {
        // The header's grid was checked against the file's size: a seek stays inside it.
        const std::uint64_t bytes = n * 3 * static_cast<std::uint64_t>(header_.value_bytes);
        failed_ = 0;
        if (::fseeko(fp_, static_cast<off_t>(bytes), SEEK_CUR) != 0)
            fail("cell " + std::to_string(cell_ + 1) + ": " + std::strerror(errno));
    }
    cell_ += n;
}

} // namespace korvex
