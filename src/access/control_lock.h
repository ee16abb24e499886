// The control lock: an exclusive record lock over the whole lock file.
#pragma once

namespace vorn {

enum class LockOutcome {
    granted,
    failed,   // the request failed for a reason other than a holder
    gave_up,  // a holder kept the lock for the whole waiting bound
};

// Requests the lock, signalling its holder once per pass until it lets go.
LockOutcome acquire_control_lock(int fd);

}  // namespace vorn
