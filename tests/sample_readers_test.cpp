// The array readers: one read per call, calibrated positions, bit-exact
// copies of every other slot, and nothing from records that never arrived.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <ostream>
#include <vector>

#include "bit_patterns.h"
#include "client.h"
#include "vornsim/stream_control.h"

namespace vornsim {

void PrintTo(const CalibrationRead& read, std::ostream* out) {
    *out << "{after " << read.stream_reads << " stream reads, " << read.mailbox_exchanges
         << " mailbox exchanges}";
}

}  // namespace vornsim

namespace {
using vornsim::Device;
using vornsim::SampleRecord;
using vornsim::SampleStreamControl;
using vornsim::SimRoot;
using vornsim::StreamRead;
using vorntest::bits_of;
using vorntest::Report;
using vorntest::run_client;
using vorntest::VornLib;

constexpr std::size_t kRecordBytes = 256;
// Outputs start here so that an output left alone is told from one written.
constexpr double kUntouched = -12345.5;

// Slot s of record r of the stand-in's default stream.
double ramp(std::size_t record, std::size_t slot) {
    return static_cast<double>(32 * record + slot);
}

struct Positions {
    long long result;
    std::vector<double> x, y, i0;
};

// Which outputs of getPosArray are given; the others are null.
struct Outputs {
    bool x = true, y = true, i0 = true;
};

// getPosArray for n samples into arrays with room for `room` values.
Positions read_positions(const SimRoot& root, std::uint32_t n, std::size_t room,
                         Outputs given = {}) {
    const auto run = run_client(root, [=](VornLib& lib, Report& report) {
        std::vector<double> x(room, kUntouched), y(room, kUntouched), i0(room, kUntouched);
        report.put("result", lib.getPosArray(given.x ? x.data() : nullptr,
                                             given.y ? y.data() : nullptr,
                                             given.i0 ? i0.data() : nullptr, n));
        report.put_values("x", x.data(), room);
        report.put_values("y", y.data(), room);
        report.put_values("i0", i0.data(), room);
    });
    EXPECT_TRUE(run.ok()) << run.describe();
    return {run.integer("result"), run.values<double>("x"), run.values<double>("y"),
            run.values<double>("i0")};
}

struct Currents {
    long long result;
    std::vector<double> values;
};

Currents read_currents(const SimRoot& root, std::uint32_t count, std::size_t room) {
    const auto run = run_client(root, [=](VornLib& lib, Report& report) {
        std::vector<double> currents(room, kUntouched);
        report.put("result", lib.getCurrentArray(currents.data(), count));
        report.put_values("currents", currents.data(), room);
    });
    EXPECT_TRUE(run.ok()) << run.describe();
    return {run.integer("result"), run.values<double>("currents")};
}

TEST(PositionArray, MultipliesXAndYByTheirScaleFactorsAndCopiesI0) {
    struct Case {
        const char* name;
        const char* calibration;  // null: no file
        double scale_x, scale_y;
    };
    const Case cases[] = {
        {"no calibration file", nullptr, 1.0, 1.0},
        {"both factors", "[BPM1]\nScale_X = 2.0\nScale_Y = 0.5\n", 2.0, 0.5},
        {"Scale_Y only", "[BPM1]\nScale_Y = -3\n", 1.0, -3.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        const Positions got = read_positions(root, 5, 6);
        EXPECT_EQ(got.result, 5);
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(got.x[i], c.scale_x * ramp(i, 0)) << i;
            EXPECT_EQ(got.y[i], c.scale_y * ramp(i, 1)) << i;
            EXPECT_EQ(got.i0[i], ramp(i, 2)) << i;
        }
        EXPECT_EQ(got.x[5], kUntouched);
        EXPECT_EQ(got.i0[5], kUntouched);
        EXPECT_EQ(SampleStreamControl(root).reads(),
                  (std::vector<StreamRead>{{5 * kRecordBytes, 5 * kRecordBytes}}));
    }
}

TEST(PositionArray, FillsEachOutputExactlyWhenItIsGiven) {
    const Outputs combinations[] = {
        {true, true, true},   {false, true, true},  {false, false, true}, {false, true, false},
        {true, false, true},  {true, false, false}, {true, true, false},  {false, false, false},
    };
    for (const Outputs given : combinations) {
        SCOPED_TRACE(testing::Message()
                     << "x " << given.x << " y " << given.y << " i0 " << given.i0);
        SimRoot root =
            vorntest::fresh_root_with_calibration("[BPM1]\nScale_X = 2\nScale_Y = 0.5\n");
        const Positions got = read_positions(root, 3, 4, given);
        EXPECT_EQ(got.result, 3);
        const auto expected = [](bool is_given, double factor, std::size_t slot) {
            std::vector<double> values(4, kUntouched);
            for (std::size_t i = 0; is_given && i < 3; ++i) {
                values[i] = factor * ramp(i, slot);
            }
            return values;
        };
        EXPECT_EQ(got.x, expected(given.x, 2.0, 0));
        EXPECT_EQ(got.y, expected(given.y, 0.5, 1));
        EXPECT_EQ(got.i0, expected(given.i0, 1.0, 2));
        EXPECT_EQ(SampleStreamControl(root).reads(),
                  (std::vector<StreamRead>{{3 * kRecordBytes, 3 * kRecordBytes}}));
    }
}

TEST(SampleReaders, CopyEveryUnscaledSlotBitForBit) {
    const std::uint64_t patterns[] = {
        0x7FF0000000000123,  // signalling NaN with a payload
        0xFFF8000000ABCDEF,  // quiet negative NaN with a payload
        0x8000000000000000,  // -0.0
        0x0000000000000001,  // smallest subnormal
        0xFFF0000000000000,  // -infinity
    };
    std::vector<SampleRecord> records(5);
    for (std::size_t r = 0; r < records.size(); ++r) {
        for (std::size_t s = 2; s < 32; ++s) {
            records[r][s] = std::bit_cast<double>(patterns[(r + s) % 5]);
        }
    }
    SimRoot root = SimRoot::make_fresh();
    root.set_calibration("[BPM1]\nScale_X = 2\nScale_Y = 3\n");
    SampleStreamControl(root).serve_records(records);
    const Positions positions = read_positions(root, 5, 5);
    const Currents currents = read_currents(root, 5, 20);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(bits_of(positions.i0)[i], patterns[(i + 2) % 5]);
        for (std::size_t j = 0; j < 4; ++j) {
            EXPECT_EQ(bits_of(currents.values)[4 * i + j], patterns[(i + 24 + j) % 5]);
        }
    }
}

