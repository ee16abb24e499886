// Wire format of the mailbox device: 32-byte little-endian messages exchanged
// by one ioctl request.  Shared with the driver stand-in, which speaks the
// same protocol from the other side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn {

inline constexpr std::size_t kMailboxMessageSize = 32;
inline constexpr std::size_t kMailboxPayloadOffset = 4;

// The whole message; fields are placed at byte offsets, never through a struct
// layout, so that packing and alignment cannot shift them.
struct MailboxMessage {
    std::uint8_t bytes[kMailboxMessageSize];
};
static_assert(sizeof(MailboxMessage) == kMailboxMessageSize);

// _IOWR(0x42, 10, 8): the size field says 8, the exchange covers all 32 bytes.
inline constexpr unsigned long MBOX_IOCTL_XFER = 0xC008420AUL;

inline constexpr std::uint8_t MODULE_BPM = 1;
inline constexpr std::uint8_t MODULE_PID = 2;
inline constexpr std::uint8_t MODULE_SFP = 3;

inline constexpr std::uint32_t CMD_WIND_AVG_SET = 0x01000200;
inline constexpr std::uint32_t CMD_CROSSBAR_SET = 0x01000300;
inline constexpr std::uint32_t CMD_BPM_ORIENT_SET = 0x01000400;
inline constexpr std::uint32_t CMD_FB_ENABLE_SET = 0x01000500;
inline constexpr std::uint32_t CMD_POS_STATS_GET = 0x01000801;
inline constexpr std::uint32_t CMD_PID_PARAMS_SET = 0x02000100;
inline constexpr std::uint32_t CMD_SETPOINT_SET = 0x02000200;
inline constexpr std::uint32_t CMD_SETPOINT_GET = 0x02000201;
inline constexpr std::uint32_t CMD_PID_CONF_SET = 0x02000300;
inline constexpr std::uint32_t CMD_PID_CONF_GET = 0x02000301;
inline constexpr std::uint32_t CMD_OFFSET_SET = 0x02000500;
inline constexpr std::uint32_t CMD_ROC_SET = 0x02000600;
inline constexpr std::uint32_t CMD_PID_STATUS_GET = 0x02000701;
inline constexpr std::uint32_t CMD_PID_PARAMS_COMMIT = 0x02000800;
inline constexpr std::uint32_t CMD_CTRL_RESET = 0x02000900;
inline constexpr std::uint32_t CMD_PID_OUT_SEL_SET = 0x02000A00;
inline constexpr std::uint32_t CMD_SFP_INFO_GET = 0x03000201;

}  // namespace vorn
