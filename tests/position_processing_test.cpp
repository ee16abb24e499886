// Commands of the position-processing module: the bytes each setter sends,
// who may send them, and the statistics with their scaling.
#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "bit_patterns.h"
#include "core/mailbox_protocol.h"
#include "mailbox_check.h"

namespace {
using vornsim::FailedReply;
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

// Little-endian bytes of doubles, as the unit puts them in a reply.
std::vector<std::uint8_t> reply_bytes(std::initializer_list<double> values) {
    std::vector<std::uint8_t> bytes;
    for (const double value : values) {
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(bits_of(value) >> (8 * i)));
        }
    }
    return bytes;
}

// Statistics as the unit reports them, in device units: multiplied by 3.0 or
// 10.0 they differ from a division by the reciprocal; channel 2 carries bit
// patterns that no arithmetic may touch.
struct UnitStatistics {
    double x_first;
    double x_second;
    double y_first;
    double y_second;
};
constexpr UnitStatistics kUnit{0.7, -1.9, 0.3, 1.9};
constexpr std::uint64_t kChannel2First = 0x7ff0000000000001;  // a signalling NaN
constexpr std::uint64_t kChannel2Second = 0xffffffffffffffff;

void script_statistics(const MailboxControl& mailbox) {
    mailbox.script_reply(vorn::CMD_POS_STATS_GET, 8, reply_bytes({kUnit.x_first, kUnit.x_second}), 0);
    mailbox.script_reply(vorn::CMD_POS_STATS_GET, 8, reply_bytes({kUnit.y_first, kUnit.y_second}), 1);
    mailbox.script_reply(
        vorn::CMD_POS_STATS_GET, 8,
        reply_bytes({std::bit_cast<double>(kChannel2First), std::bit_cast<double>(kChannel2Second)}), 2);
}

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
                         Case{"[BPM1]\nScale_X = 2.0\nScale_Y = 4.0\n", 2.0, 4.0},
                         Case{"[BPM1]\nScale_X = 3.0\nScale_Y = 10.0\n", 3.0, 10.0}}) {
        SCOPED_TRACE(c.calibration ? c.calibration : "no calibration file");
        const SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        script_statistics(MailboxControl(root));
        const auto run = read_statistics(root);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(bits_of(run.client.values<double>("values")),
                  bits_of(std::vector<double>{kUnit.x_first * c.scale_x, kUnit.x_second * c.scale_x,
                                              kUnit.y_first * c.scale_y, kUnit.y_second * c.scale_y,
                                              std::bit_cast<double>(kChannel2First),
                                              std::bit_cast<double>(kChannel2Second)}));
    }
}

TEST(PositionStatistics, FetchTheScaleFactorsOnceAfterTheThirdExchange) {
    struct Case {
        const char* call;
        std::function<int(VornLib&)> make;
        std::optional<std::size_t> failing_exchange;
    };
    double sink[6];
    const auto every_output = [&](VornLib& lib) {
        return lib.getPosStats(0, &sink[0], &sink[1], &sink[2], &sink[3], &sink[4], &sink[5]);
    };
    const auto no_output = [](VornLib& lib) {
        return lib.getPosStats(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    };
    const Case cases[] = {
        {"every output", every_output, std::nullopt},
        {"every output null", no_output, std::nullopt},
        {"the third exchange failing", every_output, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        const SimRoot root = vorntest::fresh_root_with_calibration("[BPM1]\nScale_X = 3.0\n");
        if (c.failing_exchange) {
            MailboxControl(root).script_failure(*c.failing_exchange, EIO);
        }
        const auto run =
            vorntest::run_command(root, LEVEL_VIEW, [&](VornLib& lib, Report&) { return c.make(lib); });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.exchanges.size(), 3u) << run.describe();
        EXPECT_EQ(run.calibration_reads, std::vector<std::size_t>{3});
    }
}

TEST(PositionStatistics, AFailedExchangeStillWritesAllOutputsFromWhatTheBuffersHold) {
    for (const FailedReply reply : {FailedReply::as_sent, FailedReply::scripted_bytes}) {
        SCOPED_TRACE(reply == FailedReply::as_sent ? "as sent" : "scripted bytes");
        const SimRoot root =
            vorntest::fresh_root_with_calibration("[BPM1]\nScale_X = 3.0\nScale_Y = 10.0\n");
        const MailboxControl mailbox(root);
        script_statistics(mailbox);
        mailbox.script_failure(2, EIO, reply);
        const auto run = read_statistics(root);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.exchanges.size(), 3u) << run.describe();
        const bool delivered = reply == FailedReply::scripted_bytes;
        EXPECT_EQ(bits_of(run.client.values<double>("values")),
                  bits_of(std::vector<double>{kUnit.x_first * 3.0, kUnit.x_second * 3.0,
                                              delivered ? kUnit.y_first * 10.0 : 0.0,
                                              delivered ? kUnit.y_second * 10.0 : 0.0,
                                              std::bit_cast<double>(kChannel2First),
                                              std::bit_cast<double>(kChannel2Second)}));
    }
}

TEST(PositionStatistics, ReturnZeroWhateverTheUnitAnswersAndOtherwiseTheFirstFailureWithItsErrno) {
    struct Case {
        const char* scripts;
        std::vector<std::pair<std::size_t, int>> results;   // exchange, result >= 0
        std::vector<std::pair<std::size_t, int>> failures;  // exchange, errno
        int result;
        int error;  // when the result is negative
    };
    const Case cases[] = {
        {"results 5, 6, 7", {{1, 5}, {2, 6}, {3, 7}}, {}, 0, 0},
        {"exchanges 2 and 3 fail", {{1, 5}}, {{2, EIO}, {3, EBUSY}}, -1, EIO},
        {"exchanges 1 and 3 fail", {{2, 6}}, {{1, ETIMEDOUT}, {3, EIO}}, -1, ETIMEDOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scripts);
        const SimRoot root = SimRoot::make_fresh();
        const MailboxControl mailbox(root);
        for (const auto& [exchange, result] : c.results) {
            mailbox.script_result(exchange, result);
        }
        for (const auto& [exchange, error] : c.failures) {
            mailbox.script_failure(exchange, error);
        }
        const auto run = read_statistics(root);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.exchanges.size(), 3u) << run.describe();
        EXPECT_EQ(run.result, c.result);
        if (c.result < 0) {
            EXPECT_EQ(run.error, c.error)
                << "errno of the first failed exchange, not of a later one or of the calibration file";
        }
    }
}

}  // namespace
