// Where a sim root keeps each file; the one place that both the preload and
// the setup API take the layout from.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "vornsim/sim_root.h"

namespace vornsim::layout {

inline constexpr const char* kRootVariable = "VORNSIM_ROOT";

// The unit's fixed paths that map onto plain files below the root, and where.
bool is_redirected_file(std::string_view path);
std::filesystem::path below_root(const std::filesystem::path& root, std::string_view fixed_path);
// The unit's fixed paths that are emulated devices.
std::optional<Device> emulated_device(std::string_view path);

std::filesystem::path control_dir(const std::filesystem::path& root);
std::filesystem::path absence_marker(const std::filesystem::path& root, Device device);
std::string_view device_name(Device device);

std::filesystem::path lock_file(const std::filesystem::path& root);
std::filesystem::path calibration_file(const std::filesystem::path& root);

// The emulated mailbox's record, scripts and unit state.
std::filesystem::path mailbox_dir(const std::filesystem::path& root);

}  // namespace vornsim::layout
