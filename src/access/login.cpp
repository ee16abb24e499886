// Login: the account table and the level it grants.
#include <cstring>

#include "access/control_lock.h"
#include "access/login_level.h"
#include "vorn_if.h"

namespace {

struct Account {
    const char* name;
    const char* password;  // null: any password, never read
    int level;
};

constexpr Account kAccounts[] = {
    {"patrol", nullptr, LEVEL_VIEW},
    {"crew", "OrbitWatcher", LEVEL_OPERATOR},
    {"chief", "KeepOnTuning", LEVEL_EXPERT},
};

bool same_text(const char* given, const char* expected) {
    return given != nullptr && std::strcmp(given, expected) == 0;
}

const Account* find_account(const char* name) {
    for (const Account& account : kAccounts) {
        if (same_text(name, account.name)) {
            return &account;
        }
    }
    return nullptr;
}

}  // namespace

int getLock(const char* name, const char* password) {
    const Account* account = find_account(name);
    if (account != nullptr &&
        (account->password == nullptr || same_text(password, account->password))) {
        vorn::set_login_level(account->level);
    }
    if (vorn::current_login_level() > LEVEL_VIEW &&
        vorn::acquire_control_lock(fd_Lock) == vorn::LockOutcome::gave_up) {
        vorn::set_login_level(LEVEL_VIEW);
    }
    return vorn::current_login_level();
}

int getLockStatus() {
    return vorn::current_login_level();
}
