// How the processes of one run share its work: a run alone in one process, or split over the
// ranks of an MPI job. Image rows never exchange amplitudes, so each process propagates a
// contiguous block of rows; process 0, the writer, alone prints and writes files, after
// collecting the other processes' rows.
//
// Stops: a process that stops (any exception) meets the others at their next collective step
// (`agree` opens every one) with its failure, so every process learns of it there and nobody
// waits forever. The lowest failing process prints its message; the others stop quietly with
// a `Fatal` that carries no lines. Files appear only when complete, so none is left partial.
#pragma once

#include "state/array.hpp"
#include "state/state.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvex {

class Communicator {
  public:
    virtual ~Communicator() = default;
    virtual int rank() const { return 0; }
    virtual int size() const { return 1; }
    bool writer() const { return rank() == 0; }

    // This process's rows of `npy`: contiguous blocks in rank order, the first npy % size
    // processes holding one row more.
    RowBlock rows(int npy) const { return row_block(npy, rank(), size()); }
    static RowBlock row_block(int npy, int rank, int size);

    // Every process calls it at the same points with whether it is still running; returns the
    // lowest rank that failed, or -1 when none did.
    virtual int agree(bool ok) { return ok ? -1 : rank(); }
    // A collective step: throws the quiet stop when another process failed.
    void step();
    // The least of each element of `v` over every process (all pass as many elements).
    virtual std::vector<std::uint64_t> lowest(const std::vector<std::uint64_t>& v) { return v; }

    // Collects every process's rows of `a` (npx, npy, nb) onto the writer (a step).
    virtual void gather_rows(Array3<double>& a) { step(), (void)a; }
    // The same for column `i` of every row only (a step).
    virtual void gather_column(Array3<double>& a, int i) { step(), (void)a, (void)i; }

    // Messages between two processes, delivered in order (a series split by condition); `tag`
    // says what the bytes are. A lone process has nobody to talk to.
    virtual void send(int to, int tag, const std::string& bytes);
    // The next message from `from` with `tag`, or with any tag when `tag` is -1 (`tag` is set
    // to the tag received).
    virtual std::string receive(int from, int& tag);
    // Whether a message from `from` with `tag` is waiting (never blocks).
    virtual bool waiting(int from, int tag) { return (void)from, (void)tag, false; }
};

// The communicator of this process: MPI when the program was built with it and started by
// an MPI launcher (which starts MPI here), otherwise the single process.
std::unique_ptr<Communicator> make_communicator(int& argc, char**& argv);

// True for the stop raised because another process stopped (it carries no message).
bool is_quiet_stop(const std::exception& e);

} // namespace korvex
