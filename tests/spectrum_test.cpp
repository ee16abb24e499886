// The spectrum of one slot over 2048 records, checked against a plain DFT
// computed here, its frequency axis, and the cases where it must refuse.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "bit_patterns.h"
#include "client.h"
#include "vornsim/stream_control.h"

namespace {
using vornsim::Device;
using vornsim::SampleRecord;
using vornsim::SampleStreamControl;
using vornsim::SimRoot;
using vornsim::StreamGenerator;
using vornsim::StreamRead;
using vornsim::Waveform;
using vorntest::bits_of;
using vorntest::Report;
using vorntest::run_client;
using vorntest::VornLib;

constexpr std::size_t kPoints = 2048;
constexpr std::size_t kBins = 1025;
constexpr long long kBlockBytes = 2048 * 256;
constexpr double kUntouched = -12345.5;

// Amplitudes |X[m]| / N of the plain O(N^2) transform X[m] = sum x[k] e^(-2 pi i k m / N).
std::vector<double> reference_amplitudes(const std::vector<double>& series) {
    std::vector<std::complex<double>> turn(kPoints);
    for (std::size_t j = 0; j < kPoints; ++j) {
        turn[j] = std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(j) / kPoints);
    }
    std::vector<double> amplitudes(kBins);
    for (std::size_t m = 0; m < kBins; ++m) {
        std::complex<double> sum = 0.0;
        for (std::size_t k = 0; k < kPoints; ++k) {
            sum += series[k] * turn[k * m % kPoints];
        }
        amplitudes[m] = std::abs(sum) / kPoints;
    }
    return amplitudes;
}

std::vector<double> without_mean(std::vector<double> series) {
    double sum = 0.0;
    for (double value : series) {
        sum += value;
    }
    for (double& value : series) {
        value -= sum / kPoints;
    }
    return series;
}

struct Spectrum {
    long long result;
    std::vector<double> amplitude, frequency, series;
};

Spectrum spectrum_of(const SimRoot& root, int channel, int remove_mean, int samp_freq = 1000) {
    const auto run = run_client(root, [=](VornLib& lib, Report& report) {
        std::vector<double> amplitude(kBins, kUntouched), frequency(kBins, kUntouched);
        *lib.SAMP_FREQ = samp_freq;
        report.put("result", lib.getFFT(channel, amplitude.data(), frequency.data(), remove_mean));
        report.put_values("amplitude", amplitude.data(), kBins);
        report.put_values("frequency", frequency.data(), kBins);
        report.put_values("series", *lib.in, kPoints);
    });
    EXPECT_TRUE(run.ok()) << run.describe();
    return {run.integer("result"), run.values<double>("amplitude"),
            run.values<double>("frequency"), run.values<double>("series")};
}

std::vector<SampleRecord> random_records(std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    std::vector<SampleRecord> records(kPoints);
    for (SampleRecord& record : records) {
        for (double& slot : record) {
            slot = value(generator);
        }
    }
    return records;
}

