#include "output/run_results.hpp"

#include "output/result_files.hpp"
#include "state/fmt.hpp"

#include <cmath>

namespace korvex {

namespace {

// The centres of n cells of `step` Angstrom, in nm.
SignalAxis centres(const std::string& name, int n, double step) {
    SignalAxis a{name, "nm", {}};
    for (int i = 1; i <= n; ++i) a.values.push_back((i - 0.5) * step / 10.0);
    return a;
}

// The depth of the exit of slice `s`, Angstrom.
double exit_depth(const State& st, int s) {
    if (s < 1 || s > st.sliceposition.size() || s > st.slicethickness.size()) return 0.0;
    return st.sliceposition(s) + 0.5 * st.slicethickness(s);
}

// Plane n of a per-column array as an image (y, x).
Signal image(const State& st, const Array3<double>& a, int n) {
    Signal s;
    s.beam_order = st.mtx_beams(n);
    s.axes = {centres("y", st.n_pixel_y, st.unit_y), centres("x", st.n_pixel_x, st.unit_x)};
    s.values.reserve(static_cast<std::size_t>(st.n_pixel_x) * st.n_pixel_y);
    for (int j = 1; j <= st.n_pixel_y; ++j)
        for (int i = 1; i <= st.n_pixel_x; ++i) s.values.push_back(a(i, j, n));
    return s;
}

std::vector<double> vec(const Vec3& v) {
    return {v[0], v[1], v[2]};
}

ConditionResults& current(RunResults& r) {
    if (r.conditions.empty()) r.conditions.emplace_back();
    return r.conditions.back();
}

} // namespace

void begin_run(RunResults& r, const State& st, std::string defect_configuration,
               std::string version) {
    r = RunResults{};
    r.defect_configuration = std::move(defect_configuration);
    r.program_version = std::move(version);
    auto& p = r.parameters;
    p.emplace_back("specimen", trim(st.sample_no));
    p.emplace_back("crystal", trim(st.sample));
    p.emplace_back("job", static_cast<long long>(job_number(st.job)));
    p.emplace_back("column_approximation", std::string(column_approx_name(st.ca)));
    p.emplace_back("voltage_kV", st.voltage);
    p.emplace_back("defect", trim(st.defect));
    p.emplace_back("defect_file", trim(st.f_defect));
    p.emplace_back("size_A", std::vector<double>{st.size_x, st.size_y, st.size_z});
    p.emplace_back("thickness_A", st.size_z);
    p.emplace_back("grid", std::vector<double>{double(st.n_pixel_x), double(st.n_pixel_y),
                                               double(st.n_slice)});
    p.emplace_back("pixel_size_A", std::vector<double>{st.unit_x, st.unit_y, st.unit_z});
    p.emplace_back("zone_axis", vec(st.foil));
    p.emplace_back("g", vec(st.v_g));
    p.emplace_back("beams",
                   std::vector<double>{double(st.mtx_beams(1)), double(st.mtx_beams(st.n_beams))});
    p.emplace_back("condition_n", st.condition_n);
    p.emplace_back("absorption", static_cast<long long>(st.iabs != 0));
    p.emplace_back("absorption_model", std::string(absorption_name(st.absorption)));
    p.emplace_back("engine_requested", std::string(engine_name(st.engine)));

    auto& o = r.optics;
    o.emplace_back("lattice_constant_A", st.lat_c);
    o.emplace_back("wavelength_A", st.wavelength);
    o.emplace_back("k_per_A", st.k);
    o.emplace_back("g_per_A", st.g);
    o.emplace_back("plane_spacing_A", st.d);
    o.emplace_back("bragg_angle_rad", st.b_angle);
    std::vector<double> orders, u{st.u0}, ui{st.ui0}, xi;
    for (int m = 0; m <= st.n_beams - 1; ++m) orders.push_back(m);
    for (int m = 1; m <= st.n_beams - 1 && m <= st.u.size(); ++m) {
        u.push_back(st.u(m));
        ui.push_back(st.ui(m));
        // The extinction distance of m g, as the terminal summary gives that of g (0 where the
        // coefficient vanishes).
        const double x = (st.u0 / (2.0 * st.k) + st.k) * std::cos(st.b_angle) / std::abs(st.u(m));
        xi.push_back(std::isfinite(x) ? x : 0.0);
    }
    o.emplace_back("U_orders", orders);
    o.emplace_back("U_g_per_A2", u);
    o.emplace_back("U_prime_g_per_A2", ui);
    o.emplace_back("extinction_distance_A", xi); // of 1g, 2g, ...
}

void begin_condition(RunResults& r, const State& st) {
    ConditionResults c;
    c.condition_n = st.condition_n;
    c.output_name = trim(st.f_out);
    for (int n = 1; n <= st.n_beams; ++n) {
        c.beam_orders.push_back(st.mtx_beams(n));
        c.s_g.push_back(st.s_g(n));
    }
    r.conditions.push_back(std::move(c));
}

void add_beam_images(RunResults& r, const State& st) {
    auto& c = current(r);
    for (int n = 1; n <= st.n_beams; ++n) {
        Signal s = image(st, st.mtx_intensity, n);
        s.name = beam_tag(s.beam_order);
        s.quantity = "intensity";
        s.file = trim(st.f_out) + s.name;
        c.images.push_back(std::move(s));
    }
}

void add_detector_images(RunResults& r, const State& st, const Array3<double>& images,
                         const std::vector<std::string>& names) {
    auto& c = current(r);
    for (std::size_t k = 0; k < names.size() && int(k) < images.n3(); ++k) {
        Signal s;
        s.axes = {centres("y", st.n_pixel_y, st.unit_y), centres("x", st.n_pixel_x, st.unit_x)};
        for (int j = 1; j <= st.n_pixel_y; ++j)
            for (int i = 1; i <= st.n_pixel_x; ++i) s.values.push_back(images(i, j, int(k) + 1));
        s.name = names[k];
        s.quantity = "detector intensity";
        s.file = trim(st.f_out) + "_" + names[k];
        c.images.push_back(std::move(s));
    }
}

void add_strain_maps(RunResults& r, const State& st) {
    auto& c = current(r);
    for (int n = 1; n <= st.n_beams; ++n) {
        Signal s = image(st, st.s_g_r, n);
        s.name = beam_tag(s.beam_order) + "_sgr";
        s.quantity = "strain term s_g_r of the middle slice";
        s.units = "1/Angstrom";
        s.file = trim(st.f_out) + beam_tag(s.beam_order) + "sgr";
        c.maps.push_back(std::move(s));
    }
}

void add_fringes(RunResults& r, const State& st, const std::vector<ImageData>& profiles) {
    auto& c = current(r);
    for (std::size_t k = 0; k < profiles.size() && k < std::size_t(st.n_beams); ++k) {
        const ImageData& p = profiles[k];
        Signal s;
        s.beam_order = st.mtx_beams(int(k) + 1);
        s.name = beam_tag(s.beam_order) + "_fringes";
        s.quantity = "intensity against depth (thickness fringes)";
        s.file = trim(st.f_out) + beam_tag(s.beam_order);
        SignalAxis depth{"depth", "nm", {}};
        for (int i = 1; i <= p.nx(); ++i) depth.values.push_back(exit_depth(st, i) / 10.0);
        s.axes = {centres("y", p.ny(), st.unit_y), std::move(depth)};
        for (int j = 1; j <= p.ny(); ++j)
            for (int i = 1; i <= p.nx(); ++i) s.values.push_back(p.values(i, j));
        c.fringes.push_back(std::move(s));
    }
}

void add_layer(RunResults& r, const State& st, int islice) {
    auto& c = current(r);
    for (int n = 1; n <= st.n_beams; ++n) {
        if (st.mtx_beams(n) != 1) continue;
        if (c.layers.empty()) {
            Signal s = image(st, st.mtx_intensity, n);
            s.name = "01g_layers";
            s.quantity = "intensity of the beam 1g at the exit of a slice";
            s.file = trim(st.f_out) + "01gml";
            s.axes.insert(s.axes.begin(), SignalAxis{"depth", "nm", {}});
            c.layers.push_back(std::move(s));
        } else {
            const Signal one = image(st, st.mtx_intensity, n);
            c.layers[0].values.insert(c.layers[0].values.end(), one.values.begin(),
                                      one.values.end());
        }
        c.layers[0].axes[0].values.push_back(exit_depth(st, islice) / 10.0);
        return;
    }
}

void end_condition(RunResults& r, const State& st, double seconds) {
    auto& c = current(r);
    c.engine = st.engine_ran.empty() ? engine_name(st.engine) : st.engine_ran;
    c.seconds = seconds;
    r.engine = c.engine;
}

} // namespace korvex
