// Setpoints, status and reset of the feedback controller: the bytes sent,
// who may send them, and the conversion between calibrated and device units.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "core/mailbox_protocol.h"
#include "mailbox_check.h"

namespace {
using vornsim::MailboxControl;
using vornsim::SimRoot;
using vorntest::Access;
using vorntest::Report;
using vorntest::VornLib;

TEST(Setpoints, EachCommandSendsExactlyItsBytes) {
    vorntest::expect_sends({
        {"setSetpoint(0, 1.5)", LEVEL_OPERATOR, [](VornLib& lib) { return lib.setSetpoint(0, 1.5); },
         {"00020002 00000000 000000000000f83f 0000000000000000 0000000000000000"}},
        {"setSetpoint(-1, -2.0)", LEVEL_EXPERT,
         [](VornLib& lib) { return lib.setSetpoint(static_cast<char>(-1), -2.0); },
         {"00020002 ff000000 00000000000000c0 0000000000000000 0000000000000000"}},
        {"getSetpoint(1, &value)", LEVEL_VIEW,
         [](VornLib& lib) {
             double value = -9;
             return lib.getSetpoint(1, &value);
         },
         {"01020002 01000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"getPIDstatus()", LEVEL_VIEW, [](VornLib& lib) { return lib.getPIDstatus(); },
         {"01070002 00000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"setCtrlReset()", LEVEL_OPERATOR, [](VornLib& lib) { return lib.setCtrlReset(); },
         {"00090002 00000000 0000000000000000 0000000000000000 0000000000000000"}},
    });
}

TEST(Setpoints, SettingNeedsALoginAndReadingDoesNot) {
    double value = 0;
    vorntest::expect_gates({
        {"setSetpoint", Access::any_login, 1, [](VornLib& lib) { return lib.setSetpoint(0, 1.0); }},
        {"getSetpoint", Access::any_level, 1, [&](VornLib& lib) { return lib.getSetpoint(0, &value); }},
        {"getPIDstatus", Access::any_level, 1, [](VornLib& lib) { return lib.getPIDstatus(); }},
        {"setCtrlReset", Access::any_login, 1, [](VornLib& lib) { return lib.setCtrlReset(); }},
    });
}

double setpoint_sent(const vornsim::MailboxExchange& exchange) {
    double value;
    std::memcpy(&value, exchange.sent.data() + 8, sizeof value);
    return value;
}

TEST(Setpoints, ConvertOnTheXAndYChannelsBothWaysAndNowhereElse) {
    struct Case {
        const char* calibration;  // null: no calibration file
        char channel;
        double setpoint;
        double device_value;
    };
    const char* const x_only = "[BPM1]\nScale_X = 2.0\n";
    const char* const x_and_y = "[BPM1]\nScale_X = 2.0\nScale_Y = 4.0\n";
    const Case cases[] = {
        {x_only, 0, 1.0, 0.5},  {x_only, 1, 1.0, 1.0},  {x_only, 2, 1.0, 1.0},
        {x_only, -1, 1.0, 1.0}, {x_and_y, 1, 1.0, 0.25}, {nullptr, 0, 1.5, 1.5},
        {nullptr, 1, -2.0, -2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.calibration ? c.calibration : "no calibration file")
                                        << "channel " << int{c.channel} << " setpoint " << c.setpoint);
        const SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        const auto run = vorntest::run_command(root, LEVEL_OPERATOR, [&](VornLib& lib, Report& report) {
            double read_back = -9;
            report.put("set", lib.setSetpoint(c.channel, c.setpoint));
            const int result = lib.getSetpoint(c.channel, &read_back);
            report.put_values("read_back", &read_back, 1);
            return result;
        });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.client.integer("set"), 0);
        EXPECT_EQ(run.result, 0);
        ASSERT_EQ(run.exchanges.size(), 2u) << run.describe();
        EXPECT_EQ(setpoint_sent(run.exchanges[0]), c.device_value) << run.describe();
        EXPECT_EQ(run.client.values<double>("read_back").at(0), c.setpoint);
    }
}

TEST(Setpoints, AnUnusableScaleFactorRefusesTheSetpointOfItsChannelOnly) {
    struct Case {
        const char* calibration;
        char channel;
        bool refused;
        double device_value;  // sent when not refused
    };
    const Case cases[] = {
        {"[BPM1]\nScale_X = 0\n", 0, true, 0},
        {"[BPM1]\nScale_X = nan\n", 0, true, 0},
        {"[BPM1]\nScale_X = inf\n", 0, true, 0},
        {"[BPM1]\nScale_Y = -inf\n", 1, true, 0},
        {"[BPM1]\nScale_Y = 0\n", 1, true, 0},
        {"[BPM1]\nScale_X = 0\nScale_Y = 4.0\n", 1, false, 0.75},
        {"[BPM1]\nScale_X = 0\nScale_Y = 0\n", 2, false, 3.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.calibration << "channel " << int{c.channel});
        const SimRoot root = SimRoot::make_fresh();
        root.set_calibration(c.calibration);
        const auto run = vorntest::run_command(root, LEVEL_OPERATOR, [&](VornLib& lib, Report&) {
            return lib.setSetpoint(c.channel, 3.0);
        });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        if (c.refused) {
            EXPECT_EQ(run.result, -1);
            EXPECT_EQ(run.error, EINVAL);
            EXPECT_TRUE(run.exchanges.empty()) << run.describe();
        } else {
            EXPECT_EQ(run.result, 0);
            ASSERT_EQ(run.exchanges.size(), 1u) << run.describe();
            EXPECT_EQ(setpoint_sent(run.exchanges[0]), c.device_value);
        }
    }
}

TEST(Setpoints, TheCallersOwnValueIsNotValidated) {
    const SimRoot root = SimRoot::make_fresh();
    root.set_calibration("[BPM1]\nScale_X = 2.0\n");
    const auto run = vorntest::run_command(root, LEVEL_OPERATOR, [](VornLib& lib, Report&) {
        return lib.setSetpoint(0, std::numeric_limits<double>::quiet_NaN());
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(vorntest::sent_exactly(
        run.exchanges, {"00020002 00000000 000000000000f87f 0000000000000000 0000000000000000"}));
}

TEST(Setpoints, AFailedReadStillConvertsTheBufferAsSentAndKeepsTheExchangesErrno) {
    for (const bool calibrated : {true, false}) {
        SCOPED_TRACE(calibrated ? "Scale_X = 2.0" : "no calibration file");
        const SimRoot root = SimRoot::make_fresh();
        if (calibrated) {
            root.set_calibration("[BPM1]\nScale_X = 2.0\n");
        }
        MailboxControl(root).script_failure(1, EIO);
        const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report& report) {
            double value = -9;
            const int result = lib.getSetpoint(0, &value);
            report.put_values("value", &value, 1);
            return result;
        });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, -1);
        EXPECT_EQ(run.error, EIO);
        EXPECT_EQ(run.client.values<double>("value").at(0), 0.0);
    }
}

