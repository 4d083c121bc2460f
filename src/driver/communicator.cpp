#include "driver/communicator.hpp"

#include "state/error.hpp"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace korvex {

#ifdef KORVEX_MPI
std::unique_ptr<Communicator> make_mpi_communicator(int& argc, char**& argv);
#endif

RowBlock Communicator::row_block(int npy, int r, int n) {
    const int base = npy / n, extra = npy % n;
    RowBlock b;
    b.first = 1 + r * base + std::min(r, extra);
    b.last = b.first + base + (r < extra ? 1 : 0) - 1;
    return b;
}

void Communicator::step() {
    if (agree(true) >= 0) throw Fatal(std::vector<std::string>{});
}

void Communicator::send(int, int, const std::string&) {
    throw std::logic_error("a message to another process in a run of one process");
}

std::string Communicator::receive(int, int&) {
    throw std::logic_error("a message from another process in a run of one process");
}

bool is_quiet_stop(const std::exception& e) {
    const auto* f = dynamic_cast<const Fatal*>(&e);
    return f && f->lines().empty();
}

std::unique_ptr<Communicator> make_communicator([[maybe_unused]] int& argc,
                                                [[maybe_unused]] char**& argv) {
#ifdef KORVEX_MPI
    // Started by mpirun (Open MPI or a PMIx launcher): join the job. A plain start stays
    // one process and never touches MPI.
    if (std::getenv("OMPI_COMM_WORLD_SIZE") || std::getenv("PMIX_RANK"))
        return make_mpi_communicator(argc, argv);
#endif
    return std::make_unique<Communicator>();
}

} // namespace korvex
