#include "optics/crystal.hpp"
#include "support/testing.hpp"

using namespace korvex;
using korvex::testing::near_rel;
using korvex::testing::stop_lines;

TEST(CrystalParameter, SilverAluminiumAndMolybdenumHaveTheirOwnCells) {
    EXPECT_EQ(crystalparameter("Ag").a, 4.0853);
    const CrystalParams al = crystalparameter("Al"), mo = crystalparameter("Mo");
    EXPECT_EQ(al.atoms, 4.0);
    EXPECT_EQ(al.a, 4.0495);
    EXPECT_EQ(al.msd, 0.0108);
    EXPECT_EQ(mo.atoms, 2.0);
    EXPECT_EQ(mo.a, 3.1472);
    EXPECT_EQ(mo.msd, 0.0022);
    EXPECT_EQ(mo.lattice, Lattice::bcc);
    EXPECT_EQ(crystalparameter("Si").lattice, Lattice::diamond);
}

TEST(CrystalParameter, OnlyTheFirstTwoCharactersCountAndCaseMatters) {
    EXPECT_EQ(crystalparameter("Cu-annealed").a, 3.61);
    const std::vector<std::string> stop{
        "No this element found in the subroutine CrystalParameter."};
    EXPECT_EQ(stop_lines([] { crystalparameter("cu"); }), stop);
    EXPECT_EQ(stop_lines([] { crystalparameter("C"); }), stop);
    EXPECT_EQ(stop_lines([] { crystalparameter(""); }), stop);
    EXPECT_EQ(stop_lines([] { crystalparameter("Li"); }), stop);
}

TEST(LorentzFactor, RowsWithinOneVolt) {
    EXPECT_EQ(lorentzfactor(100000.0), 1.1957);
    EXPECT_EQ(lorentzfactor(200000.0), 1.3914);
    EXPECT_EQ(lorentzfactor(200000.5), 1.3914); // 200.0005 kV
    EXPECT_EQ(lorentzfactor(299999.2), 1.5871);
    EXPECT_EQ(lorentzfactor(1000000.0), 2.9569);
}

TEST(LorentzFactor, OtherVoltagesStopWithTwoRecords) {
    EXPECT_EQ(stop_lines([] { lorentzfactor(250000.0); }),
              (std::vector<std::string>{"ERROR: No Lorentz Factor found for",
                                        "       accelerating voltage V = 250000.0"}));
    EXPECT_EQ(stop_lines([] { lorentzfactor(1100000.0); }).at(1),
              "       accelerating voltage V = 1100000.0");
    EXPECT_EQ(stop_lines([] { lorentzfactor(200001.0); }).size(), 2u); // exactly 1 V off
    EXPECT_EQ(stop_lines([] { lorentzfactor(0.0); }).size(), 2u);
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

TEST(WaveQuantities, NonIntegerGIsUsedAsRead) {
    State st;
    st.voltage = 100.0;
    st.lat_c = 4.0;
    st.v_g = {1.5, 0, 2};
    cal_wave_quantities(st);
    EXPECT_DOUBLE_EQ(st.d, 4.0 / 2.5);
    EXPECT_DOUBLE_EQ(st.g, 2.5 / 4.0);
    EXPECT_DOUBLE_EQ(std::sin(st.b_angle), st.wavelength / (2 * st.d));
}
