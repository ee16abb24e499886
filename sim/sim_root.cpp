#include "vornsim/sim_root.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "root_layout.h"
#include "state_file.h"

namespace vornsim {
namespace fs = std::filesystem;

namespace {

void create_layout(const fs::path& root) {
    fs::create_directories(layout::control_dir(root));
    fs::create_directories(layout::lock_file(root).parent_path());
    fs::create_directories(layout::calibration_file(root).parent_path());
}

}  // namespace

SimRoot::SimRoot(fs::path path, bool owned) : path_(std::move(path)), owned_(owned) {
    create_layout(path_);
}

SimRoot::SimRoot(SimRoot&& other) noexcept : path_(std::move(other.path_)), owned_(other.owned_) {
    other.owned_ = false;
}

SimRoot::~SimRoot() {
    if (owned_) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
}

SimRoot SimRoot::make_fresh() {
    std::string pattern = (fs::temp_directory_path() / "vornsim.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a sim root");
    }
    return SimRoot(fs::path(pattern), true);
}

SimRoot SimRoot::adopt(const fs::path& path) {
    return SimRoot(fs::absolute(path), false);
}

void SimRoot::set_device_present(Device device, bool present) const {
    const fs::path marker = layout::absence_marker(path_, device);
    if (present) {
        fs::remove(marker);
    } else {
        replace_state_file(marker, "");
    }
}

bool SimRoot::device_present(Device device) const {
    return !fs::exists(layout::absence_marker(path_, device));
}

void SimRoot::set_calibration(std::string_view text) const {
    replace_state_file(calibration_file(), text);
}

void SimRoot::remove_calibration() const {
    fs::remove(calibration_file());
}

fs::path SimRoot::lock_file() const {
    return layout::lock_file(path_);
}

fs::path SimRoot::calibration_file() const {
    return layout::calibration_file(path_);
}

}  // namespace vornsim
