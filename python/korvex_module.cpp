// The compiled part of the Python module `korvex`: one in-process run of the program, with no
// file written, whose results come back as NumPy arrays. The Python part (korvex/__init__.py)
// turns keywords into the records of an input file and wraps the results.
#include "driver/program.hpp"
#include "driver/run.hpp"
#include "driver/slice_plan.hpp"
#include "driver/usage.hpp"
#include "output/hdf5_results.hpp"
#include "output/image_export.hpp"
#include "output/run_results.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/illumination.hpp"
#include "state/input.hpp"
#include "state/stop_signals.hpp"

#include <omp.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace py = pybind11;
using namespace korvex;

namespace {

// What a run leaves for Python: its results and what its TIFF copies say about it.
struct PyRun {
    RunResults results;
    std::vector<std::vector<ImageInfo>> infos; // per condition, per beam
};

py::array_t<double> array_of(const Signal& s) {
    std::vector<py::ssize_t> shape;
    for (const auto& a : s.axes) shape.push_back(py::ssize_t(a.values.size()));
    py::array_t<double> out(shape);
    std::copy(s.values.begin(), s.values.end(), out.mutable_data());
    return out;
}

py::dict signal_dict(const Signal& s) {
    py::dict d;
    d["name"] = s.name;
    d["quantity"] = s.quantity;
    d["units"] = s.units;
    d["file"] = s.file;
    d["beam_order"] = s.beam_order;
    py::list axes;
    for (const auto& a : s.axes)
        axes.append(py::make_tuple(
            a.name, a.units, py::array_t<double>(py::ssize_t(a.values.size()), a.values.data())));
    d["axes"] = axes;
    d["values"] = array_of(s);
    return d;
}

py::dict value_dict(const std::vector<std::pair<std::string, ParameterValue>>& values) {
    py::dict d;
    for (const auto& entry : values) {
        const std::string& name = entry.first; // a plain name: lambdas take no bindings (C++17)
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::vector<double>>)
                    d[name.c_str()] = py::array_t<double>(py::ssize_t(x.size()), x.data());
                else
                    d[name.c_str()] = x;
            },
            entry.second);
    }
    return d;
}

py::dict to_dict(const PyRun& run) {
    const RunResults& r = run.results;
    py::dict d;
    d["parameters"] = value_dict(r.parameters);
    d["optics"] = value_dict(r.optics);
    d["defect_configuration"] = r.defect_configuration;
    d["program_version"] = r.program_version;
    d["engine"] = r.engine;
    d["seconds"] = r.seconds;
    py::list conditions;
    for (const auto& c : r.conditions) {
        py::dict cd;
        cd["condition_n"] = c.condition_n;
        cd["output_name"] = c.output_name;
        cd["beam_orders"] = c.beam_orders;
        cd["s_g"] = py::array_t<double>(py::ssize_t(c.s_g.size()), c.s_g.data());
        cd["engine"] = c.engine;
        cd["seconds"] = c.seconds;
        for (const auto& [key, list] : {std::pair{"images", &c.images},
                                        {"maps", &c.maps},
                                        {"fringes", &c.fringes},
                                        {"layers", &c.layers}}) {
            py::list l;
            for (const auto& s : *list) l.append(signal_dict(s));
            cd[key] = l;
        }
        conditions.append(cd);
    }
    d["conditions"] = conditions;
    return d;
}

// The TIFF copies of every image of the results (beam images, maps, fringes) in `dir`, named as
// the text files of a run would be.
void save_tiff(const PyRun& run, const std::string& dir) {
    std::string base = dir.empty() ? "./" : dir;
    if (base.back() != '/') base += '/';
    for (std::size_t k = 0; k < run.results.conditions.size(); ++k) {
        const ConditionResults& c = run.results.conditions[k];
        for (const auto* list : {&c.images, &c.maps, &c.fringes})
            for (const Signal& s : *list) {
                if (s.axes.size() != 2) continue;
                ImageData img;
                const auto& y = s.axes[0].values;
                const auto& x = s.axes[1].values;
                img.unit_x = x.size() > 1 ? 10.0 * (x[1] - x[0]) : 20.0 * x[0];
                img.unit_y = y.size() > 1 ? 10.0 * (y[1] - y[0]) : 20.0 * y[0];
                img.values.resize(int(x.size()), int(y.size()));
                for (std::size_t j = 0; j < y.size(); ++j)
                    for (std::size_t i = 0; i < x.size(); ++i)
                        img.values(int(i) + 1, int(j) + 1) = s.values[j * x.size() + i];
                ImageInfo info;
                for (std::size_t n = 0; k < run.infos.size() && n < run.infos[k].size(); ++n)
                    if (run.infos[k][n].beam_order == s.beam_order) info = run.infos[k][n];
                info.quantity = s.quantity + (s.units.empty() ? "" : ", " + s.units);
                export_tiff(base + s.file, img, info);
            }
    }
}

