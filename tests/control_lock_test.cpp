// Login levels and the control lock, between real client processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>

#include "client.h"
#include "vornsim/mailbox_control.h"

namespace {
using vornsim::SimRoot;
using vorntest::ClientProcess;
using vorntest::ClientRun;
using vorntest::Report;
using vorntest::run_client;
using vorntest::VornLib;

constexpr const char* kLoadLine = "vorn_if lib loaded\n\n";
constexpr const char* kUncontested = ".\nGot lock\n";

// What a client printed after the load line.
std::string after_load_line(const ClientRun& run) {
    const std::string prefix = kLoadLine;
    return run.out.compare(0, prefix.size(), prefix) == 0 ? run.out.substr(prefix.size())
                                                          : "<no load line>" + run.out;
}

// Whether `text` is `pass` repeated one or more times, then `last`; checked
// without std::regex, whose recursion overflows the stack on long waits.
bool repeats_then(const std::string& text, const std::string& pass, const std::string& last) {
    std::size_t at = 0;
    std::size_t passes = 0;
    while (text.compare(at, pass.size(), pass) == 0) {
        at += pass.size();
        ++passes;
    }
    return passes > 0 && text.substr(at) == last;
}

constexpr const char* kRefusedPass = ".\nError getting lock\nSending signal\n";

// The process id holding a record lock on the lock file, 0 when none does.
pid_t lock_holder(const SimRoot& root) {
    const int fd = open(root.lock_file().c_str(), O_RDWR);
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const int result = fcntl(fd, F_GETLK, &probe);
    close(fd);
    return result == 0 && probe.l_type != F_UNLCK ? probe.l_pid : 0;
}

void hold_until_told(const char* marker) {
    puts(marker);
    fflush(stdout);
    pause();
}

TEST(Login, GrantsTheLevelOfItsAccountAndLocksAboveView) {
    struct Case {
        const char* name;
        const char* password;
        int level;
        const char* printed;
    };
    const Case cases[] = {
        {"patrol", "", LEVEL_VIEW, ""},
        {"patrol", nullptr, LEVEL_VIEW, ""},
        {"crew", "OrbitWatcher", LEVEL_OPERATOR, kUncontested},
        {"chief", "KeepOnTuning", LEVEL_EXPERT, kUncontested},
        {"crew", "orbitwatcher", LEVEL_VIEW, ""},
        {"crew", "KeepOnTuning", LEVEL_VIEW, ""},
        {"chief", "KeepOnTuning ", LEVEL_VIEW, ""},
        {"Chief", "KeepOnTuning", LEVEL_VIEW, ""},
        {"CHIEF", "KeepOnTuning", LEVEL_VIEW, ""},
        {"", "", LEVEL_VIEW, ""},
        {nullptr, "KeepOnTuning", LEVEL_VIEW, ""},
        {"chief", nullptr, LEVEL_VIEW, ""},
    };
    SimRoot root = SimRoot::make_fresh();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.name ? c.name : "(null)") << " / "
                                        << (c.password ? c.password : "(null)"));
        const auto run = run_client(root, [&c](VornLib& lib, Report& report) {
            report.put("result", lib.getLock(c.name, c.password));
            report.put("level", lib.getLockStatus());
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        EXPECT_EQ(run.integer("result"), c.level);
        EXPECT_EQ(run.integer("level"), c.level);
        EXPECT_EQ(after_load_line(run), c.printed);
        EXPECT_EQ(run.err, "");
    }
}

TEST(Login, InTheHolderKeepsOrChangesTheLevelAndTakesTheLockAgainAtOnce) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        report.put("crew", lib.getLock("crew", "OrbitWatcher"));
        report.put("chief", lib.getLock("chief", "KeepOnTuning"));
        report.put("refused", lib.getLock("crew", "wrong"));
        report.put("unknown", lib.getLock("nobody", "KeepOnTuning"));
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("crew"), LEVEL_OPERATOR);
    EXPECT_EQ(run.integer("chief"), LEVEL_EXPERT);
    EXPECT_EQ(run.integer("refused"), LEVEL_EXPERT);
    EXPECT_EQ(run.integer("unknown"), LEVEL_EXPERT);
    EXPECT_EQ(after_load_line(run), ".\nGot lock\n.\nGot lock\n.\nGot lock\n.\nGot lock\n");
}

TEST(Login, AsPatrolDropsToViewButKeepsAHeldLock) {
    SimRoot root = SimRoot::make_fresh();
    ClientProcess client(root, [](VornLib& lib, Report& report) {
        lib.getLock("chief", "KeepOnTuning");
        report.put("level", lib.getLock("patrol", ""));
        hold_until_told("holding");
    });
    ASSERT_TRUE(client.wait_for_output("holding"));
    EXPECT_EQ(lock_holder(root), client.pid());
    kill(client.pid(), SIGTERM);
    const auto run = client.finish();
    EXPECT_EQ(run.integer("level"), LEVEL_VIEW);
    EXPECT_EQ(after_load_line(run), std::string(kUncontested) + "holding\n");
}

TEST(ReleaseLock, LetsGoWithoutChangingTheLevel) {
    SimRoot root = SimRoot::make_fresh();
    ClientProcess client(root, [](VornLib& lib, Report& report) {
        report.put("unheld", lib.releaseVornLock(*lib.fd_Lock));
        report.put("unheld_level", lib.getLockStatus());
        lib.getLock("chief", "KeepOnTuning");
        report.put("held", lib.releaseVornLock(*lib.fd_Lock));
        report.put("held_level", lib.getLockStatus());
        report.put("bad_descriptor", lib.releaseVornLock(-1));
        hold_until_told("released");
    });
    ASSERT_TRUE(client.wait_for_output("released"));
    EXPECT_EQ(lock_holder(root), 0);
    kill(client.pid(), SIGTERM);
    const auto run = client.finish();
    EXPECT_EQ(run.integer("unheld"), 0);
    EXPECT_EQ(run.integer("unheld_level"), LEVEL_VIEW);
    EXPECT_EQ(run.integer("held"), 0);
    EXPECT_EQ(run.integer("held_level"), LEVEL_EXPERT);
    EXPECT_EQ(run.integer("bad_descriptor"), -1);
}

