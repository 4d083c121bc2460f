// The convergent probe's incoherent sum (driver/probe_sum.hpp) against the parallel beam it
// reduces to, the intensity it must keep, the fringes it must damp and the symmetry it must keep.
#include "driver/probe_sum.hpp"
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace korvex::testing;

namespace {

Detector detector(double inner, double outer) {
    return {inner == 0.0 ? "bf" : "adf", inner, outer, ""};
}

// The made-up core field of the solver tests, without its fault column: mirrored across the
// image's middle row.
void mirrored_field(State& st, int l) {
    core_field(st, l, false);
    st.s_f.fill(0.0);
}

// The detectors' images of `st` (set up by make_state, its illumination set) after every slice
// of the field, through a ProbeSum; `after_slice` sees the images of each slice.
template <class F = void (*)(const Array3<double>&, int)>
Array3<double> probe_images(State& st, void (*field)(State&, int), F&& after_slice = {}) {
    initial_amplitudes(st);
    ProbeSum probe(st);
    probe.prepare(st);
    Array3<double> img;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        field(st, l);
        probe.carry_slice(st, l);
        if constexpr (!std::is_same_v<std::decay_t<F>, void (*)(const Array3<double>&, int)>) {
            probe.detector_images(st, img);
            after_slice(img, l);
        }
    }
    probe.detector_images(st, img);
    return img;
}

} // namespace

// One direction (no convergence, or a single direction of any convergence) gives, bit for bit,
// the parallel beam's intensity of the beams the detector takes (beam 0 on the bright field,
// beams -1 + 1 on an annulus around 2 theta_B), with either engine and absorption model.
TEST(ProbeSum, OneDirectionIsTheParallelBeamBitForBit) {
    ColumnSetup s{.first = -2, .last = 2, .npx = 9, .npy = 6, .nslice = 12};
    s.thickness = 300.0, s.defect = "edge";
    for (const Engine e : {Engine::exact, Engine::table})
        for (const char* abs : {"first-order", "exact"})
            for (const auto& [alpha, count] : {std::pair(0.0, 19), std::pair(4.0, 1)}) {
                SCOPED_TRACE(std::string(engine_name(e)) + " " + abs + " " + std::to_string(alpha));
                State ref = make_state(s);
                ref.engine = e, ref.absorption = *absorption_from_name(abs);
                initial_amplitudes(ref);
                ColumnEngine engine(e);
                engine.prepare(ref);
                int flag = 1;
                for (int l = 1; l <= ref.effslicenumber; ++l) {
                    core_field(ref, l, false);
                    engine.propagate_slice(ref, l, flag);
                }
                intensities(ref);

                State st = make_state(s);
                st.engine = ref.engine, st.absorption = ref.absorption;
                st.illumination = {alpha, count, {detector(0, 1), detector(10, 20)}, "", ""};
                const Array3<double> img =
                    probe_images(st, [](State& x, int l) { core_field(x, l, false); });
                int differ = 0;
                for (int j = 1; j <= s.npy; ++j)
                    for (int i = 1; i <= s.npx; ++i) {
                        const double bf = ref.mtx_intensity(i, j, 3);
                        const double adf = ref.mtx_intensity(i, j, 2) + ref.mtx_intensity(i, j, 4);
                        differ += img(i, j, 1) != bf || img(i, j, 2) != adf;
                    }
                EXPECT_EQ(differ, 0);
            }
}

// Without absorption a detector that takes every beam of every direction collects the whole
// incident intensity at every column, strained or not, with either engine (the table engine to
// its interpolation error).
TEST(ProbeSum, EveryBeamWithoutAbsorptionKeepsTheIntensity) {
    ColumnSetup s{.first = -2, .last = 2, .npx = 9, .npy = 6, .nslice = 12};
    s.thickness = 300.0, s.defect = "edge", s.absorption = false;
    for (const Engine e : {Engine::exact, Engine::table}) {
        State st = make_state(s);
        st.engine = e;
        st.illumination = {5.0, 7, {detector(0, 1000)}, "", ""};
        const Array3<double> img = probe_images(st, mirrored_field);
        double worst = 0.0;
        for (int j = 1; j <= s.npy; ++j)
            for (int i = 1; i <= s.npx; ++i) worst = std::max(worst, std::abs(img(i, j, 1) - 1.0));
        EXPECT_LT(worst, e == Engine::exact ? 1e-12 : 1e-6) << engine_name(e);
    }
}

