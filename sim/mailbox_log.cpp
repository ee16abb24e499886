#include "vornsim/mailbox_log.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/mailbox_protocol.h"
#include "mailbox_bytes.h"

namespace vornsim {
namespace {

enum class Kind { u8, hex8, u32, f64 };

struct FieldLayout {
    std::string_view name;
    std::size_t offset;
    Kind kind;
};

struct CommandLayout {
    std::uint32_t word;
    std::string_view name;
    std::vector<FieldLayout> fields;
};

std::size_t width_of(Kind kind) {
    switch (kind) {
        case Kind::u32:
            return 4;
        case Kind::f64:
            return 8;
        default:
            return 1;
    }
}

// The request fields of every command the library sends.
const std::array<CommandLayout, 17> kCommands{{
    {vorn::CMD_WIND_AVG_SET, "CMD_WIND_AVG_SET", {{"value", 4, Kind::u32}, {"mode", 8, Kind::u8}}},
    {vorn::CMD_CROSSBAR_SET,
     "CMD_CROSSBAR_SET",
     {{"a", 4, Kind::u8}, {"b", 8, Kind::u8}, {"c", 9, Kind::u8}, {"d", 10, Kind::u8}, {"e", 11, Kind::u8}}},
    {vorn::CMD_BPM_ORIENT_SET, "CMD_BPM_ORIENT_SET", {{"a", 4, Kind::u8}, {"b", 8, Kind::u8}}},
    {vorn::CMD_FB_ENABLE_SET, "CMD_FB_ENABLE_SET", {{"enable", 4, Kind::u8}}},
    {vorn::CMD_POS_STATS_GET, "CMD_POS_STATS_GET", {{"channel", 4, Kind::u8}}},
    {vorn::CMD_PID_PARAMS_SET,
     "CMD_PID_PARAMS_SET",
     {{"channel", 4, Kind::u8},
      {"block", 5, Kind::hex8},
      {"first", 8, Kind::f64},
      {"second", 16, Kind::f64},
      {"third", 24, Kind::f64}}},
    {vorn::CMD_SETPOINT_SET, "CMD_SETPOINT_SET", {{"channel", 4, Kind::u8}, {"setpoint", 8, Kind::f64}}},
    {vorn::CMD_SETPOINT_GET, "CMD_SETPOINT_GET", {{"channel", 4, Kind::u8}}},
    {vorn::CMD_PID_CONF_SET, "CMD_PID_CONF_SET", {{"conf", 4, Kind::hex8}}},
    {vorn::CMD_PID_CONF_GET, "CMD_PID_CONF_GET", {}},
    {vorn::CMD_OFFSET_SET, "CMD_OFFSET_SET", {{"index", 4, Kind::u8}, {"offset", 8, Kind::f64}}},
    {vorn::CMD_ROC_SET,
     "CMD_ROC_SET",
     {{"channel", 4, Kind::u8}, {"roc1", 8, Kind::f64}, {"roc2", 16, Kind::f64}}},
    {vorn::CMD_PID_STATUS_GET, "CMD_PID_STATUS_GET", {}},
    {vorn::CMD_PID_PARAMS_COMMIT, "CMD_PID_PARAMS_COMMIT", {{"channel", 4, Kind::u8}}},
    {vorn::CMD_CTRL_RESET, "CMD_CTRL_RESET", {}},
    {vorn::CMD_PID_OUT_SEL_SET,
     "CMD_PID_OUT_SEL_SET",
     {{"sel1", 8, Kind::u8}, {"sel2", 9, Kind::u8}, {"sel3", 10, Kind::u8}}},
    {vorn::CMD_SFP_INFO_GET, "CMD_SFP_INFO_GET", {{"index", 4, Kind::u8}}},
}};

const CommandLayout* layout_of(std::uint32_t word) {
    for (const CommandLayout& command : kCommands) {
        if (command.word == word) {
            return &command;
        }
    }
    return nullptr;
}

std::string shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string hex_byte(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

std::string value_of(const std::uint8_t* at, Kind kind) {
    switch (kind) {
        case Kind::u8:
            return std::to_string(at[0]);
        case Kind::hex8:
            return hex_byte(at[0]);
        case Kind::u32:
            return std::to_string(load_le<std::uint32_t>(at));
        case Kind::f64:
            return shortest(load_le<double>(at));
    }
    return {};
}

std::string result_of(const MailboxExchange& exchange) {
    std::string text = " -> " + std::to_string(exchange.result);
    if (exchange.result < 0) {
        const char* name = strerrorname_np(exchange.error);
        text += " ";
        text += name != nullptr ? name : "errno " + std::to_string(exchange.error);
    }
    return text;
}

}  // namespace

std::string describe_exchange(std::size_t number, const MailboxExchange& exchange) {
    const std::uint8_t* bytes = exchange.sent.data();
    const std::uint32_t word = load_le<std::uint32_t>(bytes);
    const CommandLayout* command = layout_of(word);
    std::array<bool, 32> covered{};
    std::string line = "#" + std::to_string(number) + " ";
    if (command != nullptr) {
        line += command->name;
        for (const FieldLayout& field : command->fields) {
            line += " " + std::string(field.name) + "=" + value_of(bytes + field.offset, field.kind);
            for (std::size_t i = 0; i < width_of(field.kind); ++i) {
                covered[field.offset + i] = true;
            }
        }
    } else {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", word);
        line += std::string(text) + " (unknown command)";
    }
    std::string stray;
    for (std::size_t i = 4; i < covered.size(); ++i) {
        if (!covered[i] && bytes[i] != 0) {
            stray += " " + std::to_string(i) + "=" + hex_byte(bytes[i]);
        }
    }
    if (!stray.empty()) {
        line += " stray" + stray;
    }
    return line + result_of(exchange);
}

std::string describe_exchanges(const std::vector<MailboxExchange>& exchanges) {
    if (exchanges.empty()) {
        return "(no exchanges)\n";
    }
    std::string text;
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        text += describe_exchange(i + 1, exchanges[i]) + "\n";
    }
    return text;
}

}  // namespace vornsim