TEST(Spectrum, MatchesAPlainTransformOfTheScaledSeries) {
    const auto cosine = [](double amplitude) {
        return [=](std::size_t k) {
            return amplitude *
                   std::cos(2.0 * std::numbers::pi * 100.0 * static_cast<double>(k) / kPoints);
        };
    };
    const std::vector<SampleRecord> random = random_records(7);
    struct Peak {
        std::size_t bin;
        double amplitude;
    };
    struct Case {
        const char* name;
        const char* calibration;
        std::optional<StreamGenerator> generator;  // else the random records
        int channel;
        int remove_mean;
        double factor;
        std::function<double(std::size_t)> raw;
        std::vector<Peak> peaks;
    };
    const Case cases[] = {
        {"constant", nullptr, StreamGenerator{Waveform::constant, -3.5, 0, 2u}, 2, 0, 1.0,
         [](std::size_t) { return -3.5; }, {{0, 3.5}}},
        {"constant without its mean", nullptr, StreamGenerator{Waveform::constant, -3.5, 0, 2u}, 2,
         1, 1.0, [](std::size_t) { return -3.5; }, {{0, 0.0}}},
        {"removeMean 7 as 1", nullptr, StreamGenerator{Waveform::constant, -3.5, 0, 2u}, 2, 7, 1.0,
         [](std::size_t) { return -3.5; }, {{0, 0.0}}},
        {"alternating", nullptr, StreamGenerator{Waveform::alternating, 2.5, 0, 2u}, 2, 0, 1.0,
         [](std::size_t k) { return k % 2 == 0 ? 2.5 : -2.5; }, {{1024, 2.5}, {0, 0.0}}},
        {"cosine on bin 100", nullptr, StreamGenerator{Waveform::cosine, 4.0, 100, 2u}, 2, 0, 1.0,
         cosine(4.0), {{100, 2.0}, {99, 0.0}, {0, 0.0}}},
        {"channel 0 with Scale_X 2", "[BPM1]\nScale_X = 2\nScale_Y = 3\n",
         StreamGenerator{Waveform::cosine, 4.0, 100, 0u}, 0, 0, 2.0, cosine(4.0), {{100, 4.0}}},
        {"channel 1 with Scale_Y 0.5", "[BPM1]\nScale_X = 2\nScale_Y = 0.5\n",
         StreamGenerator{Waveform::cosine, 4.0, 100, 1u}, 1, 0, 0.5, cosine(4.0), {{100, 1.0}}},
        {"channel 3 never scaled", "[BPM1]\nScale_X = 2\nScale_Y = 3\n",
         StreamGenerator{Waveform::cosine, 4.0, 100, 3u}, 3, 0, 1.0, cosine(4.0), {{100, 2.0}}},
        {"random series without its mean", nullptr, std::nullopt, 7, 1, 1.0,
         [&](std::size_t k) { return random[k][7]; }, {}},
        {"random channel 1 scaled", "[BPM1]\nScale_Y = -1.5\n", std::nullopt, 1, 0, -1.5,
         [&](std::size_t k) { return random[k][1]; }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        if (c.generator) {
            SampleStreamControl(root).serve(*c.generator);
        } else {
            SampleStreamControl(root).serve_records(random);
        }
        std::vector<double> expected(kPoints);
        for (std::size_t k = 0; k < kPoints; ++k) {
            expected[k] = c.factor * c.raw(k);
        }
        if (c.remove_mean != 0) {
            expected = without_mean(expected);
        }
        const std::vector<double> reference = reference_amplitudes(expected);
        for (const Peak& peak : c.peaks) {
            ASSERT_NEAR(reference[peak.bin], peak.amplitude, 1e-12) << "the reference itself";
        }

        const Spectrum got = spectrum_of(root, c.channel, c.remove_mean);
        EXPECT_EQ(got.result, 0);
        for (std::size_t k = 0; k < kPoints; ++k) {
            ASSERT_NEAR(got.series[k], expected[k], 1e-12) << "input " << k;
        }
        for (std::size_t m = 0; m < kBins; ++m) {
            ASSERT_NEAR(got.amplitude[m], reference[m], 1e-10) << "bin " << m;
        }
    }
}

TEST(Spectrum, SumsTheMeanInIndexOrder) {
    // In index order every 1 that follows 1e16 is lost to rounding; summed
    // the other way round, in pairs or compensated, the sum comes out
    // otherwise.
    std::vector<double> series(kPoints, 1.0);
    series[0] = 1e16;
    series[kPoints / 2] = -1e16;
    double forward = 0.0;
    for (const double value : series) {
        forward += value;
    }
    double backward = 0.0;
    for (auto value = series.rbegin(); value != series.rend(); ++value) {
        backward += *value;
    }
    ASSERT_NE(forward, backward) << "the series tells the two orders apart";

    std::vector<SampleRecord> records(kPoints);
    for (std::size_t k = 0; k < kPoints; ++k) {
        records[k][2] = series[k];
    }
    SimRoot root = SimRoot::make_fresh();
    SampleStreamControl(root).serve_records(records);
    const Spectrum got = spectrum_of(root, 2, 1);
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(bits_of(got.series), bits_of(without_mean(series)));
}

TEST(Spectrum, ScalesOnlyThePositionChannels) {
    const std::vector<SampleRecord> records = random_records(11);
    const auto spectra = [&](const char* calibration) {
        std::vector<std::vector<double>> amplitudes;
        for (int channel : {0, 1, 2, 3, 31}) {
            SimRoot root = SimRoot::make_fresh();
            root.set_calibration(calibration);
            SampleStreamControl(root).serve_records(records);
            amplitudes.push_back(spectrum_of(root, channel, 0).amplitude);
        }
        return amplitudes;
    };
    const auto unit = spectra("");
    const auto scaled = spectra("[BPM1]\nScale_X = 2\nScale_Y = 0.25\n");
    const double factors[] = {2.0, 0.25, 1.0, 1.0, 1.0};
    for (std::size_t c = 0; c < 5; ++c) {
        SCOPED_TRACE(c);
        for (std::size_t m = 0; m < kBins; ++m) {
            // Powers of two scale a floating-point transform exactly.
            ASSERT_EQ(scaled[c][m], factors[c] * unit[c][m]) << "bin " << m;
        }
    }
}

TEST(Spectrum, TransformsUnscaledChannelsFromTheirExactBits) {
    std::vector<SampleRecord> records(kPoints);
    for (std::size_t k = 0; k < kPoints; ++k) {
        records[k][3] = k == 5 ? std::bit_cast<double>(std::uint64_t{0x7FF0000000000123}) : -0.0;
        records[k][31] = std::bit_cast<double>(std::uint64_t{0x8000000000000000} | k);
    }
    for (const int channel : {3, 31}) {
        SCOPED_TRACE(channel);
        SimRoot root = SimRoot::make_fresh();
        SampleStreamControl(root).serve_records(records);
        const Spectrum got = spectrum_of(root, channel, 0);
        for (std::size_t k = 0; k < kPoints; ++k) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(got.series[k]),
                      std::bit_cast<std::uint64_t>(records[k][channel]))
                << "input " << k;
        }
        EXPECT_EQ(SampleStreamControl(root).reads(),
                  (std::vector<StreamRead>{{kBlockBytes, kBlockBytes}}));
    }
}