// A perfect foil's bright-field thickness fringes: the probe's profile is the weighted sum of
// the parallel-beam profiles of its directions, each computed here on its own from its tilted
// wave vector, and the fringes' swing deep in the foil falls as the convergence grows.
TEST(ProbeSum, BrightFieldFringesDampedAsTheConvergenceGrows) {
    ColumnSetup s{.first = -1, .last = 2, .npx = 1, .npy = 1, .nslice = 200};
    s.thickness = 2000.0, s.absorption = false;
    const int count = 19;
    std::vector<double> swing;
    for (double alpha : {0.0, 1.0, 2.0, 4.0}) {
        // The profile of the sum.
        State st = make_state(s);
        st.illumination = {alpha, count, {detector(0, alpha + 0.5)}, "", ""};
        std::vector<double> profile;
        probe_images(
            st, [](State& x, int) { x.s_g_r.fill(0.0), x.s_f.fill(0.0); },
            [&](const Array3<double>& img, int) { profile.push_back(img(1, 1, 1)); });
        // The same sum: each direction's excitation errors from its own wave vector, its column
        // carried alone by a parallel-beam engine.
        std::vector<double> sum(profile.size(), 0.0);
        for (const ProbeDirection& d : probe_directions(alpha * 1e-3, count)) {
            State one = make_state(s);
            const double t = 0.5 * one.condition_n * one.g, k = one.k,
                         kz0 = std::sqrt(k * k - t * t);
            const double th = std::hypot(d.along, d.across);
            const double c = std::cos(th), sn = th > 0 ? std::sin(th) / th : 0.0;
            const double kx = c * -t + sn * d.along * kz0, ky = k * sn * d.across,
                         kz = c * kz0 + sn * d.along * t;
            if (!d.axis())
                for (int n = 1; n <= one.n_beams; ++n) {
                    const double x = kx + one.mtx_g(n);
                    one.s_g(n) = std::sqrt(k * k - x * x - ky * ky) - kz;
                }
            initial_amplitudes(one);
            ColumnEngine engine(Engine::exact);
            int flag = 1;
            for (int l = 1; l <= one.effslicenumber; ++l) {
                engine.propagate_slice(one, l, flag);
                intensities(one);
                sum[std::size_t(l - 1)] += d.weight * one.mtx_intensity(1, 1, 2);
            }
        }
        double far = 0.0, lo = 1.0, hi = 0.0;
        for (std::size_t l = 0; l < profile.size(); ++l) {
            far = std::max(far, std::abs(profile[l] - sum[l]));
            if (l >= profile.size() / 2)
                lo = std::min(lo, profile[l]), hi = std::max(hi, profile[l]);
        }
        EXPECT_LT(far, 1e-12) << alpha;
        swing.push_back(hi - lo);
    }
    // Measured: 0.97, 0.96, 0.85, 0.40 (4 beams, 19 directions, 1000 to 2000 Angstrom).
    for (std::size_t a = 1; a < swing.size(); ++a) EXPECT_LT(swing[a], swing[a - 1]) << a;
    EXPECT_LT(swing.back(), 0.5 * swing.front());
}

// A field mirrored across the middle row gives mirrored images, in the parallel beam as through
// the probe, on either detector and with either engine.
TEST(ProbeSum, MirroredDefectGivesMirroredImages) {
    ColumnSetup s{.first = -2, .last = 2, .npx = 9, .npy = 8, .nslice = 12};
    s.thickness = 300.0, s.defect = "edge";
    for (const Engine e : {Engine::exact, Engine::table})
        for (const auto& [alpha, count] : {std::pair(0.0, 1), std::pair(5.0, 7)}) {
            State st = make_state(s);
            st.engine = e;
            st.illumination = {alpha, count, {detector(0, 6), detector(10, 20)}, "", ""};
            const Array3<double> img = probe_images(st, mirrored_field);
            int asymmetric = 0;
            for (int k = 1; k <= 2; ++k)
                for (int j = 1; j <= s.npy; ++j)
                    for (int i = 1; i <= s.npx; ++i)
                        asymmetric += img(i, j, k) != img(i, s.npy + 1 - j, k);
            EXPECT_EQ(asymmetric, 0) << engine_name(e) << " " << alpha;
            // And the image is not flat: the field shows.
            EXPECT_NE(img(2, 4, 1), img(8, 4, 1));
        }
    // That symmetry is why a direction's mirror across the row need not be carried: of 16
    // directions 10 are (the centre, 4 of ring 1's 6, 5 of ring 2's 9), with all the weight.
    State st = make_state(s);
    st.illumination = {5.0, 16, {detector(0, 6)}, "", ""};
    initial_amplitudes(st);
    const ProbeSum probe(st);
    double w = 0.0;
    for (const auto& d : probe.carried()) w += d.weight;
    EXPECT_EQ(probe.directions(), 10);
    EXPECT_NEAR(w, 1.0, 1e-15);
}