TEST(CurrentArray, LaysOutTheFourCurrentsOfEachSampleInSlotOrder) {
    SimRoot root = SimRoot::make_fresh();
    root.set_calibration("[BPM1]\nScale_X = 2\nScale_Y = 3\n");
    const Currents got = read_currents(root, 3, 13);
    EXPECT_EQ(got.result, 3);
    const std::vector<double> expected{24, 25, 26, 27, 56, 57, 58, 59, 88, 89, 90, 91, kUntouched};
    EXPECT_EQ(got.values, expected);
    EXPECT_EQ(SampleStreamControl(root).reads(),
              (std::vector<StreamRead>{{3 * kRecordBytes, 3 * kRecordBytes}}));
}

TEST(SampleReaders, TakeConsecutiveRecordsCallAfterCall) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        std::vector<double> x(10), currents(40), skipped(1), amplitude(1025), frequency(1025);
        lib.getPosArray(x.data(), nullptr, nullptr, 10);
        lib.getCurrentArray(currents.data(), 10);
        report.put("spectrum_result", lib.getFFT(2, amplitude.data(), frequency.data(), 0));
        report.put_values("series", *lib.in, 2048);
        report.put("all_null_result", lib.getPosArray(nullptr, nullptr, nullptr, 3));
        lib.getPosArray(skipped.data(), nullptr, nullptr, 1);
        report.put_values("x", x.data(), x.size());
        report.put_values("currents", currents.data(), currents.size());
        report.put_values("last_x", skipped.data(), 1);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    const std::vector<double> x = run.values<double>("x");
    const std::vector<double> currents = run.values<double>("currents");
    const std::vector<double> series = run.values<double>("series");
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(x[i], ramp(i, 0));
        EXPECT_EQ(currents[4 * i], ramp(10 + i, 24));
    }
    EXPECT_EQ(run.integer("spectrum_result"), 0);
    for (std::size_t k = 0; k < 2048; ++k) {
        ASSERT_EQ(series[k], ramp(20 + k, 2)) << k;
    }
    EXPECT_EQ(run.integer("all_null_result"), 3) << "records are taken with every output null";
    EXPECT_EQ(run.values<double>("last_x"), std::vector<double>{ramp(2071, 0)});
    EXPECT_EQ(SampleStreamControl(root).reads(),
              (std::vector<StreamRead>{{2560, 2560}, {2560, 2560}, {524288, 524288}, {768, 768},
                                       {256, 256}}));
}

