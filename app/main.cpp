// korvex: TEM diffraction-contrast images of crystal defects.
#include "driver/memory_policy.hpp"
#include "driver/program.hpp"
#include "gui/front_end.hpp"
#include "gui/overview.hpp"

int main(int argc, char** argv) {
    korvex::keep_freed_memory();
    return korvex::program_main(
        argc, argv, [](korvex::State& st) { return korvex::make_graphic_session(st); },
        [](korvex::State& st) { return korvex::make_file_plotter(st); },
        [] { return korvex::make_overview_writer(); });
}
