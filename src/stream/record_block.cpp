#include "stream/record_block.h"

#include <unistd.h>

#include <new>

#include "vorn_if.h"

namespace vorn {

std::optional<RecordBlock> RecordBlock::take(std::size_t count) {
    if (count >= kMaxRecordsPerRead) {
        return std::nullopt;
    }
    const std::size_t size = count * kSampleRecordSize;
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[size]);
    if (!bytes) {
        return std::nullopt;
    }
    const ssize_t received = read(fd_DMA, bytes.get(), size);
    if (received < 0) {
        return std::nullopt;
    }
    return RecordBlock(std::move(bytes), static_cast<std::size_t>(received) / kSampleRecordSize);
}

}  // namespace vorn