TEST(SampleReaders, ZeroSamplesIssueAZeroByteReadAndWriteNothing) {
    SimRoot root = SimRoot::make_fresh();
    const Positions positions = read_positions(root, 0, 1);
    EXPECT_EQ(positions.result, 0);
    EXPECT_EQ(positions.x[0], kUntouched);
    EXPECT_EQ(positions.y[0], kUntouched);
    EXPECT_EQ(positions.i0[0], kUntouched);
    const Currents currents = read_currents(root, 0, 1);
    EXPECT_EQ(currents.result, 0);
    EXPECT_EQ(currents.values[0], kUntouched);
    EXPECT_EQ(SampleStreamControl(root).reads(), (std::vector<StreamRead>{{0, 0}, {0, 0}}));
}

// Refusals and failed reads: each returns -1 and writes nothing; a short read
// converts only the whole records received.

TEST(CurrentArray, RefusesANullOutputWithoutTakingRecords) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        report.put("result", lib.getCurrentArray(nullptr, 4));
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("result"), -1);
    EXPECT_TRUE(SampleStreamControl(root).reads().empty());
}

TEST(SampleReaders, RefuseCountsOfTwoToThe27SamplesOrMoreWithoutReading) {
    for (const std::uint32_t count : {1u << 27, (1u << 27) + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        SimRoot root = SimRoot::make_fresh();
        const auto run = run_client(root, [count](VornLib& lib, Report& report) {
            std::vector<double> room(8, kUntouched);
            report.put("positions_null", lib.getPosArray(nullptr, nullptr, nullptr, count));
            report.put("positions", lib.getPosArray(room.data(), room.data(), room.data(), count));
            report.put("currents", lib.getCurrentArray(room.data(), count));
            report.put_values("room", room.data(), room.size());
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        EXPECT_EQ(run.integer("positions_null"), -1);
        EXPECT_EQ(run.integer("positions"), -1);
        EXPECT_EQ(run.integer("currents"), -1);
        EXPECT_EQ(run.values<double>("room"), std::vector<double>(8, kUntouched));
        EXPECT_TRUE(SampleStreamControl(root).reads().empty());
    }
}

TEST(SampleReaders, RefuseABlockThatCannotBeAllocatedWithoutReading) {
    SimRoot root = SimRoot::make_fresh();
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        // Far less address space than the 32 GiB block of the largest count.
        const rlimit limit{std::uint64_t{4} << 30, std::uint64_t{4} << 30};
        setrlimit(RLIMIT_AS, &limit);
        std::vector<double> room(8, kUntouched);
        const std::uint32_t count = (1u << 27) - 1;
        report.put("positions", lib.getPosArray(nullptr, nullptr, nullptr, count));
        report.put("currents", lib.getCurrentArray(room.data(), count));
        report.put_values("room", room.data(), room.size());
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("positions"), -1);
    EXPECT_EQ(run.integer("currents"), -1);
    EXPECT_EQ(run.values<double>("room"), std::vector<double>(8, kUntouched));
    EXPECT_TRUE(SampleStreamControl(root).reads().empty());
}

TEST(SampleReaders, AFailedReadWritesNothing) {
    for (const bool device_absent : {false, true}) {
        SCOPED_TRACE(device_absent ? "device absent" : "read fails with EIO");
        SimRoot root = SimRoot::make_fresh();
        root.set_device_present(Device::sample_stream, !device_absent);
        const auto run = run_client(root, [&root](VornLib& lib, Report& report) {
            std::vector<double> room(16, kUntouched);
            SampleStreamControl(root).fail_next_read(EIO);
            report.put("positions", lib.getPosArray(room.data(), room.data(), room.data(), 4));
            SampleStreamControl(root).fail_next_read(EIO);
            report.put("currents", lib.getCurrentArray(room.data(), 4));
            report.put_values("room", room.data(), room.size());
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        EXPECT_EQ(run.integer("positions"), -1);
        EXPECT_EQ(run.integer("currents"), -1);
        EXPECT_EQ(run.values<double>("room"), std::vector<double>(16, kUntouched));
    }
}

TEST(SampleReaders, AShortReadConvertsOnlyTheWholeRecordsReceived) {
    struct Case {
        std::size_t delivered_bytes;
        long long whole_records;
    };
    for (const Case c : {Case{3 * kRecordBytes + 100, 3}, Case{kRecordBytes - 1, 0},
                         Case{2 * kRecordBytes, 2}}) {
        SCOPED_TRACE(c.delivered_bytes);
        SimRoot root = SimRoot::make_fresh();
        const SampleStreamControl stream(root);
        stream.cut_next_read(c.delivered_bytes);
        const Positions positions = read_positions(root, 10, 10);
        stream.cut_next_read(c.delivered_bytes);
        const Currents currents = read_currents(root, 10, 40);
        EXPECT_EQ(positions.result, c.whole_records);
        EXPECT_EQ(currents.result, c.whole_records);
        const std::size_t whole = static_cast<std::size_t>(c.whole_records);
        for (std::size_t i = 0; i < 10; ++i) {
            SCOPED_TRACE(i);
            const bool arrived = i < whole;
            EXPECT_EQ(positions.x[i], arrived ? ramp(i, 0) : kUntouched);
            EXPECT_EQ(positions.y[i], arrived ? ramp(i, 1) : kUntouched);
            EXPECT_EQ(positions.i0[i], arrived ? ramp(i, 2) : kUntouched);
            for (std::size_t j = 0; j < 4; ++j) {
                EXPECT_EQ(currents.values[4 * i + j],
                          arrived ? ramp(whole + i, 24 + j) : kUntouched);
            }
        }
    }
}

void take_spectrum(VornLib& lib, int channel) {
    std::vector<double> amplitude(1025), frequency(1025);
    lib.getFFT(channel, amplitude.data(), frequency.data(), 1);
}

// Each scaled call fetches its factors once, after its one read, so the
// calibration file is opened with exactly that call's read behind it.
TEST(SampleReaders, FetchTheScaleFactorsOncePerScaledCallAfterItsRead) {
    struct Case {
        const char* name;
        void (*call)(VornLib&);
        bool scaled;
    };
    const Case cases[] = {
        {"spectrum of channel 0", [](VornLib& lib) { take_spectrum(lib, 0); }, true},
        {"spectrum of channel 2", [](VornLib& lib) { take_spectrum(lib, 2); }, true},
        {"spectrum of channel 3", [](VornLib& lib) { take_spectrum(lib, 3); }, true},
        {"positions of 8 samples",
         [](VornLib& lib) {
             std::vector<double> x(8), y(8), i0(8);
             lib.getPosArray(x.data(), y.data(), i0.data(), 8);
         },
         true},
        {"currents of 8 samples",
         [](VornLib& lib) {
             std::vector<double> currents(32);
             lib.getCurrentArray(currents.data(), 8);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = SimRoot::make_fresh();
        const auto run = run_client(root, [&c](VornLib& lib, Report&) {
            c.call(lib);
            c.call(lib);
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        EXPECT_EQ(SampleStreamControl(root).reads().size(), 2u);
        const std::vector<vornsim::CalibrationRead> after_each_read{{1, 0}, {2, 0}};
        EXPECT_EQ(root.calibration_reads(),
                  c.scaled ? after_each_read : std::vector<vornsim::CalibrationRead>{});
    }
}

}  // namespace
