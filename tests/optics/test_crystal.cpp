#include "optics/crystal.hpp"
#include "support/testing.hpp"

#include <tuple>

using namespace korvex;
using namespace korvex::testing;

// The element is named by its first two characters, case mattering; anything else stops.
TEST(CrystalParameter, LookUpByTheFirstTwoCharacters) {
    const CrystalParams cu = crystalparameter("Cu"), cu2 = crystalparameter("Cu-annealed");
    EXPECT_EQ(std::tuple(cu.a, cu.atoms, cu.msd), std::tuple(cu2.a, cu2.atoms, cu2.msd));
    for (const std::string bad : {"cu", "C", "", "Li"})
        EXPECT_EQ(stop_lines([&] { crystalparameter(bad); }),
                  (Lines{"No this element found in the subroutine CrystalParameter.",
                         "Read: \"" + bad + "\" (known: Ag, Al, Au, Cu, Mo, Si, Fe)"}))
            << bad;
}

// gamma = 1 + eV / m c^2 (511.0 keV), to the fourth decimal, at every 100 kV step, matched
// within one volt (exclusive); other voltages stop with two records.
TEST(LorentzFactor, RelativisticFactorWithinOneVolt) {
    for (int i = 1; i <= 10; ++i)
        for (double dv : {0.0, 0.99, -0.99})
            EXPECT_NEAR(lorentzfactor(i * 1e5 + dv), 1.0 + i * 100.0 / 510.999, 1e-4) << i;
    EXPECT_EQ(
        stop_lines([] { lorentzfactor(250000.0); }),
        (Lines{"ERROR: No Lorentz Factor found for", "       accelerating voltage V = 250000.0"}));
    for (double v : {200001.0, 0.0}) EXPECT_EQ(stop_lines([&] { lorentzfactor(v); }).size(), 2u);
}

// Against the relativistic electron wavelength h / sqrt(2 m e V (1 + e V / 2 m c^2)) and
// Bragg's law for the (2 0 0) planes of copper.
TEST(WaveQuantities, CopperTwoHundredKilovoltsG200) {
    State st;
    st.voltage = 200.0, st.lat_c = crystalparameter("Cu").a, st.v_g = {2, 0, 0};
    cal_wave_quantities(st.input(), st.optics());
    const double lambda = korvex::testing::electron_wavelength(200.0);
    EXPECT_TRUE(near_rel(st.d, st.lat_c / 2.0, 1e-12));
    EXPECT_TRUE(near_rel(st.g * st.d, 1.0, 1e-12));
    EXPECT_TRUE(near_rel(st.wavelength, lambda, 5e-4));
    EXPECT_TRUE(near_rel(st.k * st.wavelength, 1.0, 1e-12));
    EXPECT_TRUE(near_rel(2.0 * st.d * std::sin(st.b_angle), st.wavelength, 1e-12));
}
