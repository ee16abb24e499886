#include "launcher/stream_options.h"

#include <map>

namespace vornsim::launcher {

namespace {

const std::map<std::string, Waveform> kWaveforms{{"ramp", Waveform::ramp},
                                                 {"constant", Waveform::constant},
                                                 {"alternating", Waveform::alternating},
                                                 {"cosine", Waveform::cosine}};

}  // namespace

void add_stream_options(CLI::App& app, StreamOptions& options) {
    auto* records = app.add_option("--stream-records", options.records,
                                   "Serve the 256-byte records of FILE in order, repeating")
                        ->check(CLI::ExistingFile);
    auto* waveform =
        app.add_option("--stream", options.waveform,
                       "Serve a generated stream: ramp (slot s of record r holds 32*r+s; the "
                       "default), constant, alternating or cosine")
            ->check(CLI::IsMember(kWaveforms))
            ->excludes(records);
    app.add_option("--stream-amplitude", options.amplitude,
                   "Level of a constant, +/- value of an alternating stream, amplitude of a "
                   "cosine (default 1)")
        ->needs(waveform);
    app.add_option("--stream-bin", options.bin, "Periods of the cosine in 2048 records")
        ->needs(waveform);
    app.add_option("--stream-slot", options.slot,
                   "Only this slot (0-31) carries the generated values, the others hold 0")
        ->check(CLI::Range(0u, 31u))
        ->needs(waveform);
    app.add_option("--stream-fail-next-read", options.fail_errno,
                   "The next read of the stream fails with this errno")
        ->check(CLI::PositiveNumber);
    app.add_option("--stream-cut-next-read", options.cut_bytes,
                   "The next read of the stream delivers at most this many bytes");
}

void apply_stream_options(const SimRoot& root, const StreamOptions& options) {
    const SampleStreamControl stream(root);
    if (!options.records.empty()) {
        stream.serve_record_file(options.records);
    }
    if (options.waveform) {
        stream.serve(
            {kWaveforms.at(*options.waveform), options.amplitude, options.bin, options.slot});
    }
    if (options.fail_errno) {
        stream.fail_next_read(*options.fail_errno);
    }
    if (options.cut_bytes) {
        stream.cut_next_read(*options.cut_bytes);
    }
}

}  // namespace vornsim::launcher
