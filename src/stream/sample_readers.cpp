// Readers of the sample stream: positions with I0, and the four currents.
#include "config/scale_factors.h"
#include "stream/record_block.h"
#include "vorn_if.h"

namespace {

constexpr std::size_t kXSlot = 0;
constexpr std::size_t kYSlot = 1;
constexpr std::size_t kI0Slot = 2;
constexpr std::size_t kFirstCurrentSlot = 24;
constexpr std::size_t kCurrentsPerSample = 4;

}  // namespace

int getPosArray(double* x, double* y, double* i0, uint32_t n) {
    const std::optional<vorn::RecordBlock> block = vorn::RecordBlock::take(n);
    if (!block) {
        return -1;
    }
    const vorn::ScaleFactors scale = vorn::fetch_scale_factors();
    for (std::size_t i = 0; i < block->records(); ++i) {
        if (x != nullptr) {
            x[i] = scale.x * block->slot(i, kXSlot);
        }
        if (y != nullptr) {
            y[i] = scale.y * block->slot(i, kYSlot);
        }
        if (i0 != nullptr) {
            i0[i] = block->slot(i, kI0Slot);
        }
    }
    return static_cast<int>(block->records());
}

int getCurrentArray(double* currents, uint32_t count) {
    if (currents == nullptr) {
        return -1;
    }
    const std::optional<vorn::RecordBlock> block = vorn::RecordBlock::take(count);
    if (!block) {
        return -1;
    }
    for (std::size_t i = 0; i < block->records(); ++i) {
        for (std::size_t j = 0; j < kCurrentsPerSample; ++j) {
            currents[kCurrentsPerSample * i + j] = block->slot(i, kFirstCurrentSlot + j);
        }
    }
    return static_cast<int>(block->records());
}