TEST(Spectrum, PlacesBinMAtExactlyMTimesTheSamplingFrequencyOver2048) {
    for (const int samp_freq : {1000, 44100, 3, INT_MAX}) {
        SCOPED_TRACE(samp_freq);
        SimRoot root = SimRoot::make_fresh();
        const Spectrum got = spectrum_of(root, 2, 0, samp_freq);
        for (std::size_t m = 0; m < kBins; ++m) {
            // Times 2048 is exact, and so is the product below 2^53.
            const std::int64_t numerator = std::int64_t{samp_freq} * static_cast<std::int64_t>(m);
            ASSERT_EQ(got.frequency[m] * 2048.0, static_cast<double>(numerator))
                << "bin " << m;
        }
        if (samp_freq == 1000) {
            EXPECT_EQ(got.frequency[0], 0.0);
            EXPECT_EQ(got.frequency[1], 0.48828125);
            EXPECT_EQ(got.frequency[1024], 500.0);
        }
        if (samp_freq == INT_MAX) {
            EXPECT_EQ(got.frequency[1], 1048575.99951171875);
            EXPECT_EQ(got.frequency[1024], 1073741823.5);
        }
    }
}

TEST(Spectrum, MagnitudeIsThePlainRootOfTheSumOfSquares) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        double bins[][2] = {{3.0, 4.0},     {-5.0, -12.0}, {0.0, 0.0},
                            {1e200, 1e200}, {1e-200, 0.0}, {0x1.071fae04p+0, 0x1.86d538ap-1}};
        std::vector<double> magnitudes;
        for (auto& bin : bins) {
            magnitudes.push_back(lib.fftw_abs(bin));
        }
        report.put_values("magnitudes", magnitudes.data(), magnitudes.size());
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    // The fourth and fifth tell the plain form from a scaled hypotenuse,
    // which would give 1.414e200 and 1e-200; the sixth from a fused
    // multiply-add, which would give 0x1.47c0a33eb9d71p+0.
    EXPECT_EQ(run.values<double>("magnitudes"),
              (std::vector<double>{5.0, 13.0, 0.0, HUGE_VAL, 0.0, 0x1.47c0a33eb9d7p+0}));
}