TEST(Takeover, ANewerLoginTakesTheLockAndDropsTheHolderToView) {
    SimRoot root = SimRoot::make_fresh();
    ClientProcess holder(root, [](VornLib& lib, Report& report) {
        report.put("login", lib.getLock("chief", "KeepOnTuning"));
        puts("in control");
        fflush(stdout);
        report.put("dropped", vorntest::eventually([&] { return lib.level() == LEVEL_VIEW; }));
        report.put("status", lib.getLockStatus());
        report.put("gated", lib.setFBenable(1));
        report.put("expert_gated", lib.setCrossBar(1, 2, 3, 4, 5));
    });
    ASSERT_TRUE(holder.wait_for_output("in control"));
    const auto newer = run_client(root, [](VornLib& lib, Report& report) {
        report.put("login", lib.getLock("crew", "OrbitWatcher"));
    });
    const auto former = holder.finish();
    ASSERT_TRUE(newer.ok()) << newer.describe();
    ASSERT_TRUE(former.ok()) << former.describe();

    EXPECT_EQ(newer.integer("login"), LEVEL_OPERATOR);
    EXPECT_TRUE(repeats_then(after_load_line(newer), kRefusedPass, kUncontested))
        << newer.describe();
    EXPECT_TRUE(repeats_then(newer.err, "fcntl(): Resource temporarily unavailable\n", ""))
        << newer.describe();

    EXPECT_EQ(former.integer("login"), LEVEL_EXPERT);
    EXPECT_EQ(former.integer("dropped"), 1);
    EXPECT_EQ(former.integer("status"), LEVEL_VIEW);
    EXPECT_EQ(former.integer("gated"), -1);
    EXPECT_EQ(former.integer("expert_gated"), -1);
    EXPECT_EQ(vornsim::MailboxControl(root).exchange_count(), 0u);
    const std::string former_printed = after_load_line(former);
    EXPECT_TRUE(former_printed.rfind(".\nGot lock\nin control\n", 0) == 0 &&
                repeats_then(former_printed.substr(std::strlen(".\nGot lock\nin control\n")),
                             "Signal Handler\n", ""))
        << former.describe();
}

TEST(Sigusr1, DropsAClientThatNeverLoggedInToViewAndSaysSo) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        errno = ERANGE;
        raise(SIGUSR1);
        report.put("errno_kept", errno == ERANGE);
        report.put("level", lib.getLockStatus());
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(after_load_line(run), "Signal Handler\n");
    EXPECT_EQ(run.integer("level"), LEVEL_VIEW);
    EXPECT_EQ(run.integer("errno_kept"), 1);
}

TEST(Login, WithAnUnusableLockFileKeepsTheLevelWithoutTheLock) {
    SimRoot root = SimRoot::make_fresh();
    std::filesystem::create_directory(root.lock_file());  // opening it read-write fails
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        report.put("fd_Lock", *lib.fd_Lock);
        report.put("level", lib.getLock("chief", "KeepOnTuning"));
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("fd_Lock"), -1);
    EXPECT_EQ(run.integer("level"), LEVEL_EXPERT);
    EXPECT_EQ(after_load_line(run), ".\nError getting lock\n");
    EXPECT_EQ(run.err, "fcntl(): Bad file descriptor\n");
}

// A holder that never lets go: it holds the record lock without the library
// and ignores SIGUSR1.
class StubbornHolder {
public:
    explicit StubbornHolder(const SimRoot& root) {
        int ready[2];
        if (pipe(ready) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            signal(SIGUSR1, SIG_IGN);
            const int fd = open(root.lock_file().c_str(), O_RDWR | O_CREAT, 0666);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char status = fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &status, 1);
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        char status = 'n';
        locked_ = read(ready[0], &status, 1) == 1 && status == 'y';
        close(ready[0]);
    }
    ~StubbornHolder() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

TEST(Login, GivesUpOnAHolderThatNeverLetsGoAndReportsView) {
    SimRoot root = SimRoot::make_fresh();
    StubbornHolder holder(root);
    ASSERT_TRUE(holder.locked());
    const auto started = std::chrono::steady_clock::now();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        report.put("login", lib.getLock("chief", "KeepOnTuning"));
        report.put("level", lib.getLockStatus());
        report.put("gated", lib.setFBenable(1));
    });
    const auto waited = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("login"), LEVEL_VIEW);
    EXPECT_EQ(run.integer("level"), LEVEL_VIEW);
    EXPECT_EQ(run.integer("gated"), -1);
    EXPECT_EQ(vornsim::MailboxControl(root).exchange_count(), 0u);
    EXPECT_EQ(lock_holder(root), holder.pid());
    const std::string printed = after_load_line(run);
    EXPECT_TRUE(repeats_then(printed, kRefusedPass, "Gave up waiting for lock\n"))
        << printed.substr(0, 200) << " ... " << printed.substr(printed.size() - std::min<std::size_t>(printed.size(), 200));
    EXPECT_GE(waited, std::chrono::seconds(9));
    EXPECT_LT(waited, std::chrono::seconds(30));
}

}  // namespace
