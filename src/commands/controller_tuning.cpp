// Tuning commands of the feedback controller.  Values go to the unit as
// given: nothing is converted or range-checked.
#include <array>
#include <cstdint>
#include <initializer_list>

#include "access/login_level.h"
#include "commands/optional_output.h"
#include "core/mailbox.h"
#include "vorn_if.h"

namespace {
using vorn::Field;
using vorn::Gate;
using vorn::Message;

// The eight PID parameters travel in three blocks of up to three doubles,
// told apart by a selector, and take effect with the commit.
namespace pid_parameters {
constexpr Field<char> channel{4};
constexpr Field<std::uint8_t> block{5};
constexpr std::array<Field<double>, 3> slots{Field<double>{8}, Field<double>{16}, Field<double>{24}};
}  // namespace pid_parameters

namespace pid_commit {
constexpr Field<char> channel{4};
}  // namespace pid_commit

namespace pid_configuration {
constexpr Field<char> conf{4};
}  // namespace pid_configuration

// The selection bytes start at offset 8, leaving bytes 4 to 7 empty.
namespace output_selection {
constexpr Field<std::uint8_t> first{8};
constexpr Field<std::uint8_t> second{9};
constexpr Field<std::uint8_t> third{10};
}  // namespace output_selection

namespace rate_of_change {
constexpr Field<char> channel{4};
constexpr Field<double> first{8};
constexpr Field<double> second{16};
}  // namespace rate_of_change

namespace offset {
constexpr Field<std::uint8_t> index{4};
constexpr Field<double> value{8};
}  // namespace offset

Message parameter_block(char channel, std::uint8_t block, std::initializer_list<double> parameters) {
    Message message(vorn::CMD_PID_PARAMS_SET);
    message.put(pid_parameters::channel, channel).put(pid_parameters::block, block);
    auto slot = pid_parameters::slots.begin();
    for (const double parameter : parameters) {
        message.put(*slot++, parameter);
    }
    return message;
}

Message offset_message(std::uint8_t index, double value) {
    Message message(vorn::CMD_OFFSET_SET);
    message.put(offset::index, index).put(offset::value, value);
    return message;
}

}  // namespace

int setPIDparams(char channel, double p1, double p2, double p3, double p4, double p5, double p6,
                 double p7, double p8) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    std::array<Message, 4> sequence{
        parameter_block(channel, 0x00, {p1, p2, p3}),
        parameter_block(channel, 0x10, {p4, p5}),
        parameter_block(channel, 0x20, {p6, p7, p8}),
        Message(vorn::CMD_PID_PARAMS_COMMIT).put(pid_commit::channel, channel),
    };
    return vorn::exchange_until_failure(sequence);
}

int setPIDconf(char conf) {
    if (!vorn::gate_admits(Gate::any_login)) {
        return -1;
    }
    return Message(vorn::CMD_PID_CONF_SET).put(pid_configuration::conf, conf).exchange();
}

int getPIDconf(char* conf) {
    Message message(vorn::CMD_PID_CONF_GET);
    const int result = message.exchange();
    vorn::store_if_wanted(conf, message.get(pid_configuration::conf));
    return result;
}

int setPIDoutSel(unsigned char sel1, unsigned char sel2, unsigned char sel3) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    return Message(vorn::CMD_PID_OUT_SEL_SET)
        .put(output_selection::first, sel1)
        .put(output_selection::second, sel2)
        .put(output_selection::third, sel3)
        .exchange();
}

int setROC(char channel, double roc1, double roc2) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    return Message(vorn::CMD_ROC_SET)
        .put(rate_of_change::channel, channel)
        .put(rate_of_change::first, roc1)
        .put(rate_of_change::second, roc2)
        .exchange();
}

int setOffset(double offset0, double offset1, double offset2) {
    if (!vorn::gate_admits(Gate::expert_only)) {
        return -1;
    }
    std::array<Message, 3> sequence{offset_message(0, offset0), offset_message(1, offset1),
                                    offset_message(2, offset2)};
    return vorn::exchange_until_failure(sequence);
}