// Refusals of a bad argument, a failed or short read and a missing transform
// set: each takes no records, or none that reach the caller, and writes
// nothing.

void expect_refused(const vorntest::ClientRun& run) {
    EXPECT_EQ(run.integer("result"), -1);
    EXPECT_EQ(run.values<double>("amplitude"), std::vector<double>(kBins, kUntouched));
    EXPECT_EQ(run.values<double>("frequency"), std::vector<double>(kBins, kUntouched));
}

TEST(Spectrum, RefusesABadChannelOrANullOutputWithoutTakingRecords) {
    struct Case {
        int channel;
        bool amplitude, frequency;  // whether the output is given
    };
    for (const Case c : {Case{-1, true, true}, Case{32, true, true}, Case{INT_MIN, true, true},
                         Case{INT_MAX, true, true}, Case{0, false, true}, Case{0, true, false},
                         Case{0, false, false}}) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " amplitude " << c.amplitude
                                        << " frequency " << c.frequency);
        SimRoot root = SimRoot::make_fresh();
        const auto run = run_client(root, [c](VornLib& lib, Report& report) {
            std::vector<double> amplitude(kBins, kUntouched), frequency(kBins, kUntouched);
            report.put("result", lib.getFFT(c.channel, c.amplitude ? amplitude.data() : nullptr,
                                             c.frequency ? frequency.data() : nullptr, 0));
            report.put_values("amplitude", amplitude.data(), kBins);
            report.put_values("frequency", frequency.data(), kBins);
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        expect_refused(run);
        EXPECT_TRUE(SampleStreamControl(root).reads().empty());
    }
}

