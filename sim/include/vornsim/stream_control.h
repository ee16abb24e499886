// The sample stream of a sim root, as a test or a user sets it up: what the
// emulated "/dev/vorn_dma_displ" serves, faults for its next reads, and a log
// of what every read asked for and got.
//
// The device delivers whole 256-byte records (32 doubles) in order.  Its
// position is shared by every process of the root: each record goes to exactly
// one read, whichever process makes it.  Until a source is set it serves the
// ramp over every slot (slot s of record r holds 32 * r + s), so that the
// order of records across reads is always visible.  Setting a source starts
// it from its first record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "vornsim/sim_root.h"

namespace vornsim {

inline constexpr std::size_t kRecordSlots = 32;
using SampleRecord = std::array<double, kRecordSlots>;

enum class Waveform {
    ramp,         // 32 * r + s: the record's and the slot's number in the stream
    constant,     // amplitude
    alternating,  // +amplitude at even records, -amplitude at odd ones
    cosine,       // amplitude * cos(2 pi * bin * r / 2048): `bin` periods per 2048 records
};

struct StreamGenerator {
    Waveform waveform = Waveform::ramp;
    double amplitude = 1.0;
    unsigned bin = 0;
    // The one slot that carries the waveform, every other slot holding 0.0;
    // without it every slot carries it.
    std::optional<unsigned> slot;
};

// One read of the device: the size asked for and the size delivered, -1 for
// a read that failed.
struct StreamRead {
    std::size_t requested;
    long long delivered;
    bool operator==(const StreamRead&) const = default;
};

class SampleStreamControl {
public:
    explicit SampleStreamControl(const SimRoot& root);

    // Serves these records in order, from the first again after the last.
    void serve_records(std::span<const SampleRecord> records) const;
    // The same for a file of whole records (its content is copied now).
    void serve_record_file(const std::filesystem::path& file) const;
    void serve(const StreamGenerator& generator) const;

    // Read faults queue up in the order they are set, and each read takes
    // the oldest one pending: fail_next_read then cut_next_read hit the next
    // read and the one after it.
    //
    // A read that fails with `error_number` and delivers nothing.
    void fail_next_read(int error_number) const;
    // A read that delivers at most `max_bytes`, ending mid-record if that is
    // where the limit falls; a record cut short is served whole again by the
    // read after.
    void cut_next_read(std::size_t max_bytes) const;

    // Every read since the root was made, oldest first.
    std::vector<StreamRead> reads() const;
    // Whole records delivered since the source was set.
    std::uint64_t position() const;

private:
    std::filesystem::path root_;
};

}  // namespace vornsim
