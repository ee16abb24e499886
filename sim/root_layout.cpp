#include "root_layout.h"

#include "core/device_paths.h"

namespace vornsim::layout {
bool is_redirected_file(std::string_view path) {
    return path == vorn::kLockFile || path == vorn::kCalibrationFile;
}

std::filesystem::path below_root(const std::filesystem::path& root, std::string_view fixed_path) {
    return root / std::filesystem::path(fixed_path).relative_path();
}

std::optional<Device> emulated_device(std::string_view path) {
    if (path == vorn::kSampleStreamDevice) {
        return Device::sample_stream;
    }
    if (path == vorn::kMailboxDevice) {
        return Device::mailbox;
    }
    return std::nullopt;
}

std::filesystem::path control_dir(const std::filesystem::path& root) {
    return root / ".vornsim";
}

std::string_view device_name(Device device) {
    return device == Device::sample_stream ? "vorn_dma_displ" : "vorn_mailbox";
}

std::filesystem::path absence_marker(const std::filesystem::path& root, Device device) {
    return control_dir(root) / (std::string(device_name(device)) + ".absent");
}

std::filesystem::path lock_file(const std::filesystem::path& root) {
    return below_root(root, vorn::kLockFile);
}

std::filesystem::path calibration_file(const std::filesystem::path& root) {
    return below_root(root, vorn::kCalibrationFile);
}

std::filesystem::path mailbox_dir(const std::filesystem::path& root) {
    return control_dir(root) / "mailbox";
}

}  // namespace vornsim::layout
