#include "driver/probe_run.hpp"

#include "driver/finite_check.hpp"
#include "driver/probe_sum.hpp"
#include "driver/progress.hpp"
#include "optics/probe.hpp"
#include "output/probe_files.hpp"
#include "output/probe_report.hpp"
#include "output/reports.hpp"
#include "output/result_files.hpp"
#include "output/run_results.hpp"
#include "output/tex_report.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/stop_signals.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace korvex {

namespace {

std::string mrad(double rad) {
    return short_number(std::round(rad * 1e4) / 10.0) + " mrad";
}

// The exit angles of the probe axis's beams, for a message.
std::string axis_exit_angles(const State& st, const Array1<double>& mtx_g, double n) {
    std::string s;
    for (int i = 1; i <= st.n_beams; ++i)
        s += (i > 1 ? ", " : "") + std::to_string(st.mtx_beams(i)) + "g " +
             mrad(exit_angle(st.k, st.g, n, ProbeDirection{}, mtx_g(i)));
    return s;
}

} // namespace

void check_illumination(const State& st, const RunContext& rc) {
    const Illumination& il = st.illumination;
    if (!il.scanning()) return;
    const std::string probe = "A scanning probe (" + il.detectors.front().option + ")";
    if (st.ca != ColumnApprox::yes)
        halt({probe + " is computed in the column approximation: the input's column "
                      "approximation must be \"yes\".",
              "Read: \"" + std::string(column_approx_name(st.ca)) + "\" in \"" + st.f_in + "\""});
    if (st.job != Job::amplitude_images && st.job != Job::thickness_fringes &&
        st.job != Job::reports_only)
        halt({probe + " makes detector images (job 1) or thickness fringes (job 2).",
              "Read: job " + std::to_string(job_number(st.job)) + " in \"" + st.f_in + "\""});
    if (rc.comm && rc.comm->size() > 1)
        halt({probe + " runs in one process.",
              "Read: " + std::to_string(rc.comm->size()) + " processes"});
    Array1<double> mtx_g(st.n_beams), s_g(st.n_beams);
    for (int i = 1; i <= st.n_beams; ++i) mtx_g(i) = st.mtx_beams(i) * st.g;
    const auto dirs = probe_directions(il.convergence * 1e-3, il.directions);
    const bool series = st.condition_n == kConditionSeries;
    for (int s = 1; s <= (series ? kSeriesLength : 1); ++s) {
        const double n = series ? series_condition(s) : st.condition_n;
        for (const ProbeDirection& d : dirs) {
            direction_excitation_errors(st.n_beams, st.g, mtx_g, st.k, n, d, s_g);
            for (int i = 1; i <= st.n_beams; ++i)
                if (!std::isfinite(s_g(i)))
                    halt({"The probe's directions reach beyond the Ewald sphere: beam " +
                              std::to_string(st.mtx_beams(i)) + "g has no real direction.",
                          "Read: " + il.convergence_option});
        }
        for (const Detector& det : il.detectors) {
            const auto w = detector_weights(det.inner * 1e-3, det.outer * 1e-3, dirs, st.n_beams,
                                            mtx_g, st.k, st.g, n);
            if (std::none_of(w.begin(), w.end(), [](double v) { return v > 0.0; }))
                halt({"The detector " + detector_label(det) +
                          " takes no beam of any incident direction of the condition (g," +
                          short_number(n) + "g): the probe axis's beams leave at " +
                          axis_exit_angles(st, mtx_g, n) + ", the probe's directions within " +
                          short_number(il.convergence) + " mrad of theirs.",
                      "Read: " + det.option});
        }
    }
}

void run_probe_condition(State& st, RunContext& rc, DefectField& field) {
    const bool writer = writes_files(rc);
    const auto start = std::chrono::steady_clock::now();
    if (rc.display) rc.display->begin_condition(st);
    ProbeSum probe(st);
    st.console() << " Probe: " << illumination_caption(st) << '\n';
    const std::string why = probe.prepare(st);
    if (!why.empty())
        st.console() << " * WARNING: the table engine solves every column exactly here: " << why
                     << '\n';
    DetectorFringes fringes;
    if (st.job == Job::thickness_fringes && writer) fringes.open(st);
    st.s_f.fill(0.0);
    st.projection.fill(0);
    const int middle = std::max(1, st.n_slice / 2);
    const bool strained =
        st.defect_kind != DefectKind::perfect && st.defect_kind != DefectKind::vacancy;
    const SliceProgress progress;
    Array3<double> images;
    for (int islice = 1; islice <= st.effslicenumber; ++islice) {
        check_stop_signal();
        // The terms of the slice, once for every direction.
        field.fill_slice(st, islice);
        check_finite_strain(st, islice);
        if (islice == middle && strained && writer) print_sgr(st);
        probe.carry_slice(st, islice);
        if (auto line = progress.line(islice, st.effslicenumber)) st.console() << *line << '\n';
        if (rc.display) rc.display->slice_done(st, islice, st.effslicenumber);
        if (st.job == Job::thickness_fringes) {
            probe.detector_images(st, images);
            if (writer) fringes.slice(st, images, islice);
        }
    }
    st.engine_ran = probe.engine_report();
    if (st.engine != Engine::exact) {
        st.console() << " Column engine: " << st.engine_ran << '\n';
        if (writer) rc.imi.line(" engine " + st.engine_ran);
    }
    if (st.job == Job::amplitude_images) probe.detector_images(st, images);
    if (rc.results && holds_results(rc)) {
        if (st.job == Job::amplitude_images)
            add_detector_images(*rc.results, st, images, detector_names(st.illumination));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        end_condition(*rc.results, st, took.count());
    }
    if (!writer) return;
    if (st.job == Job::amplitude_images) {
        OverviewRow row{
            "(g," + trim(rc.condition_text) + "g)", detector_image_files(st, rc, images), {}};
        for (const Detector& d : st.illumination.detectors) row.labels.push_back(detector_label(d));
        rc.overview_rows.push_back(std::move(row));
        if (rc.display) rc.display->show_image(st, rc.last_image_path);
    } else if (st.job == Job::thickness_fringes) {
        fringes.close();
    }
    close_condition_reports(st, rc);
}

} // namespace korvex
