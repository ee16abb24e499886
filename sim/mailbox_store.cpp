#include "mailbox_store.h"

#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>
#include <system_error>

#include "root_layout.h"
#include "state_file.h"

namespace vornsim::mailbox_store {
namespace fs = std::filesystem;

namespace {

// Record file: 32 bytes as sent, then the result and errno as host ints.
constexpr std::size_t kRecordSize = 32 + 2 * sizeof(std::int32_t);

std::string hex_of(const std::vector<std::uint8_t>& bytes) {
    std::ostringstream text;
    for (const std::uint8_t byte : bytes) {
        text << std::hex << std::setw(2) << std::setfill('0') << unsigned{byte};
    }
    return text.str();
}

std::vector<std::uint8_t> bytes_of(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

fs::path exchanges_file(const fs::path& dir) {
    return dir / "exchanges";
}
fs::path results_file(const fs::path& dir) {
    return dir / "results";
}
fs::path replies_file(const fs::path& dir) {
    return dir / "replies";
}
fs::path unit_file(const fs::path& dir) {
    return dir / "unit";
}

// Made before the lock is taken, since the lock file lives in it.
fs::path made_store_dir(const fs::path& root) {
    const fs::path dir = layout::mailbox_dir(root);
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    return dir;
}

}  // namespace

LockedStore::LockedStore(const fs::path& root)
    : dir_(made_store_dir(root)), lock_(dir_ / "lock") {}

std::vector<MailboxExchange> LockedStore::exchanges() const {
    const std::string content = read_state_file(exchanges_file(dir_)).value_or("");
    std::vector<MailboxExchange> exchanges(content.size() / kRecordSize);
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        const char* record = content.data() + i * kRecordSize;
        std::memcpy(exchanges[i].sent.data(), record, 32);
        std::int32_t result = 0;
        std::int32_t error = 0;
        std::memcpy(&result, record + 32, sizeof result);
        std::memcpy(&error, record + 32 + sizeof result, sizeof error);
        exchanges[i].result = result;
        exchanges[i].error = error;
    }
    return exchanges;
}

std::size_t LockedStore::exchange_count() const {
    std::error_code missing;
    const auto size = fs::file_size(exchanges_file(dir_), missing);
    return missing ? 0 : static_cast<std::size_t>(size / kRecordSize);
}

void LockedStore::record(const MailboxExchange& exchange) const {
    std::string record(kRecordSize, '\0');
    const std::int32_t result = exchange.result;
    const std::int32_t error = exchange.error;
    std::memcpy(record.data(), exchange.sent.data(), 32);
    std::memcpy(record.data() + 32, &result, sizeof result);
    std::memcpy(record.data() + 32 + sizeof result, &error, sizeof error);
    append_state_file(exchanges_file(dir_), record);
}

std::optional<ScriptedResult> LockedStore::scripted_result(std::size_t exchange_number) const {
    std::istringstream lines(read_state_file(results_file(dir_)).value_or(""));
    std::optional<ScriptedResult> latest;
    ScriptedResult script{};
    while (lines >> script.exchange_number >> script.result >> script.error >>
           script.failure_delivers_replies) {
        if (script.exchange_number == exchange_number) {
            latest = script;
        }
    }
    return latest;
}

void LockedStore::add(const ScriptedResult& script) const {
    std::ostringstream line;
    line << script.exchange_number << ' ' << script.result << ' ' << script.error << ' '
         << script.failure_delivers_replies << '\n';
    append_state_file(results_file(dir_), line.str());
}

std::vector<ScriptedReply> LockedStore::scripted_replies() const {
    std::istringstream lines(read_state_file(replies_file(dir_)).value_or(""));
    std::vector<ScriptedReply> replies;
    std::uint32_t command = 0;
    std::string selector;
    std::size_t offset = 0;
    std::string hex;
    while (lines >> std::hex >> command >> selector >> std::dec >> offset >> hex) {
        ScriptedReply reply{command, std::nullopt, offset, bytes_of(hex)};
        if (selector != "-") {
            reply.selector = static_cast<std::uint8_t>(std::stoul(selector));
        }
        replies.push_back(std::move(reply));
    }
    return replies;
}

void LockedStore::add(const ScriptedReply& script) const {
    std::ostringstream line;
    line << std::hex << script.command << std::dec << ' '
         << (script.selector ? std::to_string(*script.selector) : std::string("-")) << ' '
         << script.offset << ' ' << hex_of(script.bytes) << '\n';
    append_state_file(replies_file(dir_), line.str());
}

UnitState LockedStore::unit() const {
    const std::string content = read_state_file(unit_file(dir_)).value_or("");
    UnitState unit;
    if (content.size() == sizeof unit.setpoints + 1) {
        std::memcpy(unit.setpoints.data(), content.data(), sizeof unit.setpoints);
        unit.pid_configuration = static_cast<std::uint8_t>(content.back());
    }
    return unit;
}

void LockedStore::save(const UnitState& unit) const {
    std::string content(sizeof unit.setpoints, '\0');
    std::memcpy(content.data(), unit.setpoints.data(), sizeof unit.setpoints);
    content.push_back(static_cast<char>(unit.pid_configuration));
    replace_state_file(unit_file(dir_), content);
}

}  // namespace vornsim::mailbox_store
