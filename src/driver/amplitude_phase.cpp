#include "driver/amplitude_phase.hpp"

#include "state/stop_signals.hpp"

#include "output/record.hpp"
#include "output/reports.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/textout.hpp"

#include <cmath>

namespace korvex {

double amplitude_phase_position(int p) {
    return p <= 50 ? 2.0 * (p - 51) : 2.0 * (p - 50);
}

namespace {

constexpr double kTwoPi = 6.283185307179586;

// A fixed-point field of width `w`, widened to the width the value needs where it does not fit
// (a depth of 1000 A and more, a large phase sum): the record stays readable as two numbers,
// and every value that fits keeps the fixed columns.
std::string widening_f(double v, int w, int d) {
    std::string s = fmt_f(v, w, d);
    while (s.find('*') != std::string::npos && w < 40) s = fmt_f(v, ++w, d);
    return s;
}

} // namespace

std::string phase_record(double z, double v) {
    return widening_f(static_cast<float>(z), 6, 2) + " " + widening_f(v, 10, 5);
}

namespace {

// The beam that is diagrammed: the first-order reflection g. The second beam of the row is g
// only when the row starts at the transmitted beam; with a row such as -1 .. 3 it is the
// transmitted beam itself, whose phase terms are all zero. A row without g keeps the second.
int diagrammed_beam(const State& st) {
    for (int n = 1; n <= st.n_beams; ++n)
        if (st.mtx_beams(n) == 1) return n;
    return 2;
}

} // namespace

void amplitude_phase_job(State& st, RunContext& rc, DefectField& field) {
    if (st.n_beams < 2)
        halt("The amplitude-phase job needs at least two beams (it diagrams a diffracted beam)");
    const std::string filetemp = trim(st.f_out);
    const bool screw = terms_kind(st) == DefectKind::screw;
    const int nb = diagrammed_beam(st);
    const double s_g = st.s_g(nb);
    const int nz = st.n_slice;
    const double dz = st.size_z / nz;
    bool to_files = st.text_mode; // no screen in text mode: every diagram goes to a file
    for (int p = 1; p <= 100; ++p) {
        check_stop_signal();
        st.colxy[1] = amplitude_phase_position(p);
        const std::string s = trim(number_text(std::abs(st.colxy[1])));
        st.f_out = st.colxy[1] >= 0 ? filetemp + "_" + s : filetemp + "_-" + s;
        st.console() << (Rec("colxy ") << st.colxy[0] << st.colxy[1]).list() << '\n';

        PhaseDiagram d;
        cplx a(0.0, 0.0);
        d.perfect.emplace_back(0.0, 0.0);
        for (int j = 1; j <= nz; ++j) {
            const double z = j * dz;
            a += dz * std::exp(cplx(0.0, -kTwoPi * s_g * z));
            d.perfect.emplace_back(a.real(), a.imag());
        }

        // The records of every defect: depth, the displacement phase g.R in cycles of g, s_g z
        // and their sum. The screw gives g.R itself; the other models give its depth
        // derivative (the strain term), summed here from the entrance surface.
        std::string gdr, sgz, tot;
        a = cplx(0.0, 0.0);
        double alpha = 0.0, gr_sum = 0.0;
        d.defect.emplace_back(0.0, 0.0);
        for (int j = 1; j <= nz; ++j) {
            const double z = j * dz;
            field.fill_column(st, j);
            double gr = 0.0;
            if (screw) {
                gr = st.g_r(1, 1, nb);
                alpha = kTwoPi * (s_g * z + gr);
            } else {
                alpha += kTwoPi * (s_g + st.s_g_r(1, 1, nb)) * dz;
                gr = gr_sum += st.s_g_r(1, 1, nb) * dz;
            }
            gdr += phase_record(z, gr) + "\n";
            sgz += phase_record(z, s_g * z) + "\n";
            tot += phase_record(z, gr + s_g * z) + "\n";
            a += dz * std::exp(cplx(0.0, -alpha));
            d.defect.emplace_back(a.real(), a.imag());
        }
        write_text_file(trim(st.f_out) + ".gdr", gdr);
        write_text_file(trim(st.f_out) + ".sgz", sgz);
        write_text_file(trim(st.f_out) + ".tot", tot);

        if (!rc.plotter) continue;
        for (;;) {
            const auto choice = rc.plotter->draw(st, d, to_files ? trim(st.f_out) + ".ps" : "");
            if (choice == PhasePlotter::Choice::to_files && !to_files) {
                to_files = true; // redo this position into its file
                continue;
            }
            if (choice == PhasePlotter::Choice::exit) {
                rc.exit_requested = true;
                return;
            }
            if (choice == PhasePlotter::Choice::back_to_run) {
                rc.back_to_run_panel = true;
                return;
            }
            break;
        }
    }
    st.console() << " Amplitude-Phase plotting finished\n";
}

} // namespace korvex
