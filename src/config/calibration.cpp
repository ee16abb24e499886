// Calibration file readers: parsed anew at every call, never cached or written.
#include <INIReader.h>

#include "config/scale_factors.h"
#include "core/device_paths.h"
#include "vorn_if.h"

namespace {

struct Key {
    const char* name;
    double* destination;  // null: not read
};

// Reads the keys of one section in order; -1 and nothing written when the
// file cannot be opened.
template <std::size_t N>
int read_section(const char* section, double fallback, const Key (&keys)[N]) {
    const INIReader reader(vorn::kCalibrationFile);
    if (reader.ParseError() < 0) {
        return -1;
    }
    for (const Key& key : keys) {
        if (key.destination != nullptr) {
            *key.destination = reader.GetReal(section, key.name, fallback);
        }
    }
    return 0;
}

}  // namespace

int getBPMscaling(double* scaleX, double* scaleY) {
    return read_section("BPM1", 1.0, {Key{"Scale_X", scaleX}, Key{"Scale_Y", scaleY}});
}

int getROCandROI(double* roiX, double* roiY, double* roiI0min, double* roiI0max, double* roc) {
    return read_section("ROCandROI", 0.0,
                        {Key{"RoiX", roiX}, Key{"RoiY", roiY}, Key{"RoiI0min", roiI0min},
                         Key{"RoiI0max", roiI0max}, Key{"Roc", roc}});
}

namespace vorn {

ScaleFactors fetch_scale_factors() {
    ScaleFactors factors;
    getBPMscaling(&factors.x, &factors.y);
    return factors;
}

}  // namespace vorn
