// GIF files: the picture of a finished plot page stored as an indexed-colour GIF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex {

// An 8-bit RGB picture, rows from the top, three bytes per pixel.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};

// The GIF encoding of a picture: its exact colours when it has at most 256 of them, otherwise
// a 256-colour quantisation.
std::string encode_gif(const RgbPicture& pic);

// Reads a PNG file (any bit depth and colour type) as RGB; stops the run when it cannot.
RgbPicture read_png(const std::string& path);

// A decoded GIF (first image), for checks: palette indices resolved to RGB. Stops the run when
// the file is not a readable GIF.
RgbPicture read_gif(const std::string& path);

} // namespace korvex
