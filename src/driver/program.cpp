#include "driver/program.hpp"

#include "driver/communicator.hpp"
#include "driver/run.hpp"
#include "driver/same_inputs.hpp"
#include "driver/slice_plan.hpp"
#include "driver/usage.hpp"
#include "output/reports.hpp"
#include "solver/propagation.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/input.hpp"
#include "state/stop_signals.hpp"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

namespace korvex {

namespace {

// Prints a refused command line: the reason, the usage line and where the options are listed.
void refuse(std::ostream& out, const std::string& reason) {
    out << " * ERROR..........\n";
    out << " > " << reason << "\n";
    out << " > Usage: korvex -t <input file> [defect configuration file]\n";
    out << " >        korvex -x   (korvex --help lists every option)\n";
    out << " * Program now exiting.....Bye.....\n";
}

// A length in Angstrom given to an option: a finite number above zero, the whole text.
std::optional<double> length_value(const std::string& text) {
    if (text.empty() || text.find_first_not_of(" \t") != 0) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v) || !(v > 0.0)) return std::nullopt;
    return v;
}

// Takes --engine=NAME, --absorption=NAME, --hdf5, the grid steps, the illumination and --help
// out of `args`, wherever they stand. false after a refusal.
bool long_options(std::vector<std::string>& args, CommandLine& cl, std::ostream& out) {
    std::vector<std::string> rest;
    auto length = [&](const std::string& a, std::size_t at, const char* what, double& into) {
        const std::optional<double> v = length_value(a.substr(at));
        if (!v) {
            refuse(out, std::string("The ") + what + " \"" + a.substr(at) +
                            "\" is not a length in Angstrom above zero");
            return false;
        }
        into = *v;
        return true;
    };
    for (const std::string& a : args) {
        if (a.rfind("--pixel-size=", 0) == 0) {
            if (!length(a, 13, "pixel size", cl.pixel_size)) return false;
        } else if (a.rfind("--slice-thickness=", 0) == 0) {
            if (a.rfind("--slice-thickness=auto", 0) == 0) {
                const std::optional<double> tol = auto_slice_tolerance(a.substr(22));
                if (!tol) {
                    refuse(out, "The slice tolerance \"" + a.substr(22) +
                                    "\" is not \"auto\" or \"auto:T\" with T a phase in "
                                    "radians above zero");
                    return false;
                }
                cl.slice_tolerance = *tol;
                cl.slice_size = 0.0;
            } else if (!length(a, 18, "slice thickness", cl.slice_size)) {
                return false;
            } else {
                cl.slice_tolerance = 0.0;
            }
        } else if (a.rfind("--field-tolerance=", 0) == 0) {
            const std::string t = a.substr(18);
            // 0 (every column evaluated) or a tolerance above zero.
            const std::optional<double> v =
                t.find_first_not_of("0.") == std::string::npos && t.find('0') != std::string::npos
                    ? std::optional(0.0)
                    : length_value(t);
            if (!v) {
                refuse(out, "The field tolerance \"" + t +
                                "\" is not 0 or a strain term in 1/Angstrom above zero");
                return false;
            }
            cl.field_tolerance = *v;
        } else if (a == "--help") {
            cl.help = true;
        } else if (a == "--hdf5") {
            cl.hdf5 = true;
        } else if (a.rfind("--engine=", 0) == 0) {
            if (!engine_from_name(a.substr(9))) {
                refuse(out, "Unknown engine \"" + a.substr(9) + "\": use exact or table");
                return false;
            }
            cl.engine = a.substr(9);
        } else if (a.rfind("--absorption=", 0) == 0) {
            if (!absorption_from_name(a.substr(13))) {
                refuse(out,
                       "Unknown absorption \"" + a.substr(13) + "\": use exact or first-order");
                return false;
            }
            cl.absorption = a.substr(13);
        } else if (std::string why; illumination_option(a, cl.illumination, why)) {
            if (!why.empty()) {
                refuse(out, why);
                return false;
            }
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    if (const std::string why = illumination_conflict(cl.illumination); !why.empty()) {
        refuse(out, why);
        return false;
    }
    return true;
}

} // namespace

CommandLine parse_command_line(const std::vector<std::string>& all_args, std::ostream& out) {
    CommandLine cl;
    std::vector<std::string> args = all_args;
    auto usage_error = [&](const std::string& reason) {
        refuse(out, reason);
        cl.usage_error = true;
        cl.text_mode = false;
        return cl;
    };
    if (!long_options(args, cl, out)) {
        cl.usage_error = true;
        return cl;
    }
    if (cl.help) {
        print_usage(out);
        return cl;
    }
    auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
    // Files are never taken for options nor options for files; nothing beyond them is ignored.
    auto misplaced = [&](std::size_t from) -> std::optional<std::string> {
        for (std::size_t i = from; i < args.size(); ++i) {
            if (args[i].starts_with('-')) return "Unknown option \"" + args[i] + "\"";
            if (i >= 3) return "Unexpected argument \"" + args[i] + "\"";
        }
        return std::nullopt;
    };
    cl.option = arg(0).substr(0, 2);
    if (cl.option == "-x" || cl.option == "-X") {
        if (auto why = misplaced(1)) return usage_error(*why);
        out << " * KORVEX is  running in graphic interface.\n";
        // An input file (and a defect configuration file) to fill the entry form with.
        cl.f_in = trim(arg(1));
        cl.f_defect = trim(arg(2));
    } else if (cl.option == "-t" || cl.option == "-T") {
        cl.text_mode = true;
        if (auto why = misplaced(1)) return usage_error(*why);
        cl.f_in = trim(arg(1));
        if (cl.f_in.empty()) {
            out << "\n";
            out << " * ERROR..........\n";
            out << " > Usage: korvex -t <input file> [defect configuration file]\n";
            out << " * Program now exiting.....Bye.....\n";
            cl.usage_error = true;
            cl.text_mode = false;
            return cl;
        }
        out << " * KORVEX is runing under text environment...\n";
        cl.f_defect = trim(arg(2));
        if (cl.f_defect.empty()) {
            out << "\n";
            out << " * WARNING..........\n";
            out << " > No defect configuration file is given.\n";
            out << " * Program will stop if you have chosen a defect in the input file.\n";
        }
    } else if (args.empty()) {
        out << " * WARNING..........\n";
        out << " > No graphic or text option given\n";
        out << " * Program is forced to run in graphic interface.\n";
    } else if (arg(0).starts_with('-')) {
        return usage_error("Unknown option \"" + arg(0) + "\"");
    } else {
        return usage_error("\"" + arg(0) + "\" stands before the run option -t or -x");
    }
    out << " option=" << pad(cl.option, 2) << "\n";
    return cl;
}

void simulate(State& st, RunContext& rc) {
    // A series and job 9 rename f_out and step the condition: a rerun from the RUN panel starts
    // again from the parameters as entered.
    const std::string f_out = st.f_out;
    const double condition_n = st.condition_n;
    const StopSignals signals;
    // Output whose reader left before the run (its writes failed quietly then, the signal being
    // ignored outside a run) stops the run as a reader leaving during it does. A process that
    // prints nothing (a split run's other processes) has no stream buffer at all.
    if (st.console().rdbuf() && !st.console())
        halt(std::vector<std::string>{
            "The run was stopped by signal SIGPIPE (the output was closed).",
            "Nothing was written."});
    start_run(st, rc);
    run_conditions(st, rc);
    end_run(st, rc);
    st.f_out = f_out;
    st.condition_n = condition_n;
    check_late_signal();
}

namespace {

int run_program(int argc, char** argv, const GraphicFactory& gui,
                const PlotterFactory& file_plotter, const OverviewFactory& overview,
                Communicator& comm, std::ostream& out) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (const std::string info = information_request(args); !info.empty()) {
        if (info == "--version")
            std::cout << "korvex " << program_version() << '\n';
        else
            print_usage(std::cout);
        return 0;
    }
    State st;
    st.out = &out;
    RunContext rc;
    rc.comm = &comm;
    print_head(st.console());
    const std::unique_ptr<OverviewWriter> overview_writer = overview ? overview() : nullptr;
    rc.overview = overview_writer.get();
    const CommandLine cl = parse_command_line(args, st.console());
    if (cl.usage_error) return 2;
    if (cl.help) return 0;
    st.text_mode = cl.text_mode;
    st.engine = engine_from_name(cl.engine).value_or(Engine::exact);
    st.absorption = absorption_from_name(cl.absorption).value_or(Absorption::first_order);
    st.pixel_size = cl.pixel_size;
    st.slice_size = cl.slice_size;
    st.slice_tolerance = cl.slice_tolerance;
    st.field_tolerance = cl.field_tolerance;
    st.illumination = cl.illumination;
    RunResults results;
    if (cl.hdf5) {
        rc.hdf5 = true;
        rc.results = &results;
    }

    if (cl.text_mode) {
        read_system_parameters(st, cl.f_in);
        st.f_defect = cl.f_defect;
        check_defect_style(st);
        std::unique_ptr<PhasePlotter> plotter;
        if (st.job == Job::amplitude_phase && file_plotter && comm.writer())
            plotter = file_plotter(st);
        rc.plotter = plotter.get();
        simulate(st, rc);
        return 0;
    }

    // The graphic interface runs in the writer alone, its runs unsplit; the other processes
    // wait for it at the end.
    if (!comm.writer()) return 0;
    rc.comm = nullptr;
    std::unique_ptr<GraphicSession> session = gui ? gui(st) : nullptr;
    if (!session) {
        // The graphic front end says why itself; a build without one says so here.
        if (!gui)
            st.console() << " * The graphic interface is not available in this build; use "
                            "korvex -t <input file> [defect configuration file].\n";
        return 1;
    }
    st.f_in = cl.f_in; // the entry form offers the values of these files
    st.f_defect = cl.f_defect;
    session->input_parameters(st);
    rc.display = &session->display();
    rc.plotter = session->phase_plotter();
    if (OverviewWriter* w = session->overview_writer()) rc.overview = w;
    while (session->run_panel(st)) {
        rc.job9_finished = rc.back_to_run_panel = false;
        simulate(st, rc);
        if (rc.exit_requested) break;
        if (rc.job9_finished) {
            if (rc.back_to_run_panel) continue;
            break;
        }
        if (!session->result_viewer(st, rc.last_image_path)) break;
    }
    return 0;
}

} // namespace

