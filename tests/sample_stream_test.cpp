// The stand-in's sample stream as any process sees it through plain reads of
// the device: whole records in order, one position per sim root, the source
// and the faults a test sets, and the log of reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "client.h"
#include "vornsim/stream_control.h"

namespace {
using vornsim::SampleRecord;
using vornsim::SampleStreamControl;
using vornsim::SimRoot;
using vornsim::StreamGenerator;
using vornsim::StreamRead;
using vornsim::Waveform;
using vorntest::Report;
using vorntest::run_client;
using vorntest::VornLib;

constexpr std::size_t kRecordBytes = sizeof(SampleRecord);

// Reads `records` records straight from the device and reports what arrived.
vorntest::ClientBody read_device(std::size_t records, std::size_t extra_bytes = 0) {
    return [=](VornLib& lib, Report& report) {
        std::vector<double> slots(records * 32 + extra_bytes / sizeof(double) + 1, -1.0);
        const ssize_t got = read(*lib.fd_DMA, slots.data(), records * kRecordBytes + extra_bytes);
        report.put("got", got);
        report.put("errno", got < 0 ? errno : 0);
        report.put_values("slots", slots.data(), slots.size());
    };
}

std::vector<double> read_slots(const SimRoot& root, std::size_t records) {
    const auto run = run_client(root, read_device(records));
    EXPECT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("got"), static_cast<long long>(records * kRecordBytes));
    std::vector<double> slots = run.values<double>("slots");
    slots.resize(records * 32);
    return slots;
}

std::vector<double> ramp(std::size_t first_record, std::size_t records) {
    std::vector<double> slots(records * 32);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i] = static_cast<double>(first_record * 32 + i);
    }
    return slots;
}

TEST(StandInStream, ServesTheRampByDefaultAndContinuesItInTheNextProcess) {
    SimRoot root = SimRoot::make_fresh();
    EXPECT_EQ(read_slots(root, 3), ramp(0, 3));
    EXPECT_EQ(read_slots(root, 2), ramp(3, 2));
    EXPECT_EQ(SampleStreamControl(root).position(), 5u);
}

TEST(StandInStream, ConcurrentProcessesEachGetWholeRecordsAndNoneTwice) {
    SimRoot root = SimRoot::make_fresh();
    constexpr int kReads = 40;
    constexpr std::size_t kRecords = 7;
    const auto reader = [](VornLib& lib, Report& report) {
        std::vector<double> firsts;
        for (int i = 0; i < kReads; ++i) {
            std::vector<double> slots(kRecords * 32);
            if (read(*lib.fd_DMA, slots.data(), kRecords * kRecordBytes) !=
                static_cast<ssize_t>(kRecords * kRecordBytes)) {
                throw std::runtime_error("short read");
            }
            for (std::size_t r = 0; r < kRecords; ++r) {
                // A record is whole and the records of one read consecutive.
                if (slots[r * 32 + 31] != slots[r * 32] + 31 ||
                    slots[r * 32] != slots[0] + 32.0 * r) {
                    throw std::runtime_error("records out of order");
                }
            }
            firsts.push_back(slots[0] / 32);
        }
        report.put_values("firsts", firsts.data(), firsts.size());
    };
    vorntest::ClientProcess one(root, reader);
    vorntest::ClientProcess two(root, reader);
    const auto first = one.finish();
    const auto second = two.finish();
    ASSERT_TRUE(first.ok()) << first.describe();
    ASSERT_TRUE(second.ok()) << second.describe();
    std::vector<double> starts = first.values<double>("firsts");
    const std::vector<double> other = second.values<double>("firsts");
    EXPECT_TRUE(std::is_sorted(starts.begin(), starts.end()));
    EXPECT_TRUE(std::is_sorted(other.begin(), other.end()));
    starts.insert(starts.end(), other.begin(), other.end());
    std::sort(starts.begin(), starts.end());
    std::vector<double> expected;
    for (int i = 0; i < 2 * kReads; ++i) {
        expected.push_back(static_cast<double>(i * kRecords));
    }
    EXPECT_EQ(starts, expected);
}

