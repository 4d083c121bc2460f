// korvex: TEM diffraction-contrast images of crystal defects.
#include "driver/memory_policy.hpp"
#include "driver/program.hpp"
#include "gui/front_end.hpp"
#include "gui/overview.hpp"

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    korvex::keep_freed_memory();
    // --shared-grey (anywhere before the run option): the overview picture draws every beam over
    // one grey range. It concerns the pictures only and is taken out here.
    korvex::OverviewOptions overview;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--shared-grey") == 0)
            overview.shared_grey = true;
        else
            args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    return korvex::program_main(
        static_cast<int>(args.size()) - 1, args.data(),
        [overview](korvex::State& st) { return korvex::make_graphic_session(st, overview); },
        [](korvex::State& st) { return korvex::make_file_plotter(st); },
        [overview] { return korvex::make_overview_writer(overview); });
}
