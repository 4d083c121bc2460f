#include "driver/probe_sum.hpp"

#include "driver/finite_check.hpp"
#include "solver/propagation.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace korvex {

// What one direction keeps between slices: its condition, amplitudes, engine and the solution
// shared by every column of a perfect crystal or a void.
struct ProbeSum::Direction {
    BeamCondition condition;
    Array3<cplx> phi;
    Array2<cplx> h, eigenvectors;
    Array1<cplx> eigenvalues;
    std::unique_ptr<ColumnEngine> engine;
    int flag = 1;
};

ProbeSum::ProbeSum(const State& st) : n_beams_(st.n_beams) {
    const Illumination& il = st.illumination;
    quadrature_ = probe_directions(il.convergence * 1e-3, il.directions);
    // In the column approximation a direction and its mirror across the row (along, -across)
    // have the same excitation errors and exit angles to the last bit: one of them is carried,
    // with both weights.
    for (const ProbeDirection& pd : quadrature_) {
        auto twin = std::find_if(carried_.begin(), carried_.end(), [&](const ProbeDirection& c) {
            return c.along == pd.along && c.across == -pd.across && pd.across != 0.0;
        });
        if (twin != carried_.end())
            twin->weight += pd.weight;
        else
            carried_.push_back(pd);
    }
    for (const ProbeDirection& pd : carried_) {
        auto d = std::make_unique<Direction>();
        d->condition = st.condition();
        // The probe axis keeps the condition's own excitation errors.
        if (!pd.axis())
            direction_excitation_errors(st.n_beams, st.g, st.mtx_g, st.k, st.condition_n, pd,
                                        d->condition.s_g);
        d->phi = st.phi_grid;
        d->h = st.h;
        d->eigenvectors = st.eigenvectors_h;
        d->eigenvalues = st.eigenvalues_h;
        d->engine = std::make_unique<ColumnEngine>(st.engine);
        dirs_.push_back(std::move(d));
    }
    for (const Detector& det : il.detectors)
        take_.push_back(detector_weights(det.inner * 1e-3, det.outer * 1e-3, carried_, st.n_beams,
                                         st.mtx_g, st.k, st.g, st.condition_n));
}

ProbeSum::~ProbeSum() = default;

double ProbeSum::take(int k, int d, int n) const {
    return take_[static_cast<std::size_t>(k)]
                [static_cast<std::size_t>(d) * static_cast<std::size_t>(n_beams_) +
                 static_cast<std::size_t>(n - 1)];
}

int ProbeSum::pairs_taken(int k) const {
    int c = 0;
    for (double w : take_[static_cast<std::size_t>(k)]) c += w > 0.0;
    return c;
}

void ProbeSum::swap_in(State& st, Direction& d) {
    std::swap(st.condition(), d.condition);
    std::swap(st.phi_grid, d.phi);
    std::swap(st.h, d.h);
    std::swap(st.eigenvectors_h, d.eigenvectors);
    std::swap(st.eigenvalues_h, d.eigenvalues);
}

std::string ProbeSum::prepare(State& st) {
    std::string why;
    for (auto& d : dirs_) {
        swap_in(st, *d);
        std::string w;
        try {
            w = d->engine->prepare(st);
        } catch (...) {
            swap_in(st, *d);
            throw;
        }
        swap_in(st, *d);
        if (why.empty()) why = w;
    }
    return why;
}

void ProbeSum::carry_slice(State& st, int islice) {
    for (auto& d : dirs_) {
        swap_in(st, *d);
        try {
            d->engine->propagate_slice(st, islice, d->flag);
            if (!d->engine->verified_finite()) check_finite_amplitudes(st, islice);
        } catch (...) {
            swap_in(st, *d);
            throw;
        }
        swap_in(st, *d);
    }
}

void ProbeSum::detector_images(State& st, Array3<double>& images) {
    const int nk = static_cast<int>(take_.size());
    images.resize(st.n_pixel_x, st.n_pixel_y, nk);
    const std::size_t plane = images.plane();
    // The last direction first, so that the first one's intensities stay in mtx_intensity.
    for (int d = directions() - 1; d >= 0; --d) {
        Direction& dir = *dirs_[static_cast<std::size_t>(d)];
        swap_in(st, dir);
        intensities(st);
        swap_in(st, dir);
        for (int k = 0; k < nk; ++k) {
            double* out = images.data() + plane * static_cast<std::size_t>(k);
            bool any = false;
            for (int n = 1; n <= n_beams_; ++n) any = any || take(k, d, n) > 0.0;
            if (!any) continue;
            const double w = carried_[static_cast<std::size_t>(d)].weight;
            // The taken beams' intensities summed in beam order, then weighted: one direction of
            // weight 1 gives exactly the beams' sum.
#pragma omp parallel for schedule(static)
            for (std::size_t c = 0; c < plane; ++c) {
                double s = 0.0;
                for (int n = 1; n <= n_beams_; ++n)
                    if (take(k, d, n) > 0.0)
                        s += st.mtx_intensity.data()[plane * static_cast<std::size_t>(n - 1) + c];
                out[c] += w * s;
            }
        }
    }
}

std::string ProbeSum::engine_report() const {
    std::vector<std::string> seen;
    for (const auto& d : dirs_) {
        std::string r = d->engine->report();
        if (std::find(seen.begin(), seen.end(), r) == seen.end()) seen.push_back(std::move(r));
    }
    std::string s;
    for (std::size_t i = 0; i < seen.size() && i < 3; ++i) s += (i ? "; " : "") + seen[i];
    if (seen.size() > 3) s += "; ...";
    if (dirs_.size() > 1) s += " (each of " + std::to_string(dirs_.size()) + " directions carried)";
    return s;
}

} // namespace korvex
