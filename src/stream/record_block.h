// One block of sample records taken from the stream with one read, as every
// reader of the stream takes them.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>

#include "core/sample_record.h"

namespace vorn {

// Below this many records a block and every slot index in it stay within the
// 32-bit sizes the device interface was built around.
inline constexpr std::size_t kMaxRecordsPerRead = std::size_t{1} << 27;

class RecordBlock {
public:
    // Reads `count` records from fd_DMA with one read into a block of their
    // size.  Nothing when the count is too large, the block cannot be
    // allocated or the read fails; the block holds only the whole records
    // that arrived, which may be fewer than asked for.
    static std::optional<RecordBlock> take(std::size_t count);

    std::size_t records() const { return records_; }

    // The bits of one slot, never converted.
    double slot(std::size_t record, std::size_t slot) const {
        double value;
        std::memcpy(&value, bytes_.get() + record * kSampleRecordSize + slot * sizeof(double),
                    sizeof value);
        return value;
    }

private:
    RecordBlock(std::unique_ptr<unsigned char[]> bytes, std::size_t records)
        : bytes_(std::move(bytes)), records_(records) {}

    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t records_;
};

}  // namespace vorn
