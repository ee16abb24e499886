// Setpoints, status and reset of the feedback controller: the bytes sent,
// who may send them, and the conversion between calibrated and device units.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

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
    // Factors that are not powers of two tell a division by the factor from a
    // multiplication by its reciprocal, which would send ...aaaap-2 and
    // ...3334p-4 here, and read back 1.2500000000000002 and 0.7499999999999999.
    const char* const x_3_y_10 = "[BPM1]\nScale_X = 3.0\nScale_Y = 10.0\n";
    const Case cases[] = {
        {x_only, 0, 1.0, 0.5},  {x_only, 1, 1.0, 1.0},  {x_only, 2, 1.0, 1.0},
        {x_only, -1, 1.0, 1.0}, {x_and_y, 1, 1.0, 0.25}, {nullptr, 0, 1.5, 1.5},
        {nullptr, 1, -2.0, -2.0},
        {x_3_y_10, 0, 1.25, 0x1.aaaaaaaaaaaabp-2}, {x_3_y_10, 1, 0.75, 0x1.3333333333333p-4},
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
        EXPECT_EQ(bits_of(setpoint_sent(run.exchanges[0])), bits_of(c.device_value)) << run.describe();
        EXPECT_EQ(bits_of(run.client.values<double>("read_back").at(0)), bits_of(c.setpoint));
    }
}

TEST(Setpoints, FetchTheScaleFactorsOnceBeforeASetOnAnyChannelAndAfterAGetThatWantsTheValue) {
    struct Case {
        const char* call;
        int level;
        std::function<int(VornLib&)> make;
        std::size_t exchanges;
        std::vector<std::size_t> calibration_reads;  // exchanges made before each
    };
    double value = 0;
    const auto set = [](char channel) {
        return [channel](VornLib& lib) { return lib.setSetpoint(channel, 1.0); };
    };
    const auto get = [&](char channel) {
        return [&value, channel](VornLib& lib) { return lib.getSetpoint(channel, &value); };
    };
    const Case cases[] = {
        {"setSetpoint(0) refused at LEVEL_VIEW", LEVEL_VIEW, set(0), 0, {}},
        {"setSetpoint(0)", LEVEL_OPERATOR, set(0), 1, {0}},
        {"setSetpoint(1)", LEVEL_OPERATOR, set(1), 1, {0}},
        {"setSetpoint(2)", LEVEL_OPERATOR, set(2), 1, {0}},
        {"setSetpoint(-1)", LEVEL_EXPERT, set(-1), 1, {0}},
        {"getSetpoint(0, nullptr)", LEVEL_VIEW,
         [](VornLib& lib) { return lib.getSetpoint(0, nullptr); }, 1, {}},
        {"getSetpoint(0, &value)", LEVEL_VIEW, get(0), 1, {1}},
        {"getSetpoint(2, &value)", LEVEL_VIEW, get(2), 1, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        const SimRoot root =
            vorntest::fresh_root_with_calibration("[BPM1]\nScale_X = 3.0\nScale_Y = 10.0\n");
        const auto run =
            vorntest::run_command(root, c.level, [&](VornLib& lib, Report&) { return c.make(lib); });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.exchanges.size(), c.exchanges) << run.describe();
        EXPECT_EQ(run.calibration_reads, c.calibration_reads);
    }
}

