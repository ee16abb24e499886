#include "vornsim/stream_control.h"

#include <stdexcept>

#include "stream_state.h"

namespace vornsim {
namespace fs = std::filesystem;
using namespace stream_state;

namespace {

constexpr std::size_t kRecordBytes = sizeof(SampleRecord);
static_assert(kRecordBytes == 256);

fs::path staging_file(const fs::path& root) {
    return records_file(root).string() + ".new";
}

// Renamed into place, so that a read still copying from the file it was
// given keeps the records it was given.
void install_records(const fs::path& root, const fs::path& staged) {
    fs::rename(staged, records_file(root));
    write_source(root, RecordFile{});
}

}  // namespace

SampleStreamControl::SampleStreamControl(const SimRoot& root) : root_(root.path()) {}

void SampleStreamControl::serve_records(std::span<const SampleRecord> records) const {
    if (records.empty()) {
        throw std::invalid_argument("a stream of records needs at least one record");
    }
    const StateLock lock(root_);
    const fs::path staged = staging_file(root_);
    replace_state_file(staged,
                       {reinterpret_cast<const char*>(records.data()), records.size_bytes()});
    install_records(root_, staged);
}

void SampleStreamControl::serve_record_file(const fs::path& file) const {
    const std::uintmax_t size = fs::file_size(file);
    if (size == 0 || size % kRecordBytes != 0) {
        throw std::invalid_argument(file.string() + " does not hold whole 256-byte records");
    }
    const StateLock lock(root_);
    const fs::path staged = staging_file(root_);
    fs::copy_file(file, staged, fs::copy_options::overwrite_existing);
    install_records(root_, staged);
}

void SampleStreamControl::serve(const StreamGenerator& generator) const {
    if (generator.slot && *generator.slot >= kRecordSlots) {
        throw std::invalid_argument("a record has slots 0 to 31 only");
    }
    const StateLock lock(root_);
    write_source(root_, generator);
}

void SampleStreamControl::fail_next_read(int error_number) const {
    if (error_number <= 0) {
        throw std::invalid_argument("a failing read needs a positive errno");
    }
    const StateLock lock(root_);
    queue_fault(root_, {FaultKind::fail, static_cast<std::uint64_t>(error_number)});
}

void SampleStreamControl::cut_next_read(std::size_t max_bytes) const {
    const StateLock lock(root_);
    queue_fault(root_, {FaultKind::cut, max_bytes});
}

std::vector<StreamRead> SampleStreamControl::reads() const {
    const StateLock lock(root_);
    return read_log(root_);
}

std::uint64_t SampleStreamControl::position() const {
    const StateLock lock(root_);
    return read_position(root_);
}

}  // namespace vornsim