TEST(Spectrum, AFailedOrShortReadWritesNothing) {
    struct Case {
        const char* name;
        std::function<void(const SimRoot&)> fault;
    };
    const Case cases[] = {
        {"read fails", [](const SimRoot& root) { SampleStreamControl(root).fail_next_read(EIO); }},
        {"one record short",
         [](const SimRoot& root) { SampleStreamControl(root).cut_next_read(kBlockBytes - 256); }},
        {"one byte short",
         [](const SimRoot& root) { SampleStreamControl(root).cut_next_read(kBlockBytes - 1); }},
        {"device absent",
         [](const SimRoot& root) { root.set_device_present(Device::sample_stream, false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = SimRoot::make_fresh();
        c.fault(root);
        const auto run = run_client(root, [](VornLib& lib, Report& report) {
            std::vector<double> amplitude(kBins, kUntouched), frequency(kBins, kUntouched);
            std::fill(*lib.in, *lib.in + kPoints, kUntouched);
            report.put("result", lib.getFFT(2, amplitude.data(), frequency.data(), 1));
            report.put_values("amplitude", amplitude.data(), kBins);
            report.put_values("frequency", frequency.data(), kBins);
            report.put_values("series", *lib.in, kPoints);
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        expect_refused(run);
        EXPECT_EQ(run.values<double>("series"), std::vector<double>(kPoints, kUntouched))
            << "no partial series reaches the transform input";
    }
}

// The transform set is left null when allocation or planning fails at load;
// the test takes each part away through the exported globals.
TEST(Spectrum, WithoutATransformSetReturnsMinusOneWithoutReading) {
    for (const char* missing : {"in", "out", "p"}) {
        SCOPED_TRACE(missing);
        SimRoot root = SimRoot::make_fresh();
        const auto run = run_client(root, [missing](VornLib& lib, Report& report) {
            const std::string part = missing;
            double* const in = *lib.in;
            fftw_complex* const out = *lib.out;
            fftw_plan const plan = *lib.p;
            if (part == "in") {
                *lib.in = nullptr;
            } else if (part == "out") {
                *lib.out = nullptr;
            } else {
                *lib.p = nullptr;
            }
            std::vector<double> amplitude(kBins, kUntouched), frequency(kBins, kUntouched);
            report.put("result", lib.getFFT(2, amplitude.data(), frequency.data(), 0));
            report.put_values("amplitude", amplitude.data(), kBins);
            report.put_values("frequency", frequency.data(), kBins);
            *lib.in = in;
            *lib.out = out;
            *lib.p = plan;
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        expect_refused(run);
        EXPECT_TRUE(SampleStreamControl(root).reads().empty());
    }
}

// A call's first write to its caller's arrays, which comes after the
// transform has run, is held up until the test lets it go: the arrays sit on
// write-protected pages whose fault handler waits.
namespace held_write {
char* region = nullptr;
std::size_t region_size = 0;
std::atomic<bool> holding{false};
std::atomic<bool> released{false};

void on_fault(int, siginfo_t* info, void*) {
    char* const address = static_cast<char*>(info->si_addr);
    if (address < region || address >= region + region_size) {
        signal(SIGSEGV, SIG_DFL);
        return;
    }
    mprotect(region, region_size, PROT_READ | PROT_WRITE);
    holding = true;
    while (!released) {
        const timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
    }
}

// Room for amplitude and frequency, each on pages of its own.
double* protected_arrays() {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t array_size = (kBins * sizeof(double) + page - 1) / page * page;
    region_size = 2 * array_size;
    region = static_cast<char*>(
        mmap(nullptr, region_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    struct sigaction action = {};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
    return reinterpret_cast<double*>(region);
}
}  // namespace held_write

TEST(Spectrum, ACallOnAnotherThreadWaitsForTheTransformSetInUse) {
    // Slot 3 is constant and slot 5 alternates, so each spectrum has its one
    // line in a bin where the other has none.
    std::vector<SampleRecord> records(kPoints);
    for (std::size_t k = 0; k < kPoints; ++k) {
        records[k][3] = 1.0;
        records[k][5] = k % 2 == 0 ? 1.0 : -1.0;
    }
    SimRoot root = SimRoot::make_fresh();
    SampleStreamControl(root).serve_records(records);
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        double* const held = held_write::protected_arrays();
        double* const held_amplitude = held;
        double* const held_frequency = held + held_write::region_size / 2 / sizeof(double);
        std::thread first([&] { lib.getFFT(3, held_amplitude, held_frequency, 0); });
        if (!vorntest::eventually([] { return held_write::holding.load(); })) {
            throw std::runtime_error("the first call never wrote its outputs");
        }
        std::vector<double> amplitude(kBins), frequency(kBins);
        std::atomic<bool> second_done{false};
        std::thread second([&] {
            lib.getFFT(5, amplitude.data(), frequency.data(), 0);
            second_done = true;
        });
        // Time for a second call that does not wait to run to its end.
        vorntest::eventually([&] { return second_done.load(); }, std::chrono::milliseconds(300));
        report.put("second_done_while_first_held", second_done.load());
        held_write::released = true;
        first.join();
        second.join();
        report.put_values("first", held_amplitude, kBins);
        report.put_values("second", amplitude.data(), kBins);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("second_done_while_first_held"), 0);
    const std::vector<double> first = run.values<double>("first");
    const std::vector<double> second = run.values<double>("second");
    for (std::size_t m = 0; m < kBins; ++m) {
        ASSERT_NEAR(first[m], m == 0 ? 1.0 : 0.0, 1e-12) << "first call, bin " << m;
        ASSERT_NEAR(second[m], m == 1024 ? 1.0 : 0.0, 1e-12) << "second call, bin " << m;
    }
}

}  // namespace