TEST(Setpoints, AnUnusableScaleFactorRefusesTheSetpointOfItsChannelOnlyAndAfterTheGate) {
    enum class Outcome { sent, refused_as_unconvertible, refused_by_the_gate };
    struct Case {
        const char* calibration;
        int level;
        char channel;
        Outcome outcome;
        double device_value;  // when sent
    };
    const Case cases[] = {
        {"[BPM1]\nScale_X = 0\n", LEVEL_OPERATOR, 0, Outcome::refused_as_unconvertible, 0},
        {"[BPM1]\nScale_X = nan\n", LEVEL_OPERATOR, 0, Outcome::refused_as_unconvertible, 0},
        {"[BPM1]\nScale_X = inf\n", LEVEL_OPERATOR, 0, Outcome::refused_as_unconvertible, 0},
        {"[BPM1]\nScale_Y = -inf\n", LEVEL_OPERATOR, 1, Outcome::refused_as_unconvertible, 0},
        {"[BPM1]\nScale_Y = 0\n", LEVEL_OPERATOR, 1, Outcome::refused_as_unconvertible, 0},
        {"[BPM1]\nScale_X = 0\nScale_Y = 4.0\n", LEVEL_OPERATOR, 1, Outcome::sent, 0.75},
        {"[BPM1]\nScale_X = 0\nScale_Y = 0\n", LEVEL_OPERATOR, 2, Outcome::sent, 3.0},
        {"[BPM1]\nScale_X = 0\n", LEVEL_VIEW, 0, Outcome::refused_by_the_gate, 0},
    };
    constexpr int kErrnoBefore = 4711;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.calibration << "level " << c.level << " channel "
                                        << int{c.channel});
        const SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        const auto run = vorntest::run_command(
            root, c.level, [&](VornLib& lib, Report&) { return lib.setSetpoint(c.channel, 3.0); },
            kErrnoBefore);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        switch (c.outcome) {
            case Outcome::sent:
                EXPECT_EQ(run.result, 0);
                ASSERT_EQ(run.exchanges.size(), 1u) << run.describe();
                EXPECT_EQ(setpoint_sent(run.exchanges[0]), c.device_value);
                break;
            case Outcome::refused_as_unconvertible:
                EXPECT_EQ(run.result, -1);
                EXPECT_EQ(run.error, EINVAL);
                EXPECT_TRUE(run.exchanges.empty()) << run.describe();
                break;
            case Outcome::refused_by_the_gate:
                EXPECT_EQ(run.result, -1);
                EXPECT_EQ(run.error, kErrnoBefore) << "the gate refuses before the factor is looked at";
                EXPECT_TRUE(run.exchanges.empty()) << run.describe();
                break;
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

TEST(Setpoints, AFailedReadStillConvertsWhatTheBufferHoldsAndKeepsTheExchangesErrno) {
    struct Case {
        const char* calibration;  // null: no calibration file
        FailedReply reply;
        double value;
    };
    // The unit's device value 0.7 times 3.0 is 2.0999999999999996; 0.0 is the
    // buffer as sent.
    const char* const x_3 = "[BPM1]\nScale_X = 3.0\n";
    const Case cases[] = {
        {x_3, FailedReply::as_sent, 0.0},
        {nullptr, FailedReply::as_sent, 0.0},
        {x_3, FailedReply::scripted_bytes, 0x1.0ccccccccccccp+1},
        {nullptr, FailedReply::scripted_bytes, 0.7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.calibration ? c.calibration : "no calibration file")
                     << (c.reply == FailedReply::as_sent ? " as sent" : " scripted bytes"));
        const SimRoot root = vorntest::fresh_root_with_calibration(c.calibration);
        const MailboxControl mailbox(root);
        mailbox.script_reply(vorn::CMD_SETPOINT_GET, 8,
                             {0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0xe6, 0x3f});  // 0.7
        mailbox.script_failure(1, EIO, c.reply);
        const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report& report) {
            double value = -9;
            const int result = lib.getSetpoint(0, &value);
            report.put_values("value", &value, 1);
            return result;
        });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, -1);
        EXPECT_EQ(run.error, EIO);
        EXPECT_EQ(bits_of(run.client.values<double>("value").at(0)), bits_of(c.value));
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

TEST(PidStatus, IsTheSignExtendedStatusByteAlsoAfterAFailedExchange) {
    struct Case {
        std::uint8_t status_byte;
        std::optional<FailedReply> failure;  // none: the exchange succeeds
        int expected;
    };
    for (const Case c : {Case{0xff, std::nullopt, -1}, Case{0x7f, std::nullopt, 127},
                         Case{0x80, std::nullopt, -128}, Case{0x00, std::nullopt, 0},
                         Case{0x55, FailedReply::as_sent, 0},
                         Case{0x9c, FailedReply::scripted_bytes, -100}}) {
        SCOPED_TRACE(testing::Message() << "status byte " << int{c.status_byte}
                                        << (c.failure ? " failed exchange" : ""));
        const SimRoot root = SimRoot::make_fresh();
        const MailboxControl mailbox(root);
        mailbox.script_reply(vorn::CMD_PID_STATUS_GET, 4, {c.status_byte});
        if (c.failure) {
            mailbox.script_failure(1, EIO, *c.failure);
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
