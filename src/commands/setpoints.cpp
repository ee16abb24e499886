// Setpoints, status and reset of the feedback controller.  Setpoints cross
// the interface in calibrated units and are held by the unit in device
// units; only the X and Y channels convert.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <optional>

#include "access/login_level.h"
#include "config/scale_factors.h"
#include "core/mailbox.h"
#include "vorn_if.h"

namespace {
using vorn::Field;
using vorn::Gate;
using vorn::Message;

namespace setpoint {
constexpr Field<char> channel{4};
constexpr Field<double> value{8};
}  // namespace setpoint

namespace status {
constexpr Field<std::int8_t> byte{4};
}  // namespace status

// A device value times this factor is the calibrated value; channels without
// a factor pass unconverted.
std::optional<double> calibration_factor(char channel, const vorn::ScaleFactors& scale) {
    switch (channel) {
        case 0:
            return scale.x;
        case 1:
            return scale.y;
        default:
            return std::nullopt;
    }
}

// Dividing by any other factor would hand the controller an infinite or NaN
// setpoint.
bool can_convert_to_device_units(double factor) {
    return std::isfinite(factor) && factor != 0.0;
}

}  // namespace

int setSetpoint(char channel, double value) {
    if (!vorn::gate_admits(Gate::any_login)) {
        return -1;
    }
    const std::optional<double> factor = calibration_factor(channel, vorn::fetch_scale_factors());
    if (factor && !can_convert_to_device_units(*factor)) {
        errno = EINVAL;
        return -1;
    }
    return Message(vorn::CMD_SETPOINT_SET)
        .put(setpoint::channel, channel)
        .put(setpoint::value, factor ? value / *factor : value)
        .exchange();
}

// The output is written even after a failed exchange, from whatever the
// buffer then holds; errno stays as the exchange left it.
int getSetpoint(char channel, double* value) {
    Message message(vorn::CMD_SETPOINT_GET);
    message.put(setpoint::channel, channel);
    const int result = message.exchange();
    if (value == nullptr) {
        return result;
    }
    const int exchange_errno = errno;
    const double device_value = message.get(setpoint::value);
    const std::optional<double> factor = calibration_factor(channel, vorn::fetch_scale_factors());
    *value = factor ? device_value * *factor : device_value;
    errno = exchange_errno;
    return result;
}

// The status byte is the whole result, so a failed exchange cannot be told
// apart: the untouched buffer reads as status 0.
int getPIDstatus() {
    Message message(vorn::CMD_PID_STATUS_GET);
    message.exchange();
    return message.get(status::byte);
}

int setCtrlReset() {
    if (!vorn::gate_admits(Gate::any_login)) {
        return -1;
    }
    return Message(vorn::CMD_CTRL_RESET).exchange();
}
