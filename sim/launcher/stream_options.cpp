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
    // Each fault is queued as it is parsed, so that the faults of several
    // options hit the reads in the order they stand on the command line.
    app.add_option_function<int>(
           "--stream-fail-next-read",
           [&options](const int& error_number) {
               options.faults.push_back([error_number](const SampleStreamControl& stream) {
                   stream.fail_next_read(error_number);
               });
           },
           "A read of the stream fails with this errno (repeatable; faults hit the reads in "
           "the order given)")
        ->check(CLI::PositiveNumber)
        ->trigger_on_parse();
    app.add_option_function<std::size_t>(
           "--stream-cut-next-read",
           [&options](const std::size_t& max_bytes) {
               options.faults.push_back([max_bytes](const SampleStreamControl& stream) {
                   stream.cut_next_read(max_bytes);
               });
           },
           "A read of the stream delivers at most this many bytes (repeatable; faults hit the "
           "reads in the order given)")
        ->trigger_on_parse();
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
    for (const auto& queue_fault : options.faults) {
        queue_fault(stream);
    }
}

}  // namespace vornsim::launcher
