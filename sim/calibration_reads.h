// Every attempt of a client to read the calibration file, with how far the
// unit's devices had got at that moment, so that a test sees when and how
// often an operation fetches its scale factors.
#pragma once

#include <filesystem>

namespace vornsim::calibration_reads {

// Called by the preload whenever a process of the root opens the file.
void record(const std::filesystem::path& root);

}  // namespace vornsim::calibration_reads
