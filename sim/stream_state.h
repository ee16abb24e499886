// The sample stream's state as it lives in the control directory of a sim
// root, shared by the emulated device in every process of the root and by
// the control API.  Whoever reads or changes it holds a StateLock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

#include "state_file.h"
#include "vornsim/stream_control.h"

namespace vornsim::stream_state {

// The root's stream lock, held while it lives.
class StateLock {
public:
    explicit StateLock(const std::filesystem::path& root);

private:
    StateFileLock lock_;
};

struct RecordFile {};  // the records in records_file()
using Source = std::variant<StreamGenerator, RecordFile>;

enum class FaultKind { fail, cut };
struct Fault {
    FaultKind kind;
    std::uint64_t value;  // the errno to fail with, or the most bytes to deliver
};

std::filesystem::path records_file(const std::filesystem::path& root);

// The source set last, the ramp over every slot when none was set.
Source read_source(const std::filesystem::path& root);
// Sets the source and starts it from its first record.
void write_source(const std::filesystem::path& root, const Source& source);

std::uint64_t read_position(const std::filesystem::path& root);
void write_position(const std::filesystem::path& root, std::uint64_t position);

// Pending faults wait in the order they were queued.
void queue_fault(const std::filesystem::path& root, const Fault& fault);
// The oldest pending fault, for this read; it is used up.
std::optional<Fault> take_fault(const std::filesystem::path& root);

void log_read(const std::filesystem::path& root, const StreamRead& read);
std::vector<StreamRead> read_log(const std::filesystem::path& root);

}  // namespace vornsim::stream_state
