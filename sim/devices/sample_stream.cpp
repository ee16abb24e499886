#include "devices/sample_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
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

// The record file as it was when a read was settled, mapped whole: replacing
// the file later does not change what this read delivers, and copying from
// memory cannot fail.
class RecordFileSnapshot {
public:
    explicit RecordFileSnapshot(const fs::path& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
        }
        struct stat status {};
        ::fstat(fd, &status);
        count_ = static_cast<std::uint64_t>(status.st_size) / kRecordBytes;
        if (count_ == 0) {
            ::close(fd);
            throw std::system_error(EIO, std::generic_category(), "no records in " + path.string());
        }
        void* const mapped = ::mmap(nullptr, count_ * kRecordBytes, PROT_READ, MAP_PRIVATE, fd, 0);
        const int map_error = errno;
        ::close(fd);
        if (mapped == MAP_FAILED) {
            throw std::system_error(map_error, std::generic_category(),
                                    "cannot map " + path.string());
        }
        records_ = static_cast<const std::byte*>(mapped);
    }
    RecordFileSnapshot(const RecordFileSnapshot&) = delete;
    RecordFileSnapshot& operator=(const RecordFileSnapshot&) = delete;
    ~RecordFileSnapshot() { ::munmap(const_cast<std::byte*>(records_), count_ * kRecordBytes); }

    // From record `first` on, from the start again after the end.
    void copy(std::uint64_t first, std::byte* buffer, std::size_t bytes) const {
        std::size_t done = 0;
        std::uint64_t record = first;
        while (done < bytes) {
            const std::uint64_t index = record % count_;
            const std::size_t run = std::min<std::uint64_t>((count_ - index) * kRecordBytes,
                                                            bytes - done);
            std::memcpy(buffer + done, records_ + index * kRecordBytes, run);
            done += run;
            record += count_ - index;
        }
    }

private:
    const std::byte* records_ = nullptr;
    std::uint64_t count_ = 0;
};

// What one read delivers: settled under the state lock, so that the records
// of concurrent reads never overlap, and copied afterwards, so that reads of
// several threads or processes copy side by side as they would from a
// device.  Nothing that can fail is left for the copy (a buffer the process
// cannot write faults there, as in any copy of its own), so a settled read is
// logged and the position moved past its records before they are copied.
struct Delivery {
    std::size_t bytes = 0;
    std::uint64_t first_record = 0;
    std::optional<StreamGenerator> generator;
    std::unique_ptr<RecordFileSnapshot> records;
};

// Nothing when the read fails, with errno set.
std::optional<Delivery> settle(const fs::path& root, const void* buffer, std::size_t size) {
    const StateLock lock(root);
    if (buffer == nullptr && size > 0) {
        log_read(root, {size, -1});
        errno = EFAULT;
        return std::nullopt;
    }
    const std::optional<Fault> fault = take_fault(root);
    if (fault && fault->kind == FaultKind::fail) {
        log_read(root, {size, -1});
        errno = static_cast<int>(fault->value);
        return std::nullopt;
    }
    Delivery delivery;
    delivery.bytes = size / kRecordBytes * kRecordBytes;
    if (fault) {
        delivery.bytes = std::min<std::uint64_t>(delivery.bytes, fault->value);
    }
    delivery.first_record = read_position(root);
    const Source source = read_source(root);
    if (const auto* generator = std::get_if<StreamGenerator>(&source)) {
        delivery.generator = *generator;
    } else {
        delivery.records = std::make_unique<RecordFileSnapshot>(records_file(root));
    }
    write_position(root, delivery.first_record + delivery.bytes / kRecordBytes);
    log_read(root, {size, static_cast<long long>(delivery.bytes)});
    return delivery;
}

ssize_t serve(const fs::path& root, void* buffer, std::size_t size) {
    const std::optional<Delivery> delivery = settle(root, buffer, size);
    if (!delivery) {
        return -1;
    }
    auto* bytes = static_cast<std::byte*>(buffer);
    if (delivery->generator) {
        generate(*delivery->generator, delivery->first_record, bytes, delivery->bytes);
    } else {
        delivery->records->copy(delivery->first_record, bytes, delivery->bytes);
    }
    return static_cast<ssize_t>(delivery->bytes);
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
