#include "driver/run.hpp"

#include "defects/defect.hpp"
#include "driver/absorption_check.hpp"
#include "driver/amplitude_phase.hpp"
#include "driver/condition_split.hpp"
#include "driver/condition_tape.hpp"
#include "driver/defect_caption.hpp"
#include "driver/defect_fields.hpp"
#include "driver/defect_sections.hpp"
#include "driver/finite_check.hpp"
#include "driver/population_file.hpp"
#include "driver/probe_run.hpp"
#include "driver/progress.hpp"
#include "driver/row_propagation.hpp"
#include "driver/slice_blocks.hpp"
#include "driver/slice_outputs.hpp"
#include "driver/slice_plan.hpp"
#include "driver/usage.hpp"
#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "optics/potential.hpp"
#include "output/hdf5_results.hpp"
#include "output/record.hpp"
#include "output/reports.hpp"
#include "output/result_files.hpp"
#include "output/run_record.hpp"
#include "output/tex_report.hpp"
#include "solver/propagation.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/input.hpp"
#include "state/stop_signals.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

namespace korvex {

int elapsed_seconds(const RunContext& rc) {
    const auto d = std::chrono::steady_clock::now() - rc.count_start;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}

namespace {

// Potential coefficients of the zero beam and of the reflections 1g .. (n_beams - 1)g, scaled
// by the relativistic factor.
void potential_coefficients(State& st) {
    st.v_0g = {0.0, 0.0, 0.0};
    const double volts = 1000.0 * st.voltage;
    // The zero beam and the row in one go, so that all threads share the integrals.
    const std::array<int, 3> hkl{nint(st.v_g[0]), nint(st.v_g[1]), nint(st.v_g[2])};
    std::vector<Reflection> all{{1, {0, 0, 0}}};
    for (int m = 1; m <= st.n_beams - 1; ++m) all.push_back({m, hkl});
    const auto r = birdking(volts, st.sample, all, st.iabs);
    st.console() << r.notes;
    st.lat_c = r.a;
    st.u0 = r.u.at(0);
    st.ui0 = r.ui.at(0);
    for (int m = 1; m <= st.n_beams - 1; ++m) {
        st.u(m) = r.u.at(static_cast<std::size_t>(m));
        st.ui(m) = r.ui.at(static_cast<std::size_t>(m));
    }
    const double f = lorentzfactor(volts);
    st.u0 *= f;
    st.ui0 *= f;
    for (int m = 1; m <= st.n_beams - 1; ++m) {
        st.u(m) *= f;
        st.ui(m) *= f;
    }
}

// The incident beam is tilted so that n g meets the Ewald sphere: every beam m g of the row
// must then lie within the sphere's reach, |m g - n g / 2| < k, or its direction along the
// foil normal has no real value. Refuses a condition (or a series) outside that range, with
// the range, before anything is written.
void check_condition_reach(const State& st) {
    const double reach = st.k / st.g; // k in units of g
    if (!(reach > 0.0) || !std::isfinite(reach)) return;
    const int first = st.mtx_beams(1), last = st.mtx_beams(st.n_beams);
    const double low = 2.0 * (last - reach), high = 2.0 * (first + reach);
    const bool series = st.condition_n == kConditionSeries;
    for (int s = 1; s <= (series ? kSeriesLength : 1); ++s) {
        const double n = series ? series_condition(s) : st.condition_n;
        if (n > low && n < high) continue;
        const std::string why = "the diffraction condition n of (g,ng) must lie between " +
                                list_real(low) + " and " + list_real(high) +
                                ": beyond, beams of the row " + std::to_string(first) + " .. " +
                                std::to_string(last) + " fall outside the Ewald sphere at " +
                                list_real(st.voltage) + " kV";
        const std::string read = list_real(n) + (series ? " (of the series 999)" : "");
        if (!st.condition_read_at.empty()) bad_value(st.condition_read_at, why, read);
        halt({"The " + why, "Read: " + read});
    }
}

// The text of the defect configuration file the run reads ("" when there is none).
std::string defect_configuration_text(const State& st) {
    const std::string path = st.defect_kind == DefectKind::loop ? "loop.ini" : trim(st.f_defect);
    if (st.defect_kind == DefectKind::perfect || path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool needs_configuration_file(DefectKind kind) {
    return kind != DefectKind::perfect && kind != DefectKind::loop;
}

} // namespace

void check_defect_style(const State& st) {
    if (st.defect_kind == DefectKind::unknown)
        halt({"SYSTEM HALT, the style of defect given is wrong",
              "Read: \"" + trim(st.defect) +
                  "\" (known: no, edge, screw, loop, void, pg_loop, tetrahedron, 3D-strain, "
                  "inclusion, dissociated, population)"});
    if (needs_configuration_file(st.defect_kind) && trim(st.f_defect).empty())
        halt({"No defect configuration file is given, but the defect \"" + trim(st.defect) +
                  "\" needs one.",
              "Usage: korvex -t <input file> <defect configuration file>"});
    // A population is read whole before anything is written.
    if (st.defect_kind == DefectKind::population)
        check_population_columns(read_population_file(st.f_defect), st.ca);
}

void start_run(State& st, RunContext& rc) {
    rc.run_start = std::chrono::steady_clock::now();
    // File times come from a coarser clock than now(): a file written at once may read as a few
    // milliseconds older.
    rc.files_since = std::filesystem::file_time_type::clock::now() - std::chrono::milliseconds(50);
    // An unknown crystal stops here, naming where it was read, before anything is computed.
    crystalparameter(st.sample, st.sample_source);
    // The reports-only job computes no potential coefficients (they stay zero), but its slices
    // and reports still need the lattice constant behind the wave quantities.
    if (st.job != Job::reports_only)
        potential_coefficients(st);
    else
        st.lat_c = crystalparameter(st.sample, st.sample_source).a;
    check_grid(st);
    if (run_core_seconds(st) > 3600) st.console() << " * NOTE: " << run_length_text(st) << "\n";
    cal_wave_quantities(st.input(), st.optics());
    check_illumination(st, rc);
    if (st.slice_tolerance > 0.0)
        if (const std::string why = graded_slices_refusal(st); !why.empty()) halt(why);
    if (st.job != Job::reports_only) check_condition_reach(st);
    cal_sample(st.input(), st.grid());
    if (writes_files(rc)) write_slice_table(st);
    cal_mtx_g(st.input(), st.optics());
    rc.output_base_at_start = st.f_out;
    rc.nominal_condition_n = st.condition_n;
    rc.n_layer = 0;
    if (rc.results && holds_results(rc))
        begin_run(*rc.results, st, defect_configuration_text(st), program_version());
    if (!writes_files(rc)) return;
    begin_report_document(st, rc);
    open_run_record(st, rc);
}

namespace {

// Time, engine and the files of the run, by folder: the data directory and, where it is
// another, the working directory (slice table, loop maps, amplitude-phase records).
void print_run_summary(const State& st, const RunContext& rc) {
    namespace fs = std::filesystem;
    const std::string base = trim(rc.output_base_at_start);
    const std::vector<std::string> prefixes{base, "Images" + base};
    const std::string data = trim(st.datadir);
    // The run's inputs may bear its name (the input file is its name) and be just written.
    auto outputs = [&](const std::string& dir) {
        std::vector<std::string> names = files_written(dir, prefixes, rc.files_since);
        std::erase_if(names, [&](const std::string& n) {
            return n == base || n == fs::path(trim(st.f_defect)).filename().string();
        });
        return names;
    };
    std::vector<std::pair<std::string, std::vector<std::string>>> dirs{{data, outputs(data)}};
    std::error_code ec;
    if (!fs::equivalent(data.empty() ? "." : data, ".", ec) || ec)
        dirs.emplace_back("./", outputs(""));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - rc.run_start;
    // The engine that ran (the table engine says how much it solved exactly).
    const std::string engine = st.engine_ran.empty() ? engine_name(st.engine) : st.engine_ran;
    st.console() << run_summary(took.count(), engine, absorption_name(st.absorption), dirs);
}

} // namespace

void end_run(State& st, RunContext& rc) {
    // A signal that came while the last files were written stops the run before it is closed.
    check_stop_signal();
    if (rc.overview && !rc.overview_rows.empty())
        rc.overview->write(st, rc.overview_rows,
                           trim(st.datadir) + trim(rc.output_base_at_start) + "_overview.png");
    rc.overview_rows.clear();
    if (rc.results && holds_results(rc)) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - rc.run_start;
        rc.results->seconds = took.count();
        // Before the run record and the document appear: a failure leaves none of them.
        if (rc.hdf5 && writes_files(rc))
            write_hdf5_results(*rc.results,
                               trim(st.datadir) + trim(rc.output_base_at_start) + ".h5");
    }
    if (rc.tex.is_open()) end_report_document(st, rc);
    close_run_record(rc);
    if (writes_files(rc)) print_run_summary(st, rc);
    st.sliceposition.clear();
    st.slicethickness.clear();
    st.graded = false;
    st.slice_reach.clear();
}

void select_condition(State& st, RunContext& rc, int s) {
    st.condition_n = series_condition(s);
    rc.condition_text = number_text(st.condition_n);
    st.f_out = trim(rc.output_base_at_start) + "g" + trim(rc.condition_text) + "g";
}

void run_conditions(State& st, RunContext& rc) {
    if (rc.nominal_condition_n != kConditionSeries) {
        rc.condition_text = number_text(st.condition_n);
        run_condition(st, rc);
        return;
    }
    if (series_split_by_condition(st, rc)) {
        run_series_split(st, rc);
        return;
    }
    for (int s = 1; s <= kSeriesLength; ++s) {
        select_condition(st, rc, s);
        run_condition(st, rc);
        if (rc.job9_finished) return;
        if (s < kSeriesLength && writes_files(rc)) record_new_simulation(rc);
    }
}

namespace {

// The crossing marks of a split run's rows onto the writer, as numbers (a step).
void gather_marks(Communicator& split, Array3<int>& marks) {
    Array3<double> m(marks.n1(), marks.n2(), marks.n3());
    std::copy(marks.data(), marks.data() + marks.size(), m.data());
    split.gather_rows(m);
    std::transform(m.data(), m.data() + m.size(), marks.data(),
                   [](double v) { return static_cast<int>(v); });
}

// Beam geometry and per-beam divisors of the current condition.
void condition_setup(State& st) {
    if (tilted_beams(st.ca)) {
        geometry(st.n_beams, st.g, st.mtx_g, st.k, st.condition_n, st.mtx_q, st.s_g);
        for (int n = 1; n <= st.n_beams; ++n) st.shift_angle(n) = st.mtx_q(n).imag();
    } else if (st.ca == ColumnApprox::yes) {
        geometry(st.n_beams, st.g, st.mtx_g, st.k, st.condition_n, st.mtx_q, st.s_g);
        for (int n = 1; n <= st.n_beams; ++n) {
            st.mtx_q(n) = cplx(0.0, 0.0);
            st.shift_angle(n) = 0.0;
        }
    } else {
        halt("System HALT! Please select the Column Approximation applied or not.");
    }
    show_system_parameters(st);
    for (int n = 1; n <= st.n_beams; ++n) {
        st.kg_z(n) = st.k * std::cos(st.mtx_q(n).imag());
        st.mtx_bg(n) = st.ca == ColumnApprox::yes ? st.k : st.kg_z(n);
    }
}

bool strained_model(DefectKind kind) {
    return kind != DefectKind::perfect && kind != DefectKind::vacancy;
}

// Job 3: whether slice `islice` gives a layer image; `every` when every slice does.
bool layer_saved(const State& st, int islice, bool& every) {
    every = std::abs(st.condition_n - 1.0) <= 0.8;
    if (every) return true;
    // Thick slices (over 4 Angstrom) would round the step to zero; one slice is the least.
    const int nstep = std::max(1, nint(2.0 / st.slicethickness(islice)));
    const double ratio = static_cast<double>(islice) / nstep;
    return (st.n_slice - islice) / nstep <= 31 && ratio - std::floor(ratio) <= 0.1;
}

// Job 3 after the intensities of a saved slice `islice`.
void save_layer(State& st, RunContext& rc, int islice, bool page_breaks, bool& warned) {
    st.console() << (Rec("The intensity is saved for the layer") << islice).list() << '\n';
    if (!multi_layer_images(st, rc, islice)) {
        if (!warned)
            st.console() << " * WARNING: the beam row holds no beam 1g, so no layer images "
                            "are written\n";
        warned = true;
        return;
    }
    if (!page_breaks && rc.display) rc.display->show_image(st, rc.last_image_path);
    ++rc.n_layer;
    if (page_breaks && rc.n_layer == 32) {
        report_page_break(st, rc, defect_caption(st));
        rc.n_layer = 0;
    }
    report_layer_image(st, rc, islice);
    record_layer_image(rc);
}

// The beam of order 1, or 0.
int first_order_beam(const State& st) {
    for (int n = 1; n <= st.n_beams; ++n)
        if (st.mtx_beams(n) == 1) return n;
    return 0;
}

} // namespace

void run_condition(State& st, RunContext& rc) {
    // A condition of a series split by condition is computed here for the writer (recording)
    // or written here from another process's record (replaying); otherwise the rows may be
    // split over the processes.
    ConditionTape* const tape = rc.tape;
    const bool replay = tape && tape->replaying(), record = tape && !replay;
    Communicator* const split = rc.whole_conditions ? nullptr : rc.comm;
    const bool holder = !record && holds_results(rc), writer = holder && rc.files;
    RunResults* const keep = holder ? rc.results : nullptr;
    const auto condition_start = std::chrono::steady_clock::now();
    std::ostream* const console = st.out;
    std::ostream quiet(nullptr);
    if (replay) st.out = &quiet; // the computing process's lines are printed instead

    st.console()
        << (Rec("Start calculations for the condition (g,") << st.condition_n << ")").list()
        << '\n';
    condition_setup(st);
    st.console() << resolution_warnings(st);
    if (auto w = first_order_absorption_warning(st)) st.console() << *w;
    initial_amplitudes(st);
    check_defect_style(st);
    if (keep) begin_condition(*keep, st);
    std::unique_ptr<DefectField> field =
        with_slice_outputs(make_defect_field(st), st, writes_files(rc));
    st.out = console;
    if (tape) tape->text(st.console());

    if (st.job == Job::amplitude_phase) {
        // Single columns: the writer alone.
        if (writer) amplitude_phase_job(st, rc, *field);
        rc.job9_finished = true;
        return;
    }
    if (st.illumination.scanning()) {
        run_probe_condition(st, rc, *field);
        return;
    }

    // Automatic slicing, planned once for the run (the terms do not depend on the condition
    // under the column approximation), from a field of its own: the run's writes slice files.
    if (st.slice_tolerance > 0.0 && !st.graded) {
        const std::unique_ptr<DefectField> planning = make_defect_field(st);
        st.console() << plan_graded_slices(st, *planning);
        if (writer) write_slice_table(st);
    }
    if (rc.display) rc.display->begin_condition(st);
    int flag = 1;
    ColumnEngine engine(st.engine);
    st.engine_ran = engine_name(st.engine);
    if (!replay) {
        const std::string why = engine.prepare(st);
        if (!why.empty())
            st.console() << " * WARNING: the table engine solves every column exactly here: " << why
                         << '\n';
    }
    ThicknessFringes fringes;
    const RowBlock rows = split ? split->rows(st.n_pixel_y) : RowBlock{1, st.n_pixel_y};
    if (split) field->keep_rows(rows.first, rows.last);
    const bool whole_image = rows.first == 1 && rows.last == st.n_pixel_y;
    // The intensities of a slice reach the writer where a job keeps them: gathered from the
    // rows of every process, or from the computing process's record.
    auto collect = [&](bool whole) {
        if (!replay) intensities(st);
        if (split) split->gather_rows(st.mtx_intensity);
        if (tape && whole) tape->values(st.mtx_intensity);
        if (tape && !whole && first_order_beam(st) > 0)
            tape->plane(st.mtx_intensity, first_order_beam(st));
    };
    if (st.job == Job::thickness_fringes && holder) fringes.open_files(st);
    st.s_f.fill(0.0);
    st.projection.fill(0);
    const int middle = middle_slice(st);
    bool warned = false;
    const bool blocks = !replay && !tape && !rc.display && slices_in_blocks(st, *field, rows);
    std::vector<RowFill> fills;
    const SliceProgress progress;

    for (int islice = 1; islice <= st.effslicenumber; ++islice) {
        check_stop_signal();
        if (record) tape->check_abandoned();
        if (const int last = blocks ? block_end(st, islice, middle) : islice; last > islice) {
            carry_block(engine, *field, st, islice, last, flag, fills, rows);
            for (int s = islice; s <= last; ++s)
                if (auto line = progress.line(s, st.effslicenumber)) st.console() << *line << '\n';
            islice = last;
            continue;
        }
        // The engine checks the strain terms as it reads them, except those of the middle
        // slice's maps (written before the slice is carried).
        const bool maps = islice == middle && strained_model(terms_kind(st));
        const bool by_engine = !maps && rows.count() > 0 && ColumnEngine::checks_strain(st);
        // A whole image's slice may be filled row by row as the engine carries the rows: each
        // row's terms are then computed on the thread that uses them, while still in its cache.
        RowFill fill;
        if (!replay && by_engine && whole_image && field->fills_rows())
            fill = field->rows_of_slice(st, st.work(), islice);
        if (!replay && !fill) {
            field->fill_slice(st, islice);
            if (!by_engine) check_finite_strain(st, islice);
        }
        // Before anything of a slice is written every process has read it (a strain file may
        // end early): the maps and the gathers of jobs 2 and 3 agree first.
        if (maps) {
            if (split) split->gather_rows(st.s_g_r);
            if (tape) tape->values(st.s_g_r);
            if (writer) print_sgr(st);
            if (keep) add_strain_maps(*keep, st);
        }
        if (!replay) {
            if (fill)
                engine.propagate_slice(st, islice, flag, &fill);
            else
                propagate_rows(engine, st, islice, flag, rows);
            if (by_engine && !engine.verified_strain()) check_finite_strain(st, islice);
            if (!engine.verified_finite()) check_finite_amplitudes(st, islice);
            if (auto line = progress.line(islice, st.effslicenumber)) st.console() << *line << '\n';
            if (rc.display) rc.display->slice_done(st, islice, st.effslicenumber);
        }
        if (tape) tape->text(st.console());
        bool every = false;
        if (st.job == Job::thickness_fringes) {
            // The profiles take one column of each row.
            const int column = fringes.column(st, islice);
            if (!replay) intensities(st);
            if (split) split->gather_column(st.mtx_intensity, column);
            if (tape) tape->column(st.mtx_intensity, column);
            if (holder) fringes.thickness_fringes(st, islice);
        } else if (st.job == Job::layer_images && layer_saved(st, islice, every)) {
            collect(false);
            if (writer) save_layer(st, rc, islice, every, warned);
            if (keep) add_layer(*keep, st, islice);
        }
    }
    if (!replay) st.engine_ran = engine.report();
    if (st.engine != Engine::exact) {
        st.console() << " Column engine: " << st.engine_ran << '\n';
        if (writer) record_engine(rc, st.engine_ran);
    }
    collect(true);
    // Each process marks the crossings of the rows it fills: in blocks, its own rows alone.
    if (split) gather_marks(*split, st.projection);
    if (tape) tape->values(st.projection);
    if (!holder) return;
    if (keep) {
        if (st.job == Job::amplitude_images || st.job == Job::layer_images)
            add_beam_images(*keep, st);
        if (st.job == Job::thickness_fringes) add_fringes(*keep, st, fringes.images());
        const std::chrono::duration<double> took =
            std::chrono::steady_clock::now() - condition_start;
        end_condition(*keep, st, took.count());
    }
    if (!writer) return;

    if (st.job == Job::amplitude_images || st.job == Job::layer_images) {
        amplitude_contrast_images(st, rc);
        OverviewRow row{"(g," + trim(rc.condition_text) + "g)", {}, {}};
        for (int n = 1; n <= st.n_beams; ++n)
            row.images.push_back(trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n)));
        rc.overview_rows.push_back(std::move(row));
        if (rc.display) rc.display->show_image(st, rc.last_image_path);
    } else if (st.job == Job::thickness_fringes) {
        fringes.close_files();
    } else if (st.job != Job::reports_only) {
        st.console() << " * WARNING: job " << job_number(st.job) << " writes no images\n";
    }

    close_condition_reports(st, rc);
}

void close_condition_reports(State& st, RunContext& rc) {
    check_stop_signal();
    st.processing_time = elapsed_seconds(rc);
    print_parameters(st, rc, defect_section(st));
    print_projection(st);
    report_page_break(st, rc, defect_caption(st));
}

} // namespace korvex