TEST(Setpoints, AReadWithoutOutputStillMakesTheExchangeAndReturnsItsResult) {
    const SimRoot root = SimRoot::make_fresh();
    MailboxControl(root).script_result(1, 3);
    const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report&) {
        return lib.getSetpoint(0, nullptr);
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.result, 3);
    EXPECT_EQ(run.exchanges.size(), 1u);
}

TEST(PidStatus, IsTheSignExtendedStatusByteAndZeroAfterAFailedExchange) {
    struct Case {
        std::optional<std::uint8_t> status_byte;  // none: the exchange fails
        int expected;
    };
    for (const Case c : {Case{0xff, -1}, Case{0x7f, 127}, Case{0x80, -128}, Case{0x00, 0},
                         Case{std::nullopt, 0}}) {
        SCOPED_TRACE(c.status_byte ? std::to_string(*c.status_byte) : "failed exchange");
        const SimRoot root = SimRoot::make_fresh();
        const MailboxControl mailbox(root);
        mailbox.script_reply(vorn::CMD_PID_STATUS_GET, 4, {c.status_byte.value_or(0x55)});
        if (!c.status_byte) {
            mailbox.script_failure(1, EIO);
        }
        const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report&) {
            return lib.getPIDstatus();
        });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, c.expected);
        EXPECT_EQ(run.exchanges.size(), 1u);
    }
}

}  // namespace
