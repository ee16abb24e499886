// A sim root: the directory that stands in for the unit's fixed paths.
//
// Processes started with VORNSIM_ROOT naming a root (and the stand-in
// preloaded, which the vornsim launcher does) see its lock file and
// calibration file in place of the real ones, and the unit's two devices as
// emulated devices whose state lives in the root, so that every process of
// one root shares one simulated unit.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vornsim {

enum class Device { sample_stream, mailbox };

// One attempt of a client to open the calibration file, and how many reads of
// the sample stream and mailbox exchanges the root had seen before it.
struct CalibrationRead {
    std::size_t stream_reads;
    std::size_t mailbox_exchanges;
    bool operator==(const CalibrationRead&) const = default;
};

class SimRoot {
public:
    // A fresh root in the temporary directory, removed again on destruction.
    static SimRoot make_fresh();
    // An existing or new directory at `path`; never removed.
    static SimRoot adopt(const std::filesystem::path& path);

    SimRoot(SimRoot&& other) noexcept;
    SimRoot& operator=(SimRoot&&) = delete;
    SimRoot(const SimRoot&) = delete;
    ~SimRoot();

    const std::filesystem::path& path() const { return path_; }
    // Keeps a fresh root on disk after destruction.
    void keep() { owned_ = false; }

    // An absent device makes its open fail with ENOENT.
    void set_device_present(Device device, bool present) const;
    bool device_present(Device device) const;

    void set_calibration(std::string_view text) const;
    void remove_calibration() const;

    // Every attempt of a process of this root to open the calibration file.
    std::vector<CalibrationRead> calibration_reads() const;

    std::filesystem::path lock_file() const;
    std::filesystem::path calibration_file() const;

private:
    SimRoot(std::filesystem::path path, bool owned);

    std::filesystem::path path_;
    bool owned_;
};

}  // namespace vornsim
