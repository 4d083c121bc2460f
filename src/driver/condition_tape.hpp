// What the writer needs of a beam condition computed in another process (a (g,ng) series split
// by condition): the console lines of the computation and the arrays the writer's steps use, in
// the order the slice loop produces them. The computing process records the tape; the writer
// replays the condition from it, writing the same files and printing the same lines as had it
// computed the condition itself.
#pragma once

#include "state/array.hpp"

#include <cstddef>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace korvex {

class ConditionTape {
  public:
    // An empty tape to record into.
    ConditionTape() = default;
    // A received tape to replay.
    explicit ConditionTape(std::string bytes);

    bool replaying() const { return replay_; }

    // Recording: where the computation prints (its lines are kept with the tape).
    std::ostream& console() { return console_; }
    // Recording: keeps the lines printed so far; replaying: prints them to `out`.
    void text(std::ostream& out);
    // The values of an array: kept (recording) or refilled (replaying).
    template <class T> void values(Array3<T>& a) { transfer(a.data(), a.size() * sizeof(T)); }
    // Plane n of a (npx, npy, nb) array.
    void plane(Array3<double>& a, int n);
    // Column i of every row and plane of a (npx, npy, nb) array.
    void column(Array3<double>& a, int i);

    // Recording: the computation stopped with these message lines (the tape keeps only them and
    // the lines printed before).
    void fail(const std::vector<std::string>& lines);
    bool failed() const { return bytes_[0] == 'F'; }
    // Replaying: the message lines of a computation that stopped (empty when it did not), after
    // printing its lines to `out`.
    std::vector<std::string> failure(std::ostream& out);

    // Recording: stops the computation quietly once this says the writer no longer wants it.
    std::function<bool()> abandoned;
    void check_abandoned() const;

    const std::string& bytes() const { return bytes_; }

  private:
    void transfer(void* data, std::size_t n);
    void put(const void* data, std::size_t n);
    void get(void* data, std::size_t n);
    std::string take_text();

    bool replay_ = false;
    std::string bytes_ = "K"; // 'K' then the entries, or 'F' then the lines and the message
    std::size_t at_ = 1;      // replaying: the next byte
    std::ostringstream console_;
};

} // namespace korvex
