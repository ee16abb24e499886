// The emulated sample-stream device: everything it does lives here.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>

namespace vornsim::sample_stream {

// One read of the device opened below `root`: whole records from the root's
// source, or what a pending fault makes of the read; -1 with errno set on
// failure.
ssize_t read(const std::filesystem::path& root, void* buffer, std::size_t size);

}  // namespace vornsim::sample_stream
