// What a figure caption says about the run's defect (the driver reads it from the defect's
// configuration file; the report document and the overview picture print it).
#pragma once

#include <string>

namespace korvex {

struct DefectCaption {
    std::string what;    // "edge dislocation", "faulted 12-sided loop, diameter 20 nm", ...
    std::string burgers; // "1/2[1 0 1]", empty when the defect has none
};

} // namespace korvex
