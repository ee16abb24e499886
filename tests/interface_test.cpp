// The library's binary interface: its file name and exactly its exported names.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::string command_output(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    pclose(pipe);
    return output;
}

std::set<std::string> words(const std::string& text) {
    std::set<std::string> result;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\n') {
            if (!word.empty()) {
                result.insert(word);
            }
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        result.insert(word);
    }
    return result;
}

TEST(BinaryInterface, ExportsExactlyTheDocumentedNames) {
    const std::set<std::string> expected = words(
        "SAMP_FREQ fd_DMA fd_Lock fd_Mbox in loginLevel out p getCurrentArray getFFT getPosArray "
        "getPosStats getSFPinfo _Z7my_initv _Z7my_finiv _Z7getLockPKcS0_ _Z13getLockStatusv "
        "_Z11getVornLocki _Z15releaseVornLocki _Z14lock_sigactioniP9siginfo_tPv "
        "_Z13getBPMscalingPdS_ _Z12getROCandROIPdS_S_S_S_ _Z8fftw_absPd _Z10setWindAvgcj "
        "_Z11setCrossBarhhhhh _Z12setBPMorienthh _Z11setFBenablei _Z12setPIDparamscdddddddd "
        "_Z10setPIDconfc _Z10getPIDconfPc _Z12setPIDoutSelhhh _Z6setROCcdd _Z9setOffsetddd "
        "_Z11setSetpointcd _Z11getSetpointcPd _Z12getPIDstatusv _Z12setCtrlResetv");
    ASSERT_EQ(expected.size(), 37u);
    const std::set<std::string> exported = words(command_output(
        std::string("nm -D --defined-only --format=just-symbols ") + VORN_IF_LIBRARY));
    EXPECT_EQ(exported, expected);
}

TEST(BinaryInterface, CarriesItsSoname) {
    const std::string dynamic = command_output(std::string("readelf -d ") + VORN_IF_LIBRARY);
    EXPECT_NE(dynamic.find("Library soname: [libvorn_if.so.1]"), std::string::npos) << dynamic;
}

}  // namespace
