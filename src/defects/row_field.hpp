// The field of a model whose terms are computed row by row: `Rows` is built once per slice from
// (state, workspace, configuration, slice) and offers fill(j), the terms of image row j, and
// column(x, y), the single column of the amplitude-phase job at (x, y) from the model's reference
// point, stored at column (1, 1).
#pragma once

#include "defects/defect.hpp"

#include <memory>

namespace korvex {

template <class Rows, class Config> class RowField final : public DefectField {
  public:
    explicit RowField(ConfigSource<Config> source) : source_(std::move(source)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        const Rows rows(st, w, source_(), islice);
        const int ny = st.n_xyz[1];
#pragma omp parallel for schedule(static)
        for (int j = 1; j <= ny; ++j) rows.fill(j);
    }
    void fill_column(const State& st, Workspace& w, int islice) override {
        Rows(st, w, source_(), islice).column(st.colxy[0], st.colxy[1]);
    }
    bool fills_rows() const override {
        return true;
    }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        auto rows = std::make_shared<const Rows>(st, w, source_(), islice);
        return [rows](int j) { rows->fill(j); };
    }

  private:
    ConfigSource<Config> source_;
};

} // namespace korvex
