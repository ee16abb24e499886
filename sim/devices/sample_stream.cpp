#include "devices/sample_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numbers>
#include <system_error>

#include "core/sample_record.h"
#include "stream_state.h"

namespace vornsim::sample_stream {
namespace fs = std::filesystem;
using namespace stream_state;

namespace {

constexpr std::size_t kRecordBytes = vorn::kSampleRecordSize;
constexpr std::uint64_t kCosinePeriod = 2048;

std::size_t records_touched(std::size_t bytes) {
    return (bytes + kRecordBytes - 1) / kRecordBytes;
}

double waveform_value(const StreamGenerator& generator, std::uint64_t record, unsigned slot) {
    switch (generator.waveform) {
        case Waveform::constant:
            return generator.amplitude;
        case Waveform::alternating:
            return record % 2 == 0 ? generator.amplitude : -generator.amplitude;
        case Waveform::cosine: {
            // The phase is reduced in integers so that it stays exact however
            // far the stream has run.
            const std::uint64_t phase = generator.bin % kCosinePeriod * (record % kCosinePeriod) %
                                        kCosinePeriod;
            return generator.amplitude *
                   std::cos(2.0 * std::numbers::pi * static_cast<double>(phase) / kCosinePeriod);
        }
        case Waveform::ramp:
            break;
    }
    return static_cast<double>(record * vorn::kSlotsPerRecord + slot);
}

void generate(const StreamGenerator& generator, std::uint64_t first, std::byte* buffer,
              std::size_t bytes) {
    for (std::size_t i = 0; i < records_touched(bytes); ++i) {
        SampleRecord record{};
        for (unsigned slot = 0; slot < record.size(); ++slot) {
            if (!generator.slot || *generator.slot == slot) {
                record[slot] = waveform_value(generator, first + i, slot);
            }
        }
        const std::size_t offset = i * kRecordBytes;
        std::memcpy(buffer + offset, record.data(), std::min(kRecordBytes, bytes - offset));
    }
}

// Serves the record file from record `first` on, from its start again after its end.
void copy_records(const fs::path& root, std::uint64_t first, std::byte* buffer,
                  std::size_t bytes) {
    const fs::path path = records_file(root);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    }
    const std::uint64_t count = fs::file_size(path) / kRecordBytes;
    std::size_t done = 0;
    std::uint64_t record = first;
    while (done < bytes) {
        const std::uint64_t index = record % count;
        const std::size_t run = std::min<std::uint64_t>(count - index, records_touched(bytes - done));
        const std::size_t run_bytes = std::min(run * kRecordBytes, bytes - done);
        if (::pread(fd, buffer + done, run_bytes, static_cast<off_t>(index * kRecordBytes)) !=
            static_cast<ssize_t>(run_bytes)) {
            ::close(fd);
            throw std::system_error(EIO, std::generic_category(), "short " + path.string());
        }
        done += run_bytes;
        record += run;
    }
    ::close(fd);
}

ssize_t serve(const fs::path& root, void* buffer, std::size_t size) {
    const StateLock lock(root);
    if (buffer == nullptr && size > 0) {
        log_read(root, {size, -1});
        errno = EFAULT;
        return -1;
    }
    const std::optional<Fault> fault = take_fault(root);
    if (fault && fault->kind == FaultKind::fail) {
        log_read(root, {size, -1});
        errno = static_cast<int>(fault->value);
        return -1;
    }
    std::size_t deliver = size / kRecordBytes * kRecordBytes;
    if (fault) {
        deliver = std::min<std::uint64_t>(deliver, fault->value);
    }
    const std::uint64_t position = read_position(root);
    auto* bytes = static_cast<std::byte*>(buffer);
    const Source source = read_source(root);
    if (const auto* generator = std::get_if<StreamGenerator>(&source)) {
        generate(*generator, position, bytes, deliver);
    } else {
        copy_records(root, position, bytes, deliver);
    }
    write_position(root, position + deliver / kRecordBytes);
    log_read(root, {size, static_cast<long long>(deliver)});
    return static_cast<ssize_t>(deliver);
}

}  // namespace

ssize_t read(const fs::path& root, void* buffer, std::size_t size) {
    try {
        return serve(root, buffer, size);
    } catch (const std::exception&) {
        errno = EIO;
        return -1;
    }
}

}  // namespace vornsim::sample_stream
