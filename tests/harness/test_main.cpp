// Every test binary runs under the driver stand-in: started without a sim
// root, it starts itself again through the vornsim launcher.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

int main(int argc, char** argv) {
    if (std::getenv("VORNSIM_ROOT") == nullptr) {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<char*> relaunch{const_cast<char*>(VORNSIM_LAUNCHER), const_cast<char*>("--"),
                                    const_cast<char*>(self.c_str())};
        for (int i = 1; i < argc; ++i) {
            relaunch.push_back(argv[i]);
        }
        relaunch.push_back(nullptr);
        execv(VORNSIM_LAUNCHER, relaunch.data());
        std::fprintf(stderr, "cannot start %s: %s\n", VORNSIM_LAUNCHER, std::strerror(errno));
        return 127;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
