#include "optics/crystal.hpp"
#include "support/testing.hpp"

#include <tuple>

using namespace korvex;
using korvex::testing::near_rel;
using korvex::testing::stop_lines;
using Lines = std::vector<std::string>;

// The element is named by its first two characters, case mattering; anything else stops.
TEST(CrystalParameter, LookUpByTheFirstTwoCharacters) {
    const CrystalParams al = crystalparameter("Al"), mo = crystalparameter("Mo");
    EXPECT_EQ(std::tuple(crystalparameter("Ag").a, al.atoms, al.a, al.msd, mo.atoms, mo.a, mo.msd),
              std::tuple(4.0853, 4.0, 4.0495, 0.0108, 2.0, 3.1472, 0.0022));
    EXPECT_EQ(crystalparameter("Cu-annealed").a, 3.61);
    for (const std::string bad : {"cu", "C", "", "Li"})
        EXPECT_EQ(stop_lines([&] { crystalparameter(bad); }),
                  (Lines{"No this element found in the subroutine CrystalParameter.",
                         "Read: \"" + bad + "\" (known: Ag, Al, Au, Cu, Mo, Si, Fe)"}))
            << bad;
}

// Table rows are matched within one volt (exclusive); other voltages stop with two records.
TEST(LorentzFactor, RowsWithinOneVolt) {
    const std::pair<double, double> rows[] = {
        {200000.5, 1.3914}, {299999.2, 1.5871}, {1000000.0, 2.9569}};
    for (const auto& [v, f] : rows) EXPECT_EQ(lorentzfactor(v), f) << v;
    EXPECT_EQ(
        stop_lines([] { lorentzfactor(250000.0); }),
        (Lines{"ERROR: No Lorentz Factor found for", "       accelerating voltage V = 250000.0"}));
    for (double v : {200001.0, 0.0}) EXPECT_EQ(stop_lines([&] { lorentzfactor(v); }).size(), 2u);
}

TEST(WaveQuantities, CopperTwoHundredKilovoltsG200) {
    State st;
    st.voltage = 200.0;
    st.lat_c = crystalparameter("Cu").a;
    st.v_g = {2, 0, 0};
    cal_wave_quantities(st);
    EXPECT_TRUE(near_rel(st.d, 1.805, 1e-12));
    EXPECT_TRUE(near_rel(st.g, 0.554017, 5e-6));
    EXPECT_TRUE(near_rel(st.k, 39.8884, 5e-6));
    EXPECT_TRUE(near_rel(st.wavelength, 0.0250700, 5e-6));
    EXPECT_TRUE(near_rel(st.b_angle, 0.00694464, 5e-6));
    // The single-precision constants are part of the result: 0.9788 and 12.26 as doubles would
    // move k in the eighth digit.
    const double k_double = std::sqrt(200000.0) * std::sqrt(1.0 + 0.9788 * 0.001 * 200.0) / 12.26;
    EXPECT_NE(st.k, k_double);
    EXPECT_TRUE(near_rel(st.k, k_double, 1e-7));
}
