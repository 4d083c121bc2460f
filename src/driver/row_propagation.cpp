#include "driver/row_propagation.hpp"

#include "solver/propagation.hpp"

#include <algorithm>
#include <utility>

namespace korvex {

namespace {

// Rows first..last of every plane of `a` copied into `b` (pack) or back (unpack).
template <class T> void copy_rows(Array3<T>& a, Array3<T>& b, RowBlock rows, bool pack) {
    const std::size_t n = static_cast<std::size_t>(a.n1()) * rows.count();
    for (int k = 1; k <= a.n3(); ++k) {
        T* whole = &a(1, rows.first, k);
        T* part = &b(1, 1, k);
        if (pack)
            std::copy(whole, whole + n, part);
        else
            std::copy(part, part + n, whole);
    }
}

// While it lives, the state's per-column arrays hold only the rows of the block.
class RowWindow {
  public:
    RowWindow(State& st, RowBlock rows) : st_(st), rows_(rows), npy_(st.n_xyz[1]) {
        const int npx = st.phi_grid.n1(), nb = st.phi_grid.n3();
        phi_.resize(npx, rows.count(), nb);
        sgr_.resize(npx, rows.count(), st.s_g_r.n3());
        sf_.resize(npx, rows.count(), st.s_f.n3());
        copy_rows(st.phi_grid, phi_, rows, true);
        copy_rows(st.s_g_r, sgr_, rows, true);
        copy_rows(st.s_f, sf_, rows, true);
        vacancy_.resize(npx, rows.count());
        const int* v = &st.flag_vacancy(1, rows.first);
        std::copy(v, v + vacancy_.size(), vacancy_.data());
        swap_in();
        st.n_xyz[1] = rows.count();
    }
    ~RowWindow() {
        swap_in();
        st_.n_xyz[1] = npy_;
        copy_rows(st_.phi_grid, phi_, rows_, false);
    }
    RowWindow(const RowWindow&) = delete;
    RowWindow& operator=(const RowWindow&) = delete;

  private:
    void swap_in() {
        std::swap(st_.phi_grid, phi_);
        std::swap(st_.s_g_r, sgr_);
        std::swap(st_.s_f, sf_);
        std::swap(st_.flag_vacancy, vacancy_);
    }
    State& st_;
    RowBlock rows_;
    int npy_;
    Array3<cplx> phi_;
    Array3<double> sgr_, sf_;
    Array2<int> vacancy_;
};

} // namespace

void propagate_rows(ColumnEngine& engine, State& st, int islice, int& flag, RowBlock rows) {
    if (rows.first == 1 && rows.last == st.phi_grid.n2()) {
        engine.propagate_slice(st, islice, flag);
        return;
    }
    if (rows.count() == 0) return;
    RowWindow window(st, rows);
    engine.propagate_slice(st, islice, flag);
}

} // namespace korvex