int program_main(int argc, char** argv, const GraphicFactory& gui,
                 const PlotterFactory& file_plotter, const OverviewFactory& overview) {
    // Progress and summary lines reach a log file or a pipe as they are printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // A file-size limit makes the write fail with its reason instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // Output to a closed pipe fails instead of killing the process; during a run the signal
    // stops the run cleanly (state/stop_signals.hpp).
    std::signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<Communicator> comm = make_communicator(argc, argv);
    // Only the writer of a split run prints the run's messages.
    std::ostream quiet(nullptr);
    // A stop meets the other processes at their next step; the lowest stopping one speaks.
    auto stop = [&](const std::string& message, int status) {
        // A signal may have broken off a line being printed; the message is printed all the same.
        std::cout.clear();
        if (comm->agree(false) == comm->rank()) std::cout << message;
        std::cout.flush();
        return status;
    };
    try {
        // The processes of a split run first make sure they read the same inputs.
        if (comm->size() > 1)
            check_same_inputs(*comm,
                              std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
        const int status = run_program(argc, argv, gui, file_plotter, overview, *comm,
                                       comm->writer() ? std::cout : quiet);
        comm->step(); // a process that stopped late is heard of here
        std::cout.flush();
        return status;
    } catch (const Fatal& e) {
        if (is_quiet_stop(e)) return 1;
        std::string text;
        for (const auto& l : e.lines()) text += ' ' + l + '\n';
        return stop(text, 1);
    } catch (const std::bad_alloc&) {
        return stop(" Not enough memory for the arrays of this run; reduce the number of grids\n",
                    1);
    } catch (const std::exception& e) {
        // A fault of the program itself, not of the input: say so rather than abort.
        return stop(std::string(" Internal error: ") + e.what() + "\n", 2);
    }
}

} // namespace korvex
