// The incoherent sum over the incident directions of a convergent probe (optics/probe.hpp), in
// the column approximation: each direction is a beam condition of its own (its excitation errors,
// its amplitudes, its column engine with its own tables), and all of them are carried through a
// slice with the same strain terms, filled once for the slice. A detector's image is, at every
// column, the sum over the directions of the direction's weight times the intensities of the beams
// of that direction whose exit direction falls on the detector.
#pragma once

#include "optics/probe.hpp"
#include "solver/propagation.hpp"
#include "state/state.hpp"

#include <memory>
#include <string>
#include <vector>

namespace korvex {

class ProbeSum {
  public:
    // For the beam condition set in `st` (condition_setup: the probe axis) and st.illumination;
    // each direction's amplitudes start as the incident wave (initial_amplitudes).
    explicit ProbeSum(const State& st);
    ~ProbeSum();
    ProbeSum(const ProbeSum&) = delete;
    ProbeSum& operator=(const ProbeSum&) = delete;

    // The directions of the quadrature, and those carried: a direction's mirror across the row
    // is not carried, its weight added to the direction's.
    const std::vector<ProbeDirection>& quadrature() const { return quadrature_; }
    const std::vector<ProbeDirection>& carried() const { return carried_; }
    int directions() const { return static_cast<int>(dirs_.size()); }
    // The weight carried direction d gives beam n on detector k (0: not taken); d, k from 0, n
    // from 1.
    double take(int k, int d, int n) const;
    // How many (direction, beam) pairs detector k takes.
    int pairs_taken(int k) const;

    // Before the first slice: each table engine builds its first table; the first reason a
    // direction's engine tabulates nothing, "" where each does.
    std::string prepare(State& st);
    // Every direction through slice `islice`, with the terms the state holds for it. The state's
    // amplitudes, condition and shared solution are each direction's in turn, and the probe
    // axis's (the first direction's) again afterwards. Stops, as the slice loop does, at a
    // direction's amplitude that is not finite.
    void carry_slice(State& st, int islice);
    // The detectors' images after the slices carried so far: images(i, j, k) for detector k + 1
    // (st.mtx_intensity is used as scratch and holds the first direction's intensities after).
    void detector_images(State& st, Array3<double>& images);
    // What the engines did, for the reports.
    std::string engine_report() const;

  private:
    struct Direction;
    void swap_in(State& st, Direction& d);
    std::vector<ProbeDirection> quadrature_, carried_;
    std::vector<std::unique_ptr<Direction>> dirs_;
    std::vector<std::vector<double>> take_; // [k][d * n_beams + n - 1]
    int n_beams_ = 0;
};

} // namespace korvex
