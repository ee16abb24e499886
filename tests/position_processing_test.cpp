// Commands of the position-processing module: the bytes each setter sends,
// who may send them, and the statistics with their scaling.
#include <gtest/gtest.h>

#include <cerrno>

#include "bit_patterns.h"
#include "core/mailbox_protocol.h"
#include "mailbox_check.h"

namespace {
using vornsim::MailboxControl;
using vornsim::SimRoot;
using vorntest::Access;
using vorntest::bits_of;
using vorntest::Report;
using vorntest::VornLib;

TEST(PositionProcessing, EachCommandSendsExactlyItsBytes) {
    vorntest::expect_sends({
        {"setWindAvg(5, 258)", LEVEL_EXPERT, [](VornLib& lib) { return lib.setWindAvg(5, 258); },
         {"00020001 02010000 0500000000000000 0000000000000000 0000000000000000"}},
        {"setWindAvg(-1, 0xFFFFFFFF)", LEVEL_EXPERT,
         [](VornLib& lib) { return lib.setWindAvg(static_cast<char>(-1), 0xFFFFFFFFu); },
         {"00020001 ffffffff ff00000000000000 0000000000000000 0000000000000000"}},
        {"setCrossBar(1, 2, 3, 4, 5)", LEVEL_EXPERT, [](VornLib& lib) { return lib.setCrossBar(1, 2, 3, 4, 5); },
         {"00030001 01000000 0203040500000000 0000000000000000 0000000000000000"}},
        {"setBPMorient(1, 2)", LEVEL_EXPERT, [](VornLib& lib) { return lib.setBPMorient(1, 2); },
         {"00040001 01000000 0200000000000000 0000000000000000 0000000000000000"}},
        {"setFBenable(1)", LEVEL_OPERATOR, [](VornLib& lib) { return lib.setFBenable(1); },
         {"00050001 01000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"setFBenable(256)", LEVEL_OPERATOR, [](VornLib& lib) { return lib.setFBenable(256); },
         {"00050001 00000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"setFBenable(-1)", LEVEL_EXPERT, [](VornLib& lib) { return lib.setFBenable(-1); },
         {"00050001 ff000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"getPosStats(0, all null)", LEVEL_VIEW,
         [](VornLib& lib) { return lib.getPosStats(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
         {"01080001 00000000 0000000000000000 0000000000000000 0000000000000000",
          "01080001 01000000 0000000000000000 0000000000000000 0000000000000000",
          "01080001 02000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"getPosStats(-77, all null)", LEVEL_VIEW,
         [](VornLib& lib) { return lib.getPosStats(-77, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
         {"01080001 00000000 0000000000000000 0000000000000000 0000000000000000",
          "01080001 01000000 0000000000000000 0000000000000000 0000000000000000",
          "01080001 02000000 0000000000000000 0000000000000000 0000000000000000"}},
    });
}

TEST(PositionProcessing, SettersAreGatedAndTheStatisticsAreNot) {
    double sink[6];
    vorntest::expect_gates({
        {"setWindAvg", Access::expert_only, 1, [](VornLib& lib) { return lib.setWindAvg(1, 2); }},
        {"setCrossBar", Access::expert_only, 1, [](VornLib& lib) { return lib.setCrossBar(1, 2, 3, 4, 5); }},
        {"setBPMorient", Access::expert_only, 1, [](VornLib& lib) { return lib.setBPMorient(1, 2); }},
        {"setFBenable", Access::any_login, 1, [](VornLib& lib) { return lib.setFBenable(1); }},
        {"getPosStats", Access::any_level, 3,
         [&](VornLib& lib) {
             return lib.getPosStats(0, &sink[0], &sink[1], &sink[2], &sink[3], &sink[4], &sink[5]);
         }},
    });
}

// Statistics as the unit reports them, in device units; channel 2 carries
// bit patterns that no arithmetic may touch.
void script_statistics(const MailboxControl& mailbox) {
    const auto stats = [&](std::uint8_t channel, std::vector<std::uint8_t> bytes) {
        mailbox.script_reply(vorn::CMD_POS_STATS_GET, 8, std::move(bytes), channel);
    };
    stats(0, {0, 0, 0, 0, 0, 0, 0xe0, 0x3f, 0, 0, 0, 0, 0, 0, 0xf8, 0xbf});  // 0.5, -1.5
    stats(1, {0, 0, 0, 0, 0, 0, 0xd0, 0x3f, 0, 0, 0, 0, 0, 0, 0x08, 0x40});  // 0.25, 3.0
    stats(2, {1, 0, 0, 0, 0, 0, 0xf0, 0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
}

constexpr std::uint64_t kChannel2First = 0x7ff0000000000001;  // a signalling NaN
constexpr std::uint64_t kChannel2Second = 0xffffffffffffffff;

vorntest::CommandRun read_statistics(const SimRoot& root) {
    return vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report& report) {
        double values[6] = {-9, -9, -9, -9, -9, -9};
        const int result =
            lib.getPosStats(3, &values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
        report.put_values("values", values, 6);
        return result;
    });
}

TEST(PositionStatistics, ScaleXAndYByTheirOwnFactorsAndCopyChannel2BitForBit) {
    struct Case {
        const char* calibration;  // null: no calibration file
        double scale_x;
        double scale_y;
    };
    for (const Case c : {Case{nullptr, 1.0, 1.0}, Case{"[BPM1]\nScale_X = 2.0\n", 2.0, 1.0},
                         Case{"[BPM1]\nScale_X = 2.0\nScale_Y = 4.0\n", 2.0, 4.0}}) {
        SCOPED_TRACE(c.calibration ? c.calibration : "no calibration file");
        const SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        script_statistics(MailboxControl(root));
        const auto run = read_statistics(root);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, 0);
        const auto values = run.client.values<double>("values");
        ASSERT_EQ(values.size(), 6u);
        EXPECT_EQ(values[0], 0.5 * c.scale_x);
        EXPECT_EQ(values[1], -1.5 * c.scale_x);
        EXPECT_EQ(values[2], 0.25 * c.scale_y);
        EXPECT_EQ(values[3], 3.0 * c.scale_y);
        EXPECT_EQ(bits_of(values[4]), kChannel2First);
        EXPECT_EQ(bits_of(values[5]), kChannel2Second);
    }
}

TEST(PositionStatistics, AFailedExchangeIsReportedWhileAllThreeAreStillMadeAndWritten) {
    const SimRoot root = SimRoot::make_fresh();
    const MailboxControl mailbox(root);
    script_statistics(mailbox);
    mailbox.script_failure(2, EIO);
    const auto run = read_statistics(root);
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.error, EIO) << "errno of the failed exchange, not of the calibration file";
    EXPECT_EQ(run.exchanges.size(), 3u) << run.describe();
    const auto values = run.client.values<double>("values");
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0], 0.5);
    EXPECT_EQ(values[1], -1.5);
    EXPECT_EQ(values[2], 0.0) << "the failed channel reads its buffer as sent";
    EXPECT_EQ(values[3], 0.0);
    EXPECT_EQ(bits_of(values[4]), kChannel2First);
    EXPECT_EQ(bits_of(values[5]), kChannel2Second);
}

}  // namespace
