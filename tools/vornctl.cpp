// vornctl: a command-line client of the feedback unit.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "vorn_if.h"

namespace {

constexpr int kSpectrumBins = 1025;

const char* level_name(int level) {
    switch (level) {
    case LEVEL_VIEW:
        return "view";
    case LEVEL_OPERATOR:
        return "operator";
    case LEVEL_EXPERT:
        return "expert";
    default:
        return "unknown";
    }
}

int fail(const char* what) {
    std::fprintf(stderr, "vornctl: %s failed: %s; 'vornctl status' shows whether the devices are open\n",
                 what, std::strerror(errno));
    return 1;
}

int print_status() {
    std::printf("sample stream device: %s (fd %d)\n", fd_DMA >= 0 ? "open" : "not open", fd_DMA);
    std::printf("mailbox device:       %s (fd %d)\n", fd_Mbox >= 0 ? "open" : "not open", fd_Mbox);
    std::printf("lock file:            %s (fd %d)\n", fd_Lock >= 0 ? "open" : "not open", fd_Lock);
    std::printf("sampling frequency:   %d Hz\n", SAMP_FREQ);
    const int level = getLockStatus();
    std::printf("login level:          %d (%s)\n", level, level_name(level));
    return 0;
}

int print_calibration() {
    double scale_x = 1.0;
    double scale_y = 1.0;
    double roi[5] = {};
    if (getBPMscaling(&scale_x, &scale_y) != 0 ||
        getROCandROI(&roi[0], &roi[1], &roi[2], &roi[3], &roi[4]) != 0) {
        std::fprintf(stderr, "vornctl: the calibration file cannot be opened; positions are "
                             "given unscaled\n");
        return 1;
    }
    std::printf("Scale_X %.17g\nScale_Y %.17g\n", scale_x, scale_y);
    std::printf("RoiX %.17g\nRoiY %.17g\nRoiI0min %.17g\nRoiI0max %.17g\nRoc %.17g\n", roi[0],
                roi[1], roi[2], roi[3], roi[4]);
    return 0;
}

int print_positions(unsigned samples) {
    std::vector<double> x(samples), y(samples), i0(samples);
    const int got = getPosArray(x.data(), y.data(), i0.data(), samples);
    if (got < 0) {
        return fail("reading positions");
    }
    std::printf("# x y i0\n");
    for (int i = 0; i < got; ++i) {
        std::printf("%.17g %.17g %.17g\n", x[i], y[i], i0[i]);
    }
    return 0;
}

int print_currents(unsigned samples) {
    std::vector<double> currents(4 * static_cast<std::size_t>(samples));
    const int got = getCurrentArray(currents.data(), samples);
    if (got < 0) {
        return fail("reading currents");
    }
    std::printf("# current1 current2 current3 current4\n");
    for (int i = 0; i < got; ++i) {
        const double* sample = &currents[4 * static_cast<std::size_t>(i)];
        std::printf("%.17g %.17g %.17g %.17g\n", sample[0], sample[1], sample[2], sample[3]);
    }
    return 0;
}

int print_spectrum(int channel, bool remove_mean, unsigned strongest) {
    std::vector<double> amplitude(kSpectrumBins), frequency(kSpectrumBins);
    if (getFFT(channel, amplitude.data(), frequency.data(), remove_mean ? 1 : 0) != 0) {
        return fail("computing the spectrum");
    }
    std::vector<int> bins(kSpectrumBins);
    std::iota(bins.begin(), bins.end(), 0);
    if (strongest > 0 && strongest < bins.size()) {
        std::partial_sort(bins.begin(), bins.begin() + strongest, bins.end(),
                          [&](int a, int b) { return amplitude[a] > amplitude[b]; });
        bins.resize(strongest);
    }
    std::printf("# bin frequency_hz amplitude\n");
    for (const int bin : bins) {
        std::printf("%d %.17g %.17g\n", bin, frequency[bin], amplitude[bin]);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Command-line client of the beam-position feedback unit.", "vornctl"};
    std::string account;
    std::string password;
    app.add_option("--login", account, "Log in with this account before the command");
    app.add_option("--password", password, "Password of the --login account");
    app.require_subcommand(1);

    CLI::App* status = app.add_subcommand("status", "Show the devices, the sampling frequency and the login level");
    CLI::App* calibration = app.add_subcommand("calibration", "Show the scale factors and the ROC and ROI values");

    unsigned samples = 10;
    CLI::App* positions = app.add_subcommand("positions", "Read samples: calibrated X and Y, and I0");
    positions->add_option("-n,--samples", samples, "Number of samples")->capture_default_str();
    CLI::App* currents = app.add_subcommand("currents", "Read samples: the four currents");
    currents->add_option("-n,--samples", samples, "Number of samples")->capture_default_str();

    int channel = 0;
    bool remove_mean = false;
    unsigned strongest = 0;
    CLI::App* spectrum = app.add_subcommand("spectrum", "Amplitude spectrum of one slot over 2048 samples");
    spectrum->add_option("-c,--channel", channel, "Slot of the sample record, 0 to 31")
        ->check(CLI::Range(0, 31))
        ->capture_default_str();
    spectrum->add_flag("--remove-mean", remove_mean, "Subtract the mean before the transform");
    spectrum->add_option("--strongest", strongest, "Show only the N strongest bins, strongest first");
    CLI11_PARSE(app, argc, argv);

    if (!account.empty()) {
        const int level = getLock(account.c_str(), password.c_str());
        if (level == LEVEL_VIEW && account != "patrol") {
            std::fprintf(stderr,
                         "vornctl: login as %s left the level at view: wrong password, unknown "
                         "account, or another client kept the control lock\n",
                         account.c_str());
        }
    }
    if (status->parsed()) {
        return print_status();
    }
    if (calibration->parsed()) {
        return print_calibration();
    }
    if (positions->parsed()) {
        return print_positions(samples);
    }
    if (currents->parsed()) {
        return print_currents(samples);
    }
    return print_spectrum(channel, remove_mean, strongest);
}
