#include "state/image_file.hpp"

#include "state/fmt.hpp"
#include "state/reader.hpp"
#include "state/textout.hpp"

#include <algorithm>

namespace korvex {

std::string image_header(const ImageData& img) {
    return " width\n " + list_int(img.nx()) + "\n height\n " + list_int(img.ny()) +
           "\n unit of width\n " + list_real(img.unit_x) + "\n unit of height\n " +
           list_real(img.unit_y) + "\n";
}

void append_image_records(std::string& s, const ImageData& img, RowFormat fmt, int first,
                          int last) {
    const int ny = img.ny();
    for (int i = first; i <= last; ++i) {
        if (fmt == RowFormat::es12_3) {
            for (int j = 1; j <= ny; ++j) {
                append_es(s, img.values(i, j), 12, 3);
                if (j % 2000 == 0 && j < ny) s += '\n';
            }
            s += '\n';
        } else {
            for (int j = 1; j <= ny; ++j) {
                s += ' ';
                append_list_real(s, img.values(i, j));
            }
            s += '\n';
        }
    }
}

std::string image_part(std::string memory, const ImageData& img, RowFormat fmt, int p, int parts) {
    const int nx = img.nx(), first = 1 + nx * p / parts, last = nx * (p + 1) / parts;
    memory.clear();
    memory.reserve(
        static_cast<std::size_t>(std::max(0, last - first + 1)) *
            (static_cast<std::size_t>(img.ny()) * (fmt == RowFormat::es12_3 ? 12 : 18) + 2) +
        256);
    if (p == 0) memory += image_header(img);
    append_image_records(memory, img, fmt, first, last);
    return memory;
}

std::string format_image(const ImageData& img, RowFormat fmt) {
    std::string s;
    s.reserve(static_cast<std::size_t>(img.nx()) * static_cast<std::size_t>(img.ny()) *
                  (fmt == RowFormat::es12_3 ? 13 : 18) +
              128);
    s += image_header(img);
    append_image_records(s, img, fmt, 1, img.nx());
    return s;
}

void write_image_file(const std::string& path, const ImageData& img, RowFormat fmt) {
    write_text_file(path, format_image(img, fmt));
}

ImageData read_image_file(const std::string& path) {
    RecordReader r(path);
    // A row of a list-style map holds every column along y on one record.
    r.set_max_record(std::size_t{2} << 30);
    std::string label;
    int nx = 0, ny = 0;
    ImageData img;
    r.read(label);
    r.read(nx);
    r.read(label);
    r.read(ny);
    r.read(label);
    r.read(img.unit_x);
    r.read(label);
    r.read(img.unit_y);
    if (nx < 1 || ny < 1)
        throw ReadError("Error reading \"" + path + "\": the image size " + std::to_string(nx) +
                        " x " + std::to_string(ny) + " is not valid");
    img.values.resize(nx, ny);
    for (int i = 1; i <= nx; ++i) {
        r.begin_read();
        for (int j = 1; j <= ny; ++j) r.read_more(img.values(i, j));
        r.end_read();
    }
    return img;
}

} // namespace korvex
