// The communicator of an MPI job (built only with KORVEX_MPI).
#include "driver/communicator.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <time.h>
#include <vector>

namespace korvex {

namespace {

class MpiCommunicator : public Communicator {
  public:
    MpiCommunicator(int& argc, char**& argv) {
        // Only the main thread calls MPI; the column loop's threads never do.
        int provided = 0;
        MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
        MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
        MPI_Comm_size(MPI_COMM_WORLD, &size_);
    }
    ~MpiCommunicator() override { MPI_Finalize(); }
    MpiCommunicator(const MpiCommunicator&) = delete;
    MpiCommunicator& operator=(const MpiCommunicator&) = delete;

    int rank() const override { return rank_; }
    int size() const override { return size_; }

    int agree(bool ok) override {
        int mine = ok ? size_ : rank_, lowest = size_;
        MPI_Request request;
        MPI_Iallreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD, &request);
        wait([&] {
            int done = 0;
            MPI_Test(&request, &done, MPI_STATUS_IGNORE);
            return done != 0;
        });
        return lowest < size_ ? lowest : -1;
    }

    std::vector<std::uint64_t> lowest(const std::vector<std::uint64_t>& v) override {
        std::vector<std::uint64_t> low(v.size());
        MPI_Request request;
        MPI_Iallreduce(v.data(), low.data(), static_cast<int>(v.size()), MPI_UINT64_T, MPI_MIN,
                       MPI_COMM_WORLD, &request);
        wait([&] {
            int done = 0;
            MPI_Test(&request, &done, MPI_STATUS_IGNORE);
            return done != 0;
        });
        return low;
    }

    // Each process packs its rows beam by beam; the writer unpacks every block in place.
    void gather_rows(Array3<double>& a) override {
        step();
        const int npx = a.n1(), npy = a.n2(), nb = a.n3();
        std::vector<int> counts(static_cast<std::size_t>(size_)), displs(counts.size());
        for (int r = 0, at = 0; r < size_; ++r) {
            counts[static_cast<std::size_t>(r)] = block(r, npy).count() * npx * nb;
            displs[static_cast<std::size_t>(r)] = at;
            at += counts[static_cast<std::size_t>(r)];
        }
        const RowBlock mine = rows(npy);
        std::vector<double> send(static_cast<std::size_t>(mine.count()) * npx * nb);
        copy_rows(a, mine, send.data(), true);
        std::vector<double> recv(rank_ == 0 ? static_cast<std::size_t>(npx) * npy * nb : 0);
        MPI_Gatherv(send.data(), static_cast<int>(send.size()), MPI_DOUBLE, recv.data(),
                    counts.data(), displs.data(), MPI_DOUBLE, 0, MPI_COMM_WORLD);
        if (rank_ != 0) return;
        for (int r = 1; r < size_; ++r)
            copy_rows(a, block(r, npy), recv.data() + displs[static_cast<std::size_t>(r)], false);
    }

    void gather_column(Array3<double>& a, int i) override {
        step();
        const int npy = a.n2(), nb = a.n3();
        std::vector<int> counts(static_cast<std::size_t>(size_)), displs(counts.size());
        for (int r = 0, at = 0; r < size_; ++r) {
            counts[static_cast<std::size_t>(r)] = block(r, npy).count() * nb;
            displs[static_cast<std::size_t>(r)] = at;
            at += counts[static_cast<std::size_t>(r)];
        }
        const RowBlock mine = rows(npy);
        std::vector<double> send;
        for (int n = 1; n <= nb; ++n)
            for (int j = mine.first; j <= mine.last; ++j) send.push_back(a(i, j, n));
        std::vector<double> recv(rank_ == 0 ? static_cast<std::size_t>(npy) * nb : 0);
        MPI_Gatherv(send.data(), static_cast<int>(send.size()), MPI_DOUBLE, recv.data(),
                    counts.data(), displs.data(), MPI_DOUBLE, 0, MPI_COMM_WORLD);
        if (rank_ != 0) return;
        for (int r = 1; r < size_; ++r) {
            const RowBlock b = block(r, npy);
            const double* v = recv.data() + displs[static_cast<std::size_t>(r)];
            for (int n = 1; n <= nb; ++n)
                for (int j = b.first; j <= b.last; ++j) a(i, j, n) = *v++;
        }
    }

    // The length first, then the bytes in pieces that an int counts.
    void send(int to, int tag, const std::string& bytes) override {
        std::uint64_t size = bytes.size();
        MPI_Send(&size, 1, MPI_UINT64_T, to, tag, MPI_COMM_WORLD);
        for (std::size_t at = 0; at < bytes.size(); at += kPiece)
            MPI_Send(bytes.data() + at, static_cast<int>(std::min(kPiece, bytes.size() - at)),
                     MPI_BYTE, to, tag, MPI_COMM_WORLD);
    }

    std::string receive(int from, int& tag) override {
        std::uint64_t size = 0;
        MPI_Status status;
        wait([&] { return waiting(from, tag < 0 ? MPI_ANY_TAG : tag); });
        MPI_Recv(&size, 1, MPI_UINT64_T, from, tag < 0 ? MPI_ANY_TAG : tag, MPI_COMM_WORLD,
                 &status);
        tag = status.MPI_TAG;
        std::string bytes(size, '\0');
        for (std::size_t at = 0; at < bytes.size(); at += kPiece)
            MPI_Recv(bytes.data() + at, static_cast<int>(std::min(kPiece, bytes.size() - at)),
                     MPI_BYTE, from, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        return bytes;
    }

    bool waiting(int from, int tag) override {
        int flag = 0;
        MPI_Iprobe(from, tag, MPI_COMM_WORLD, &flag, MPI_STATUS_IGNORE);
        return flag != 0;
    }

  private:
    // Waits until `done` says so without holding a core: a process waiting for another (for
    // the writer at its files, or for a slower block of rows) sleeps between tests, so that on
    // a machine with fewer cores than processes and threads the working ones get them. The
    // sleeps grow to a millisecond, small beside the work between two meetings.
    template <class Done> static void wait(Done done) {
        for (long ns = 1000; !done(); ns = std::min(2 * ns, 1000000L)) {
            const timespec t{0, ns};
            nanosleep(&t, nullptr);
        }
    }
    static constexpr std::size_t kPiece = std::size_t{1} << 30;
    RowBlock block(int r, int npy) const { return row_block(npy, r, size_); }
    static void copy_rows(Array3<double>& a, RowBlock b, double* buf, bool pack) {
        const std::size_t row = static_cast<std::size_t>(a.n1()) * b.count();
        if (row == 0) return;
        for (int n = 1; n <= a.n3(); ++n, buf += row) {
            double* at = &a(1, b.first, n);
            if (pack)
                std::copy(at, at + row, buf);
            else
                std::copy(buf, buf + row, at);
        }
    }
    int rank_ = 0, size_ = 1;
};

} // namespace

std::unique_ptr<Communicator> make_mpi_communicator(int& argc, char**& argv) {
    return std::make_unique<MpiCommunicator>(argc, argv);
}

} // namespace korvex
