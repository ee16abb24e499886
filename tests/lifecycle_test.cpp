// Loading and unloading the library in fresh client processes.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "client.h"

namespace {
using vornsim::Device;
using vornsim::SimRoot;
using vorntest::ClientOptions;
using vorntest::Report;
using vorntest::run_client;
using vorntest::VornLib;

constexpr const char* kLoadLine = "vorn_if lib loaded\n\n";

void report_descriptors(VornLib& lib, Report& report) {
    report.put("fd_DMA", *lib.fd_DMA);
    report.put("fd_Mbox", *lib.fd_Mbox);
    report.put("fd_Lock", *lib.fd_Lock);
    report.put("dma_mode", fcntl(*lib.fd_DMA, F_GETFL) & O_ACCMODE);
    report.put("mbox_mode", fcntl(*lib.fd_Mbox, F_GETFL) & O_ACCMODE);
    report.put("lock_flags", fcntl(*lib.fd_Lock, F_GETFL));
}

int open_descriptor_count() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    while (readdir(fds) != nullptr) {
        ++count;
    }
    closedir(fds);
    return count;
}

mode_t mode_of(const std::filesystem::path& path) {
    struct stat status {};
    lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

TEST(Load, PrintsTheLoadLineAndAnEmptyLineAndNothingElse) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib&, Report&) {});
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.out, kLoadLine);
    EXPECT_EQ(run.err, "");
}

TEST(Load, SetsUpTheProcessWideState) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        report_descriptors(lib, report);
        report.put("level", lib.level());
        report.put("samp_freq", *lib.SAMP_FREQ);
        report.put("transform_set", *lib.in != nullptr && *lib.out != nullptr && *lib.p != nullptr);
        *lib.SAMP_FREQ = 2500;
        report.put("samp_freq_kept", *lib.SAMP_FREQ);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_GE(run.integer("fd_DMA"), 0);
    EXPECT_GE(run.integer("fd_Mbox"), 0);
    EXPECT_GE(run.integer("fd_Lock"), 0);
    EXPECT_EQ(run.integer("dma_mode"), O_RDONLY);
    EXPECT_EQ(run.integer("mbox_mode"), O_RDWR);
    EXPECT_EQ(run.integer("lock_flags") & O_ACCMODE, O_RDWR);
    EXPECT_NE(run.integer("lock_flags") & O_SYNC, 0);
    EXPECT_EQ(run.integer("level"), LEVEL_VIEW);
    EXPECT_EQ(run.integer("samp_freq"), 1000);
    EXPECT_EQ(run.integer("transform_set"), 1);
    EXPECT_EQ(run.integer("samp_freq_kept"), 2500);
}

TEST(Load, SucceedsWithAbsentDevicesAndLeavesTheirDescriptorsAtMinusOne) {
    struct Case {
        bool stream;
        bool mailbox;
    };
    for (const Case c : {Case{false, true}, Case{true, false}, Case{false, false}}) {
        SCOPED_TRACE(testing::Message() << "stream " << c.stream << " mailbox " << c.mailbox);
        SimRoot root = SimRoot::make_fresh();
        root.set_device_present(Device::sample_stream, c.stream);
        root.set_device_present(Device::mailbox, c.mailbox);
        const auto run = run_client(root, [](VornLib& lib, Report& report) {
            report.put("fd_DMA", *lib.fd_DMA);
            report.put("fd_Mbox", *lib.fd_Mbox);
            report.put("fd_Lock", *lib.fd_Lock);
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        EXPECT_EQ(run.out, kLoadLine);
        EXPECT_EQ(run.integer("fd_DMA") >= 0, c.stream);
        EXPECT_EQ(run.integer("fd_DMA") == -1, !c.stream);
        EXPECT_EQ(run.integer("fd_Mbox") >= 0, c.mailbox);
        EXPECT_EQ(run.integer("fd_Mbox") == -1, !c.mailbox);
        EXPECT_GE(run.integer("fd_Lock"), 0);
    }
}

TEST(LockFile, IsCreatedWorldWritableUnderARestrictiveMask) {
    SimRoot root = SimRoot::make_fresh();
    ClientOptions options;
    options.umask = 077;
    const auto run = run_client(root, [](VornLib&, Report&) {}, options);
    ASSERT_TRUE(run.ok()) << run.describe();
    ASSERT_TRUE(std::filesystem::is_regular_file(root.lock_file()));
    EXPECT_EQ(mode_of(root.lock_file()), 0666);
    EXPECT_EQ(std::filesystem::file_size(root.lock_file()), 0u);
}

TEST(LockFile, AnExistingOneIsMadeWorldWritableWithItsContentUnchanged) {
    SimRoot root = SimRoot::make_fresh();
    { std::ofstream(root.lock_file()) << "left by someone"; }
    chmod(root.lock_file().c_str(), 0600);
    const auto run = run_client(root, [](VornLib& lib, Report&) {
        lib.getLock("chief", "KeepOnTuning");
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(mode_of(root.lock_file()), 0666);
    std::ifstream file(root.lock_file());
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "left by someone");
}

TEST(LockFile, APlantedLinkIsNeitherFollowedNorItsTargetOpenedUp) {
    SimRoot root = SimRoot::make_fresh();
    const auto target = root.path() / "somebody_elses_file";
    { std::ofstream(target) << "private"; }
    chmod(target.c_str(), 0600);
    std::filesystem::create_symlink(target, root.lock_file());
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        report.put("fd_Lock", *lib.fd_Lock);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("fd_Lock"), -1);
    EXPECT_EQ(mode_of(target), 0600);
}

TEST(Unload, ClosesEveryDescriptorItOpened) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        vorntest::unload_vorn_lib(lib);
        const int before = open_descriptor_count();
        std::string error;
        for (int round = 0; round < 3; ++round) {
            if (!vorntest::load_vorn_lib(lib, error)) {
                throw std::runtime_error(error);
            }
            vorntest::unload_vorn_lib(lib);
        }
        report.put("leaked", open_descriptor_count() - before);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("leaked"), 0);
}

