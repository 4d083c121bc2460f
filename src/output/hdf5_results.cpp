#include "output/hdf5_results.hpp"

#include "state/error.hpp"
#include "state/pending_file.hpp"

#include <hdf5.h>
#include <hdf5_hl.h>

#include <cmath>
#include <cstdio>
#include <type_traits>
#include <variant>
#include <vector>

namespace korvex {

namespace {

// An HDF5 identifier closed with its own function when it leaves scope.
class Id {
  public:
    Id(hid_t id, herr_t (*close)(hid_t), const char* what) : id_(id), close_(close) {
        if (id_ < 0) halt(std::string("HDF5 results: cannot create ") + what);
    }
    Id(Id&& o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = -1; }
    ~Id() {
        if (id_ >= 0) close_(id_);
    }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;
    operator hid_t() const { return id_; }

  private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

void check(herr_t status, const std::string& what) {
    if (status < 0) halt("HDF5 results: cannot write " + what);
}

Id group(hid_t parent, const std::string& name) {
    return Id(H5Gcreate2(parent, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose,
              name.c_str());
}

void attribute(hid_t at, const std::string& name, const std::string& text) {
    Id type(H5Tcopy(H5T_C_S1), H5Tclose, "a string type");
    check(H5Tset_size(type, H5T_VARIABLE), name);
    check(H5Tset_cset(type, H5T_CSET_UTF8), name);
    Id space(H5Screate(H5S_SCALAR), H5Sclose, "a scalar");
    Id a(H5Acreate2(at, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose,
         name.c_str());
    const char* p = text.c_str();
    check(H5Awrite(a, type, &p), name);
}

template <class T> void attribute(hid_t at, const std::string& name, const std::vector<T>& v) {
    const hid_t type = std::is_same_v<T, double> ? H5T_NATIVE_DOUBLE : H5T_NATIVE_LLONG;
    const hsize_t n = v.size();
    Id space(v.size() == 1 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &n, nullptr), H5Sclose,
             "a space");
    Id a(H5Acreate2(at, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose,
         name.c_str());
    if (!v.empty()) check(H5Awrite(a, type, v.data()), name);
}

void attribute(hid_t at, const std::string& name, double v) {
    attribute(at, name, std::vector<double>{v});
}
void attribute(hid_t at, const std::string& name, long long v) {
    attribute(at, name, std::vector<long long>{v});
}

void parameter(hid_t at, const std::string& name, const ParameterValue& v) {
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::vector<double>>) {
                if (x.empty())
                    attribute(at, name, std::string());
                else if (x.size() == 1)
                    attribute(at, name, x[0]);
                else
                    attribute(at, name, x);
            } else {
                attribute(at, name, x);
            }
        },
        v);
}

void refuse_non_finite(const std::vector<double>& v, const std::string& what) {
    for (double x : v)
        if (!std::isfinite(x)) halt("HDF5 results: a value of " + what + " is not finite");
}

Id dataset(hid_t at, const std::string& name, hid_t file_type, hid_t mem_type,
           const std::vector<hsize_t>& shape, const void* data) {
    Id space(H5Screate_simple(int(shape.size()), shape.data(), nullptr), H5Sclose, "a space");
    Id d(H5Dcreate2(at, name.c_str(), file_type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
         H5Dclose, name.c_str());
    check(H5Dwrite(d, mem_type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data), name);
    return d;
}

// One signal as an EMD data group.
void signal(hid_t data, const std::string& name, const Signal& s, const ConditionResults& c,
            const std::string& condition) {
    refuse_non_finite(s.values, name);
    Id g = group(data, name);
    attribute(g, "emd_group_type", 1LL);
    attribute(g, "quantity", s.quantity);
    attribute(g, "units", s.units);
    attribute(g, "beam_order", static_cast<long long>(s.beam_order));
    attribute(g, "file", s.file);
    attribute(g, "condition", condition);
    attribute(g, "condition_n", c.condition_n);
    std::vector<hsize_t> shape;
    for (const auto& a : s.axes) shape.push_back(a.values.size());
    std::vector<float> single(s.values.begin(), s.values.end());
    Id d = dataset(g, "data", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, shape, single.data());
    Id dd = dataset(g, "data_double", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, shape, s.values.data());
    attribute(d, "units", s.units);
    attribute(dd, "units", s.units);
    for (std::size_t k = 0; k < s.axes.size(); ++k) {
        const SignalAxis& a = s.axes[k];
        refuse_non_finite(a.values, name + " axis " + a.name);
        const std::string dim = "dim" + std::to_string(k + 1);
        Id scale =
            dataset(g, dim, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, {a.values.size()}, a.values.data());
        attribute(scale, "name", a.name);
        attribute(scale, "units", a.units);
        check(H5DSset_scale(scale, a.name.c_str()), dim);
        check(H5DSattach_scale(d, scale, unsigned(k)), dim);
        check(H5DSattach_scale(dd, scale, unsigned(k)), dim);
    }
}

std::string condition_name(std::size_t k) {
    char b[16];
    std::snprintf(b, sizeof b, "c%02zu", k + 1);
    return b;
}

} // namespace

std::string hdf5_bytes(const RunResults& r) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); // failures are reported as the run's stop
    Id fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose, "the file properties");
    // In memory only: the safe writer puts the finished bytes under their name.
    check(H5Pset_fapl_core(fapl, 1 << 20, 0), "the file properties");
    Id file(H5Fcreate("korvex-results-in-memory.h5", H5F_ACC_TRUNC, H5P_DEFAULT, fapl), H5Fclose,
            "the file");
    attribute(file, "version_major", 0LL);
    attribute(file, "version_minor", 2LL);
    attribute(file, "program", std::string("korvex"));
    attribute(file, "program_version", r.program_version);
    attribute(file, "engine", r.engine);
    attribute(file, "run_seconds", r.seconds);
    {
        Id p = group(file, "parameters");
        for (const auto& [name, v] : r.parameters) parameter(p, name, v);
        Id o = group(file, "optics");
        for (const auto& [name, v] : r.optics) parameter(o, name, v);
        Id d = group(file, "defect");
        attribute(d, "configuration", r.defect_configuration);
    }
    Id conditions = group(file, "conditions");
    Id data = group(file, "data");
    for (std::size_t k = 0; k < r.conditions.size(); ++k) {
        const ConditionResults& c = r.conditions[k];
        const std::string cn = condition_name(k);
        Id g = group(conditions, cn);
        attribute(g, "condition_n", c.condition_n);
        attribute(g, "output_name", c.output_name);
        attribute(g, "engine", c.engine);
        attribute(g, "seconds", c.seconds);
        refuse_non_finite(c.s_g, "s_g");
        const std::vector<long long> orders(c.beam_orders.begin(), c.beam_orders.end());
        const hsize_t nb = orders.size();
        if (nb > 0) {
            dataset(g, "beam_orders", H5T_STD_I64LE, H5T_NATIVE_LLONG, {nb}, orders.data());
            Id sg = dataset(g, "s_g", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, {nb}, c.s_g.data());
            attribute(sg, "units", std::string("1/Angstrom"));
        }
        for (const auto* list : {&c.images, &c.maps, &c.fringes, &c.layers})
            for (const Signal& s : *list) signal(data, cn + "_" + s.name, s, c, cn);
    }
    check(H5Fflush(file, H5F_SCOPE_GLOBAL), "the file");
    const ssize_t size = H5Fget_file_image(file, nullptr, 0);
    if (size < 0) halt("HDF5 results: cannot read the file back from memory");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (H5Fget_file_image(file, bytes.data(), bytes.size()) != size)
        halt("HDF5 results: cannot read the file back from memory");
    return bytes;
}

void write_hdf5_results(const RunResults& r, const std::string& path) {
    std::string bytes;
    try {
        bytes = hdf5_bytes(r);
    } catch (const Fatal& e) {
        std::vector<std::string> lines{"Error writing \"" + path + "\":"};
        lines.insert(lines.end(), e.lines().begin(), e.lines().end());
        halt(lines);
    }
    PendingFile file(path);
    file.write(bytes);
    file.close();
    file.commit();
}

} // namespace korvex
