// Readings of the optical link transceivers.
#include <cerrno>
#include <cstdint>

#include "commands/optional_output.h"
#include "core/mailbox.h"
#include "vorn_if.h"

namespace {
using vorn::Field;

// The reply packs its four readings without padding, so the 32-bit ones
// start at unaligned offsets.
namespace link_info {
constexpr Field<std::uint8_t> index{4};
constexpr Field<std::int16_t> value16{8};
constexpr Field<std::int32_t> value_a{10};
constexpr Field<std::int32_t> value_b{14};
constexpr Field<std::int32_t> value_c{18};
constexpr int kTransceivers = 4;
}  // namespace link_info

}  // namespace

int getSFPinfo(int index, int16_t* value16, int32_t* valueA, int32_t* valueB, int32_t* valueC) {
    if (index < 0 || index >= link_info::kTransceivers) {
        return -1;
    }
    if (fd_Mbox < 0) {
        // Nothing was sent: a stale errno of 0 must not read as success.
        return errno != 0 ? -errno : -EBADF;
    }
    vorn::Message message(vorn::CMD_SFP_INFO_GET);
    message.put(link_info::index, static_cast<std::uint8_t>(index));
    const int result = message.exchange();
    vorn::store_if_wanted(value16, message.get(link_info::value16));
    vorn::store_if_wanted(valueA, message.get(link_info::value_a));
    vorn::store_if_wanted(valueB, message.get(link_info::value_b));
    vorn::store_if_wanted(valueC, message.get(link_info::value_c));
    return result;
}