volatile sig_atomic_t own_handler_runs = 0;
void own_sigusr1_handler(int) {
    own_handler_runs = own_handler_runs + 1;
}

TEST(Unload, GivesSigusr1BackToTheActionItReplaced) {
    SimRoot root = SimRoot::make_fresh();
    ClientOptions options;
    options.before_load = [] { signal(SIGUSR1, own_sigusr1_handler); };
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        raise(SIGUSR1);
        report.put("own_runs_while_loaded", own_handler_runs);
        vorntest::unload_vorn_lib(lib);
        raise(SIGUSR1);
        report.put("own_runs_after_unload", own_handler_runs);
    }, options);
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("own_runs_while_loaded"), 0);
    EXPECT_EQ(run.integer("own_runs_after_unload"), 1);
    EXPECT_EQ(run.out, std::string(kLoadLine) + "Signal Handler\n");
}

TEST(Unload, ReleasesTheControlLockForAWaitingProcess) {
    SimRoot root = SimRoot::make_fresh();
    const auto let_go = root.path() / "let_go";
    // The holder ignores SIGUSR1 and keeps it blocked, so only unloading can
    // hand the lock over; it unloads once the waiter has been refused.
    ClientOptions stubborn;
    stubborn.before_load = [] { signal(SIGUSR1, SIG_IGN); };
    vorntest::ClientProcess holder(root, [&let_go](VornLib& lib, Report& report) {
        sigset_t usr1;
        sigemptyset(&usr1);
        sigaddset(&usr1, SIGUSR1);
        sigprocmask(SIG_BLOCK, &usr1, nullptr);
        lib.getLock("chief", "KeepOnTuning");
        puts("holding");
        fflush(stdout);
        report.put("told", vorntest::eventually([&] { return std::filesystem::exists(let_go); }));
    }, stubborn);
    ASSERT_TRUE(holder.wait_for_output("holding"));
    vorntest::ClientProcess waiter(root, [](VornLib& lib, Report& report) {
        report.put("level", lib.getLock("crew", "OrbitWatcher"));
    });
    ASSERT_TRUE(waiter.wait_for_output("Sending signal\n")) << waiter.output_so_far();
    { std::ofstream{let_go}; }
    const auto held = holder.finish();
    const auto waited = waiter.finish();
    ASSERT_TRUE(held.ok()) << held.describe();
    ASSERT_TRUE(waited.ok()) << waited.describe();
    EXPECT_EQ(held.integer("told"), 1);
    EXPECT_EQ(held.out.find("Signal Handler"), std::string::npos) << held.describe();
    EXPECT_EQ(waited.integer("level"), LEVEL_OPERATOR) << waited.describe();
    const std::string got = ".\nGot lock\n";
    EXPECT_EQ(waited.out.substr(waited.out.size() - std::min(waited.out.size(), got.size())), got)
        << waited.describe();
}

}  // namespace
