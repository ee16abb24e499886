// Commands of the position-processing module.  The setters pass their
// arguments through unaltered; only the X and Y statistics are scaled.
#include <array>
#include <cerrno>
#include <cstdint>

#include "access/login_level.h"
#include "commands/optional_output.h"
#include "config/scale_factors.h"
#include "core/mailbox.h"
#include "vorn_if.h"

namespace {
using vorn::Field;
using vorn::Gate;
using vorn::Message;

// The window average carries its 32-bit value first and its 8-bit mode after
// it, unlike the other commands of the module.
namespace window_average {
constexpr Field<std::uint32_t> value{4};
constexpr Field<char> mode{8};
}  // namespace window_average

namespace crossbar {
constexpr Field<std::uint8_t> first{4};
constexpr Field<std::uint8_t> second{8};
constexpr Field<std::uint8_t> third{9};
constexpr Field<std::uint8_t> fourth{10};
constexpr Field<std::uint8_t> fifth{11};
}  // namespace crossbar

namespace orientation {
constexpr Field<std::uint8_t> first{4};
constexpr Field<std::uint8_t> second{8};
}  // namespace orientation

namespace feedback_enable {
constexpr Field<std::uint8_t> enable{4};
}  // namespace feedback_enable

namespace statistics {
constexpr Field<std::uint8_t> channel{4};
constexpr Field<double> first{8};
constexpr Field<double> second{16};
constexpr std::uint8_t kChannels = 3;  // X, Y, and one that takes no scale factor
}  // namespace statistics

struct ChannelStatistics {
    double first;
    double second;
};

}  // namespace

int setWindAvg(char mode, unsigned int value) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    return Message(vorn::CMD_WIND_AVG_SET)
        .put(window_average::value, value)
        .put(window_average::mode, mode)
        .exchange();
}

int setCrossBar(unsigned char a, unsigned char b, unsigned char c, unsigned char d, unsigned char e) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    return Message(vorn::CMD_CROSSBAR_SET)
        .put(crossbar::first, a)
        .put(crossbar::second, b)
        .put(crossbar::third, c)
        .put(crossbar::fourth, d)
        .put(crossbar::fifth, e)
        .exchange();
}

int setBPMorient(unsigned char a, unsigned char b) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    return Message(vorn::CMD_BPM_ORIENT_SET)
        .put(orientation::first, a)
        .put(orientation::second, b)
        .exchange();
}

int setFBenable(int enable) {
    if (!vorn::gate_admits(Gate::any_login)) {
        return -1;
    }
    return Message(vorn::CMD_FB_ENABLE_SET)
        .put(feedback_enable::enable, static_cast<std::uint8_t>(enable))
        .exchange();
}

// All three channels are always asked and every output written, even after a
// failed exchange; the result is the first failure, so a caller can tell
// statistics read from a silent unit from real ones.
int getPosStats(int, double* xFirst, double* xSecond, double* yFirst, double* ySecond,
                double* ch2First, double* ch2Second) {
    std::array<ChannelStatistics, statistics::kChannels> channels{};
    int result = 0;
    int failure_errno = 0;
    for (std::uint8_t channel = 0; channel < statistics::kChannels; ++channel) {
        Message message(vorn::CMD_POS_STATS_GET);
        message.put(statistics::channel, channel);
        const int exchanged = message.exchange();
        if (exchanged < 0 && result >= 0) {
            result = exchanged;
            failure_errno = errno;
        }
        channels[channel] = {message.get(statistics::first), message.get(statistics::second)};
    }
    const vorn::ScaleFactors scale = vorn::fetch_scale_factors();
    vorn::store_if_wanted(xFirst, scale.x * channels[0].first);
    vorn::store_if_wanted(xSecond, scale.x * channels[0].second);
    vorn::store_if_wanted(yFirst, scale.y * channels[1].first);
    vorn::store_if_wanted(ySecond, scale.y * channels[1].second);
    vorn::store_if_wanted(ch2First, channels[2].first);
    vorn::store_if_wanted(ch2Second, channels[2].second);
    if (result < 0) {
        errno = failure_errno;
    }
    return result;
}
