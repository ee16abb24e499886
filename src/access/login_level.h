// The login level is also written by the SIGUSR1 handler, so every access is
// an atomic load or store of the exported global and nobody keeps a copy.
#pragma once

#include <atomic>

#include "vorn_if.h"

namespace vorn {

inline int current_login_level() {
    return std::atomic_ref<int>(loginLevel).load();
}

inline void set_login_level(int level) {
    std::atomic_ref<int>(loginLevel).store(level);
}

// Which levels a setting function accepts; tested once, at entry.
enum class Gate { any_login, expert_only };

inline bool gate_admits(Gate gate) {
    const int level = current_login_level();
    return gate == Gate::expert_only ? level == LEVEL_EXPERT : level != LEVEL_VIEW;
}

}  // namespace vorn
