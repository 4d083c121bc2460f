// What a large file or array will take, checked against what the machine has before anything
// is allocated or written: a request that cannot fit is refused at once with the numbers,
// instead of failing after hours, or halfway through a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvex {

// Memory the system can still give without swapping (MemAvailable of /proc/meminfo; the
// physical memory where that is not known), bytes.
double available_memory();

// Space an ordinary user may still fill on the file system that holds `path` (a file to be
// written there: its folder is asked), bytes; nothing when that cannot be told (a folder
// that does not exist: creating the file then says why).
std::optional<double> free_disk_space(const std::string& path);

// "12.3 GB", "85 MB", "4 kB": a size for a message.
std::string size_text(double bytes);

// Stop with the numbers when `bytes` exceed what is available: "Not enough memory for <what>:
// about 1.5 TB needed, 7.2 GB available" and the same for the disk space beside `path`.
void check_memory_need(double bytes, const std::string& what);
void check_disk_need(const std::string& path, double bytes, const std::string& what);

} // namespace korvex