TEST(StandInStream, ServesARecordFileInOrderFromItsStartAgainAfterItsEnd) {
    SimRoot root = SimRoot::make_fresh();
    std::vector<SampleRecord> records(3);
    for (std::size_t r = 0; r < records.size(); ++r) {
        for (std::size_t s = 0; s < 32; ++s) {
            records[r][s] = 1000.0 * (r + 1) + s;
        }
    }
    read_slots(root, 2);
    SampleStreamControl(root).serve_records(records);
    // The second read starts inside the file and runs past its end.
    std::vector<double> slots = read_slots(root, 2);
    const std::vector<double> second = read_slots(root, 5);
    slots.insert(slots.end(), second.begin(), second.end());
    for (std::size_t r = 0; r < 7; ++r) {
        SCOPED_TRACE(r);
        EXPECT_TRUE(
            std::equal(records[r % 3].begin(), records[r % 3].end(), slots.begin() + 32 * r));
    }
}

TEST(StandInStream, GeneratorsFillOneSlotOrEverySlot) {
    struct Case {
        const char* name;
        StreamGenerator generator;
        double (*value)(std::size_t record, std::size_t slot);
    };
    const Case cases[] = {
        {"constant in slot 5", {Waveform::constant, -2.5, 0, 5u},
         [](std::size_t, std::size_t s) { return s == 5 ? -2.5 : 0.0; }},
        {"alternating everywhere", {Waveform::alternating, 3.0, 0, std::nullopt},
         [](std::size_t r, std::size_t) { return r % 2 == 0 ? 3.0 : -3.0; }},
        {"ramp in slot 3", {Waveform::ramp, 1.0, 0, 3u},
         [](std::size_t r, std::size_t s) { return s == 3 ? 32.0 * r + 3 : 0.0; }},
        {"cosine of bin 512 in slot 0", {Waveform::cosine, 4.0, 512, 0u},
         [](std::size_t r, std::size_t s) {
             const double period[] = {4.0, 0.0, -4.0, 0.0};  // a quarter turn per record
             return s == 0 ? period[r % 4] : 0.0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = SimRoot::make_fresh();
        SampleStreamControl(root).serve(c.generator);
        const std::vector<double> slots = read_slots(root, 6);
        for (std::size_t i = 0; i < slots.size(); ++i) {
            EXPECT_NEAR(slots[i], c.value(i / 32, i % 32), 1e-12)
                << "record " << i / 32 << " slot " << i % 32;
        }
    }
}

TEST(StandInStream, InjectedFaultsHitTheNextReadOnlyAndEveryReadIsLogged) {
    SimRoot root = SimRoot::make_fresh();
    const SampleStreamControl stream(root);
    stream.fail_next_read(EAGAIN);
    const auto failed = run_client(root, read_device(4));
    ASSERT_TRUE(failed.ok()) << failed.describe();
    EXPECT_EQ(failed.integer("got"), -1);
    EXPECT_EQ(failed.integer("errno"), EAGAIN);
    EXPECT_EQ(stream.position(), 0u);

    stream.cut_next_read(kRecordBytes + 100);
    const auto cut = run_client(root, read_device(4));
    ASSERT_TRUE(cut.ok()) << cut.describe();
    EXPECT_EQ(cut.integer("got"), static_cast<long long>(kRecordBytes + 100));
    std::vector<double> cut_slots = cut.values<double>("slots");
    const std::vector<double> expected = ramp(0, 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 32 + 12, cut_slots.begin()));
    EXPECT_EQ(cut_slots[32 + 13], -1.0) << "nothing beyond the limit";
    // The record cut short is served whole by the next read.
    EXPECT_EQ(read_slots(root, 2), ramp(1, 2));

    // A size that is no multiple of a record gets the whole records in it.
    const auto uneven = run_client(root, read_device(2, 100));
    ASSERT_TRUE(uneven.ok()) << uneven.describe();
    EXPECT_EQ(uneven.integer("got"), static_cast<long long>(2 * kRecordBytes));

    const std::size_t four = 4 * kRecordBytes;
    const long long two = 2 * kRecordBytes;
    const long long cut_short = kRecordBytes + 100;
    EXPECT_EQ(stream.reads(), (std::vector<StreamRead>{{four, -1},
                                                       {four, cut_short},
                                                       {2 * kRecordBytes, two},
                                                       {2 * kRecordBytes + 100, two}}));
    EXPECT_EQ(stream.position(), 5u);
}

TEST(StandInStream, QueuedFaultsHitTheFollowingReadsOneEachInTheOrderSet) {
    const auto launch = [](std::string options) {
        return [options](const SimRoot& root) {
            const std::string command = std::string(VORNSIM_LAUNCHER) + " --root " +
                                        root.path().string() + " " + options + " -- true";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        };
    };
    struct Case {
        const char* name;
        std::function<void(const SimRoot&)> queue_faults;
        std::vector<long long> delivered;  // by four reads of two records each
    };
    const Case cases[] = {
        {"fail then cut",
         [](const SimRoot& root) {
             SampleStreamControl(root).fail_next_read(EAGAIN);
             SampleStreamControl(root).cut_next_read(300);
         },
         {-1, 300, 512, 512}},
        {"cut then fail",
         [](const SimRoot& root) {
             SampleStreamControl(root).cut_next_read(300);
             SampleStreamControl(root).fail_next_read(EAGAIN);
         },
         {300, -1, 512, 512}},
        {"three cuts",
         [](const SimRoot& root) {
             for (const std::size_t bytes : {300, 256, 10}) {
                 SampleStreamControl(root).cut_next_read(bytes);
             }
         },
         {300, 256, 10, 512}},
        {"launcher, fail first", launch("--stream-fail-next-read 5 --stream-cut-next-read 300"),
         {-1, 300, 512, 512}},
        {"launcher, in command-line order",
         launch("--stream-cut-next-read 300 --stream-fail-next-read 5 --stream-cut-next-read 10"),
         {300, -1, 10, 512}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = SimRoot::make_fresh();
        c.queue_faults(root);
        const auto run = run_client(root, [](VornLib& lib, Report&) {
            std::vector<double> slots(2 * 32);
            for (int i = 0; i < 4; ++i) {
                read(*lib.fd_DMA, slots.data(), 2 * kRecordBytes);
            }
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        std::vector<long long> delivered;
        for (const StreamRead& read : SampleStreamControl(root).reads()) {
            delivered.push_back(read.delivered);
        }
        EXPECT_EQ(delivered, c.delivered);
    }
}

TEST(StandInStream, LauncherOptionsSetTheSourceAndTheFaults) {
    SimRoot root = SimRoot::make_fresh();
    const std::string launch = std::string(VORNSIM_LAUNCHER) + " --root " + root.path().string();
    ASSERT_EQ(std::system((launch + " --stream constant --stream-amplitude 0.25 --stream-slot 2 "
                                    "--stream-cut-next-read 300 -- true").c_str()), 0);
    const auto cut = run_client(root, read_device(2));
    ASSERT_TRUE(cut.ok()) << cut.describe();
    EXPECT_EQ(cut.integer("got"), 300);
    EXPECT_EQ(cut.values<double>("slots")[2], 0.25);
    EXPECT_EQ(cut.values<double>("slots")[3], 0.0);

    ASSERT_EQ(std::system((launch + " --stream-fail-next-read 5 -- true").c_str()), 0);
    const auto failed = run_client(root, read_device(1));
    EXPECT_EQ(failed.integer("errno"), 5);

    const auto records_file = root.path() / "records.bin";
    const SampleRecord record{7.0, 8.0};
    std::ofstream(records_file, std::ios::binary)
        .write(reinterpret_cast<const char*>(record.data()), sizeof record);
    ASSERT_EQ(std::system((launch + " --stream ramp -- true").c_str()), 0);
    ASSERT_EQ(
        std::system((launch + " --stream-records " + records_file.string() + " -- true").c_str()),
        0);
    const std::vector<double> slots = read_slots(root, 2);
    EXPECT_EQ(slots[0], 7.0);
    EXPECT_EQ(slots[1], 8.0);
    EXPECT_EQ(slots[32], 7.0);

    EXPECT_NE(std::system((launch + " --stream-slot 3 -- true 2>/dev/null").c_str()), 0)
        << "a slot without a generator is refused";
}

}  // namespace
