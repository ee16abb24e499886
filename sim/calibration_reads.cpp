#include "calibration_reads.h"

#include <sstream>

#include "root_layout.h"
#include "state_file.h"
#include "vornsim/mailbox_control.h"
#include "vornsim/stream_control.h"

namespace vornsim {
namespace fs = std::filesystem;

namespace {

fs::path reads_file(const fs::path& root) {
    return layout::control_dir(root) / "calibration.reads";
}

}  // namespace

void calibration_reads::record(const fs::path& root) {
    const SimRoot adopted = SimRoot::adopt(root);
    std::ostringstream line;
    line << SampleStreamControl(adopted).reads().size() << " "
         << MailboxControl(adopted).exchange_count() << "\n";
    append_state_file(reads_file(root), line.str());
}

std::vector<CalibrationRead> SimRoot::calibration_reads() const {
    std::vector<CalibrationRead> reads;
    std::istringstream lines(read_state_file(reads_file(path_)).value_or(""));
    CalibrationRead read{};
    while (lines >> read.stream_reads >> read.mailbox_exchanges) {
        reads.push_back(read);
    }
    return reads;
}

}  // namespace vornsim
