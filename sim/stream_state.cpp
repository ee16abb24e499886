#include "stream_state.h"

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>

#include "root_layout.h"

namespace vornsim::stream_state {
namespace fs = std::filesystem;

namespace {

fs::path control_file(const fs::path& root, const char* name) {
    return layout::control_dir(root) / name;
}

fs::path lock_file(const fs::path& root) { return control_file(root, "stream.lock"); }
fs::path source_file(const fs::path& root) { return control_file(root, "stream.source"); }
fs::path position_file(const fs::path& root) { return control_file(root, "stream.position"); }
fs::path fault_file(const fs::path& root) { return control_file(root, "stream.fault"); }
fs::path log_file(const fs::path& root) { return control_file(root, "stream.reads"); }

const char* waveform_name(Waveform waveform) {
    switch (waveform) {
        case Waveform::constant: return "constant";
        case Waveform::alternating: return "alternating";
        case Waveform::cosine: return "cosine";
        case Waveform::ramp: break;
    }
    return "ramp";
}

std::optional<Waveform> waveform_named(const std::string& name) {
    for (Waveform waveform :
         {Waveform::ramp, Waveform::constant, Waveform::alternating, Waveform::cosine}) {
        if (name == waveform_name(waveform)) {
            return waveform;
        }
    }
    return std::nullopt;
}

// "records", or "WAVEFORM SLOT AMPLITUDE BIN" with slot -1 for every slot and
// the amplitude in hexadecimal so that it comes back bit for bit.
std::string encode(const Source& source) {
    if (std::holds_alternative<RecordFile>(source)) {
        return "records\n";
    }
    const auto& generator = std::get<StreamGenerator>(source);
    char line[128];
    std::snprintf(line, sizeof line, "%s %d %a %u\n", waveform_name(generator.waveform),
                  generator.slot ? static_cast<int>(*generator.slot) : -1, generator.amplitude,
                  generator.bin);
    return line;
}

Source decode(const std::string& text, const fs::path& path) {
    if (text == "records\n") {
        return RecordFile{};
    }
    char name[16] = {};
    int slot = -1;
    StreamGenerator generator;
    const std::optional<Waveform> waveform =
        std::sscanf(text.c_str(), "%15s %d %la %u", name, &slot, &generator.amplitude,
                    &generator.bin) == 4
            ? waveform_named(name)
            : std::nullopt;
    if (!waveform) {
        errno = EINVAL;
        throw_file_error("unreadable stream source in", path);
    }
    generator.waveform = *waveform;
    if (slot >= 0) {
        generator.slot = static_cast<unsigned>(slot);
    }
    return generator;
}

}  // namespace

StateLock::StateLock(const fs::path& root) : lock_(lock_file(root)) {}

fs::path records_file(const fs::path& root) {
    return control_file(root, "stream.records");
}

Source read_source(const fs::path& root) {
    const std::optional<std::string> text = read_state_file(source_file(root));
    return text ? decode(*text, source_file(root)) : Source{StreamGenerator{}};
}

void write_source(const fs::path& root, const Source& source) {
    replace_state_file(source_file(root), encode(source));
    write_position(root, 0);
}

std::uint64_t read_position(const fs::path& root) {
    const std::optional<std::string> text = read_state_file(position_file(root));
    return text ? std::stoull(*text) : 0;
}

void write_position(const fs::path& root, std::uint64_t position) {
    replace_state_file(position_file(root), std::to_string(position) + "\n");
}

void queue_fault(const fs::path& root, const Fault& fault) {
    append_state_file(fault_file(root), (fault.kind == FaultKind::fail ? "fail " : "cut ") +
                                            std::to_string(fault.value) + "\n");
}

std::optional<Fault> take_fault(const fs::path& root) {
    const std::string pending = read_state_file(fault_file(root)).value_or("");
    if (pending.empty()) {
        return std::nullopt;
    }
    const std::size_t end_of_oldest = pending.find('\n');
    const std::string rest =
        end_of_oldest == std::string::npos ? "" : pending.substr(end_of_oldest + 1);
    replace_state_file(fault_file(root), rest);
    std::istringstream words(pending.substr(0, end_of_oldest));
    std::string kind;
    std::uint64_t value = 0;
    if (!(words >> kind >> value) || (kind != "fail" && kind != "cut")) {
        errno = EINVAL;
        throw_file_error("unreadable stream fault in", fault_file(root));
    }
    return Fault{kind == "fail" ? FaultKind::fail : FaultKind::cut, value};
}

void log_read(const fs::path& root, const StreamRead& read) {
    append_state_file(log_file(root), std::to_string(read.requested) + " " +
                                          std::to_string(read.delivered) + "\n");
}

std::vector<StreamRead> read_log(const fs::path& root) {
    std::vector<StreamRead> reads;
    std::istringstream lines(read_state_file(log_file(root)).value_or(""));
    StreamRead read{};
    while (lines >> read.requested >> read.delivered) {
        reads.push_back(read);
    }
    return reads;
}

}  // namespace vornsim::stream_state