// One run in this process. `input` names an input file, or with `text` stands for the text of
// one in messages. No file is written; the console lines go to standard output when `verbose`.
std::shared_ptr<PyRun> run(const std::string& input, const std::optional<std::string>& text,
                           const std::string& defect_file, const std::string& engine,
                           const std::string& absorption, int threads, bool verbose,
                           double pixel_size, double slice_thickness,
                           const std::vector<std::string>& illumination, const std::string& slicing,
                           double field_tolerance) {
    auto out = std::make_shared<PyRun>();
    std::ostream quiet(nullptr);
    State st;
    st.out = verbose ? &std::cout : &quiet;
    st.text_mode = true;
    RunContext rc;
    rc.files = false;
    rc.results = &out->results;
    const auto e = engine_from_name(engine);
    if (!e) halt("Unknown engine \"" + engine + "\": use exact or table");
    const auto a = absorption_from_name(absorption);
    if (!a) halt("Unknown absorption \"" + absorption + "\": use exact or first-order");
    st.engine = *e;
    st.absorption = *a;
    for (const auto& [what, value] :
         {std::pair{"pixel_size", pixel_size}, std::pair{"slice_thickness", slice_thickness}})
        if (!std::isfinite(value) || value < 0.0)
            halt(std::string("The ") + what + " " + list_real(value) +
                 " is not a length in Angstrom above zero");
    st.pixel_size = pixel_size;
    st.slice_size = slice_thickness;
    if (!std::isfinite(field_tolerance) || (field_tolerance < 0.0 && field_tolerance != -1.0))
        halt("The field tolerance " + list_real(field_tolerance) +
             " is not 0 or a strain term in 1/Angstrom above zero");
    st.field_tolerance = field_tolerance; // below 0: not given
    if (!slicing.empty()) {               // "auto" or "auto:T", as --slice-thickness takes it
        const auto tol =
            slicing.starts_with("auto") ? auto_slice_tolerance(slicing.substr(4)) : std::nullopt;
        if (!tol)
            halt(
                "The slice thickness \"" + slicing +
                "\" is not a length in Angstrom, \"auto\" or \"auto:T\" (T in radians above zero)");
        st.slice_tolerance = *tol;
    }
    // The probe and detectors, as the program's options give them ("--detector=bf:5", ...).
    for (const std::string& option : illumination) {
        std::string why;
        if (!illumination_option(option, st.illumination, why))
            halt("Unknown illumination option \"" + option + "\"");
        if (!why.empty()) halt(why);
    }
    if (const std::string why = illumination_conflict(st.illumination); !why.empty()) halt(why);
    if (text)
        read_input_text(st, input, *text);
    else
        read_system_parameters(st, input);
    st.f_defect = defect_file;
    check_defect_style(st);
    if (st.job == Job::amplitude_phase)
        halt("Job 9 (amplitude-phase diagrams of single columns) writes records only: run it "
             "with korvex -t");
    const int before = omp_get_max_threads();
    if (threads > 0) omp_set_num_threads(threads);
    try {
        py::gil_scoped_release free_python; // the columns run while Python goes on
        simulate(st, rc);
    } catch (...) {
        omp_set_num_threads(before);
        throw;
    }
    omp_set_num_threads(before);
    for (const auto& c : out->results.conditions) {
        std::vector<ImageInfo> infos;
        st.condition_n = c.condition_n;
        for (int order : c.beam_orders) infos.push_back(image_info(st, order));
        out->infos.push_back(std::move(infos));
    }
    return out;
}

} // namespace

PYBIND11_MODULE(_korvex, m) {
    m.doc() = "KORVEX runs in this process (use the package korvex)";
    // The program's stop is korvex.Error with its message; a run stopped by Ctrl-C is Python's
    // own interruption (the translator registered last is tried first).
    py::register_exception<Fatal>(m, "Error", PyExc_RuntimeError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const Fatal& e) {
            const char* sig = received_stop_signal();
            const std::string what = e.what();
            if (!sig || std::string(sig) != "SIGINT" ||
                what.find("signal SIGINT") == std::string::npos)
                throw;
            PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
        }
    });
    py::class_<PyRun, std::shared_ptr<PyRun>>(m, "Run")
        .def("to_dict", &to_dict)
        .def(
            "save_hdf5",
            [](const PyRun& r, const std::string& path) { write_hdf5_results(r.results, path); },
            py::arg("path"))
        .def("save_tiff", &save_tiff, py::arg("dir"));
    m.def("run", &run, py::arg("input"), py::arg("text") = std::nullopt,
          py::arg("defect_file") = "", py::arg("engine") = "exact",
          py::arg("absorption") = "first-order", py::arg("threads") = 0, py::arg("verbose") = false,
          py::arg("pixel_size") = 0.0, py::arg("slice_thickness") = 0.0,
          py::arg("illumination") = std::vector<std::string>{}, py::arg("slicing") = "",
          py::arg("field_tolerance") = -1.0);
    m.def("version", &program_version);
}
