// Amplitude spectrum of one slot of the sample stream.
#include <cmath>
#include <cstdint>
#include <mutex>

#include "config/scale_factors.h"
#include "core/transform_set.h"
#include "stream/record_block.h"
#include "vorn_if.h"

namespace {

// The transform set is one per process; calls on different threads take
// their turns with it.
std::mutex transform_set_in_use;

bool is_slot(int channel) {
    return channel >= 0 && static_cast<std::size_t>(channel) < vorn::kSlotsPerRecord;
}

// Fills `in` with the channel's series: the position slots scaled, every
// other slot copied bit for bit.
void load_series(const vorn::RecordBlock& block, int channel, const vorn::ScaleFactors& scale) {
    for (int k = 0; k < vorn::kTransformPoints; ++k) {
        const double value = block.slot(k, channel);
        in[k] = channel == 0 ? scale.x * value : channel == 1 ? scale.y * value : value;
    }
}

void remove_mean() {
    double sum = 0.0;
    for (int k = 0; k < vorn::kTransformPoints; ++k) {
        sum += in[k];
    }
    const double mean = sum / static_cast<double>(vorn::kTransformPoints);
    for (int k = 0; k < vorn::kTransformPoints; ++k) {
        in[k] -= mean;
    }
}

}  // namespace

double fftw_abs(double* bin) {
    return std::sqrt(bin[0] * bin[0] + bin[1] * bin[1]);
}

int getFFT(int channel, double* amplitude, double* frequency, int removeMean) {
    if (!is_slot(channel) || amplitude == nullptr || frequency == nullptr) {
        return -1;
    }
    // Left null when allocation or planning failed at load.
    if (in == nullptr || out == nullptr || p == nullptr) {
        return -1;
    }
    const std::optional<vorn::RecordBlock> block = vorn::RecordBlock::take(vorn::kTransformPoints);
    // A partial block is no series of the transform's length.
    if (!block || block->records() != static_cast<std::size_t>(vorn::kTransformPoints)) {
        return -1;
    }
    const vorn::ScaleFactors scale = vorn::fetch_scale_factors();

    const std::lock_guard<std::mutex> turn(transform_set_in_use);
    load_series(*block, channel, scale);
    if (removeMean != 0) {
        remove_mean();
    }
    fftw_execute(p);
    const std::int64_t sampling_frequency = SAMP_FREQ;
    for (int m = 0; m < vorn::kTransformBins; ++m) {
        frequency[m] = static_cast<double>(sampling_frequency * m) /
                       static_cast<double>(vorn::kTransformPoints);
        amplitude[m] = fftw_abs(out[m]) / static_cast<double>(vorn::kTransformPoints);
    }
    return 0;
}
