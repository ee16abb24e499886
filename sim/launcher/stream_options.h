// The launcher's options that set up the sample stream of the sim root.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vornsim/sim_root.h"
#include "vornsim/stream_control.h"

namespace vornsim::launcher {

struct StreamOptions {
    std::string records;
    std::optional<std::string> waveform;
    double amplitude = 1.0;
    unsigned bin = 0;
    std::optional<unsigned> slot;
    // The read faults of the command line, to be queued in the order given.
    std::vector<std::function<void(const SampleStreamControl&)>> faults;
};

void add_stream_options(CLI::App& app, StreamOptions& options);
void apply_stream_options(const SimRoot& root, const StreamOptions& options);

}  // namespace vornsim::launcher
