#include "driver/condition_tape.hpp"

#include "state/error.hpp"

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace korvex {

ConditionTape::ConditionTape(std::string bytes) : replay_(true), bytes_(std::move(bytes)) {
    if (bytes_.empty() || (bytes_[0] != 'K' && bytes_[0] != 'F'))
        throw std::runtime_error("a condition record of another process is damaged");
}

void ConditionTape::put(const void* data, std::size_t n) {
    bytes_.append(static_cast<const char*>(data), n);
}

void ConditionTape::get(void* data, std::size_t n) {
    // Both sides run the same steps: a record that runs short is a fault of the program.
    if (bytes_.size() - at_ < n)
        throw std::runtime_error("a condition record of another process ends early");
    std::memcpy(data, bytes_.data() + at_, n);
    at_ += n;
}

void ConditionTape::transfer(void* data, std::size_t n) {
    const std::uint64_t size = n;
    if (!replay_) {
        put(&size, sizeof size);
        put(data, n);
        return;
    }
    std::uint64_t got = 0;
    get(&got, sizeof got);
    if (got != size) throw std::runtime_error("a condition record of another process differs");
    get(data, n);
}

std::string ConditionTape::take_text() {
    std::string s = console_.str();
    console_.str("");
    return s;
}

void ConditionTape::text(std::ostream& out) {
    if (!replay_) {
        const std::string s = take_text();
        const std::uint64_t size = s.size();
        put(&size, sizeof size);
        put(s.data(), s.size());
        return;
    }
    std::uint64_t size = 0;
    get(&size, sizeof size);
    std::string s(size, '\0');
    get(s.data(), s.size());
    out << s;
}

void ConditionTape::plane(Array3<double>& a, int n) {
    transfer(&a(1, 1, n), static_cast<std::size_t>(a.n1()) * a.n2() * sizeof(double));
}

void ConditionTape::column(Array3<double>& a, int i) {
    std::vector<double> v;
    for (int n = 1; n <= a.n3(); ++n)
        for (int j = 1; j <= a.n2(); ++j) v.push_back(a(i, j, n));
    transfer(v.data(), v.size() * sizeof(double));
    if (!replay_) return;
    auto it = v.begin();
    for (int n = 1; n <= a.n3(); ++n)
        for (int j = 1; j <= a.n2(); ++j) a(i, j, n) = *it++;
}

void ConditionTape::fail(const std::vector<std::string>& lines) {
    bytes_ = "F";
    text(console_); // the lines printed before the stop
    for (const auto& l : lines) bytes_ += l + '\n';
}

std::vector<std::string> ConditionTape::failure(std::ostream& out) {
    if (bytes_[0] != 'F') return {};
    text(out);
    std::vector<std::string> lines;
    for (std::size_t end; (end = bytes_.find('\n', at_)) != bytes_.npos; at_ = end + 1)
        lines.push_back(bytes_.substr(at_, end - at_));
    return lines;
}

void ConditionTape::check_abandoned() const {
    if (!replay_ && abandoned && abandoned()) throw Fatal(std::vector<std::string>{});
}

} // namespace korvex
