#include "gui/defect_config_text.hpp"

#include "state/fmt.hpp"

namespace korvex {

namespace {

std::string record_free(const std::string& text) {
    return " " + text + "\n";
}

std::string header(const std::string& title) {
    return record_free(title) + record_free(std::string(67, '='));
}

std::string f_fields(const double* v, int n, int w, int d) {
    std::string s;
    for (int i = 0; i < n; ++i) s += fmt_f(v[i], w, d);
    return s;
}

std::string blanks(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// The optional last record of the edge and screw files.
std::string elasticity_record(Elasticity e) {
    if (e == Elasticity::isotropic) return "";
    return "anisotropic" + blanks(8) + fmt_a("Elasticity: isotropic or anisotropic", 50) + "\n";
}

} // namespace

std::string screw_ini_text(const FractionVector& b, const Vec3& point, const Vec3& cut_plane,
                           int relaxation, Elasticity elasticity) {
    return header("             {Data for the screw dislocation in Crystal}") +
           f_fields(b.data(), 5, 5, 1) + blanks(5) + fmt_a("Burger vector m/n[i,j,k]", 50) + "\n" +
           f_fields(point.data(), 3, 8, 2) + blanks(5) +
           fmt_a("A point that the screw dislocation passes", 50) + "\n" +
           f_fields(cut_plane.data(), 3, 5, 1) + blanks(11) + fmt_a("Cut plane", 50) + "\n" +
           fmt_i(relaxation, 4) + blanks(15) + fmt_a("Surface relaxation, 1: with, 0 without", 50) +
           "\n" + elasticity_record(elasticity);
}

std::string edge_ini_text(const FractionVector& b, const Vec3& point, const Vec3& line,
                          double poisson, int relaxation, Elasticity elasticity) {
    return header("             {Data for the edge dislocation in Crystal}") +
           f_fields(b.data(), 5, 5, 1) + blanks(5) + fmt_a("Burger vector m/n[i,j,k]", 50) + "\n" +
           f_fields(point.data(), 3, 8, 2) + blanks(5) +
           fmt_a("A point that the edge dislocation passes", 50) + "\n" +
           f_fields(line.data(), 3, 5, 1) + blanks(11) + fmt_a("Dislocation line", 50) + "\n" +
           fmt_f(poisson, 8, 5) + blanks(11) + fmt_a("Poissons ratio", 30) + "\n" +
           fmt_f(0.0, 8, 5) + blanks(11) + fmt_a("A factor to avoid the singularity", 30) + "\n" +
           fmt_i(relaxation, 4) + blanks(15) + fmt_a("Surface relaxation, 1: with, 0 without", 50) +
           "\n" + elasticity_record(elasticity);
}

std::string pgloop_ini_text(const std::string& loopstyle, const FractionVector& b,
                            const FractionVector& fault, double radius, const Vec3& position,
                            const Vec3& normal, const Vec3& polar, int nsides, double poisson) {
    return header("             {Data for the polygonal loop in Crystal}") +
           record_free(pad(loopstyle, 30)) + f_fields(b.data(), 5, 5, 1) + blanks(5) +
           fmt_a("Burger vector: m/n[i,j,k]", 50) + "\n" + f_fields(fault.data(), 5, 5, 1) +
           blanks(5) + fmt_a("Stacking fault: m/n[i,j,k]", 50) + "\n" + fmt_f(radius, 10, 4) +
           blanks(5) + fmt_a("Radius of the loop, diameter/2", 50) + "\n" +
           f_fields(position.data(), 3, 8, 2) + blanks(5) +
           fmt_a("The position of the loop in the foil", 50) + "\n" +
           f_fields(normal.data(), 3, 5, 1) + blanks(11) + fmt_a("Loop habit plane", 50) + "\n" +
           f_fields(polar.data(), 3, 5, 1) + blanks(11) + fmt_a("Loop plane pole", 50) + "\n" +
           fmt_i(nsides, 5) + blanks(5) + fmt_a("The number of the loop edges", 50) + "\n" +
           fmt_f(poisson, 10, 4) + blanks(5) + fmt_a("Poissons ratio", 50) + "\n" +
           fmt_f(1.0, 10, 4) + blanks(5) + fmt_a("Factor to avoid singularity", 50) + "\n";
}

} // namespace korvex
