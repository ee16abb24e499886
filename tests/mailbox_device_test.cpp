// The emulated mailbox device, its record and scripts, the log decoder and
// the tools around it; and what the library's commands do when the mailbox
// did not open at load.
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "core/mailbox_protocol.h"
#include "mailbox_check.h"

namespace {
using vornsim::Device;
using vornsim::MailboxControl;
using vornsim::MailboxExchange;
using vornsim::SimRoot;
using vorntest::Report;
using vorntest::VornLib;

std::string command_output(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    const int ended = pipe != nullptr ? pclose(pipe) : -1;
    if (status != nullptr) {
        *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    }
    return output;
}

vorn::MailboxMessage message_of(const std::string& hex) {
    vorn::MailboxMessage message;
    const auto bytes = vorntest::message_bytes(hex);
    std::memcpy(message.bytes, bytes.data(), bytes.size());
    return message;
}

TEST(MailboxDevice, RefusesEveryOtherRequestWithEnottyAndRecordsNothing) {
    const SimRoot root = SimRoot::make_fresh();
    const auto run = vorntest::run_client(root, [](VornLib& lib, Report& report) {
        vorn::MailboxMessage message{};
        int i = 0;
        for (const unsigned long request : {0x0UL, 0x8008420AUL, 0xC020420AUL, 0x5401UL}) {
            errno = 0;
            report.put("result" + std::to_string(i), ioctl(*lib.fd_Mbox, request, &message));
            report.put("errno" + std::to_string(i++), errno);
        }
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(run.integer("result" + std::to_string(i)), -1);
        EXPECT_EQ(run.integer("errno" + std::to_string(i)), ENOTTY);
    }
    EXPECT_EQ(MailboxControl(root).exchange_count(), 0u);
}

TEST(MailboxDevice, ExchangesTheWhole32ByteMessageAndRecordsItAsSent) {
    const std::string sent = "01ff007f 04050607 08090a0b0c0d0e0f 1011121314151617 18191a1b1c1d1e1f";
    const std::string reply = "01ff007f 04050607 08090a0b0c0d0e0f 1011121314151617 18191a1baabbccdd";
    const SimRoot root = SimRoot::make_fresh();
    MailboxControl(root).script_reply(0x7f00ff01, 28, {0xaa, 0xbb, 0xcc, 0xdd});
    const auto run = vorntest::run_client(root, [&](VornLib& lib, Report& report) {
        vorn::MailboxMessage message = message_of(sent);
        report.put("result", ioctl(*lib.fd_Mbox, vorn::MBOX_IOCTL_XFER, &message));
        report.put_bytes("reply", message.bytes, sizeof message.bytes);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("result"), 0);
    const auto expected_reply = vorntest::message_bytes(reply);
    EXPECT_EQ(run.text("reply"), std::string(expected_reply.begin(), expected_reply.end()));
    const auto exchanges = MailboxControl(root).exchanges();
    EXPECT_TRUE(vorntest::sent_exactly(exchanges, {sent}));
    EXPECT_EQ(exchanges.at(0).result, 0);
}

TEST(MailboxDevice, ScriptsResultsByNumberAndAFailureChangesNothingOnTheUnit) {
    const std::string setpoint_7 = "00020002 05000000 0000000000001c40 0000000000000000 0000000000000000";
    const std::string get_setpoint_5 =
        "01020002 05000000 0000000000000000 0000000000000000 0000000000000000";
    const std::string scripted_bytes_only =
        "01020002 05000000 0000000000000000 0000000000000000 ee00000000000000";
    const SimRoot root = SimRoot::make_fresh();
    const MailboxControl mailbox(root);
    mailbox.script_result(2, 9);
    mailbox.script_failure(3, EBUSY);
    mailbox.script_failure(4, EIO, vornsim::FailedReply::scripted_bytes);
    mailbox.script_reply(vorn::CMD_SETPOINT_SET, 20, {0xee});
    mailbox.script_reply(vorn::CMD_SETPOINT_GET, 24, {0xee});
    const auto run = vorntest::run_command(root, LEVEL_OPERATOR, [&](VornLib& lib, Report& report) {
        double value = 0;
        report.put("first", lib.setSetpoint(5, 1.25));
        report.put("second", lib.getSetpoint(5, &value));
        report.put_values("second_value", &value, 1);
        for (const auto& [number, hex] :
             {std::pair{"third", setpoint_7}, std::pair{"fourth", get_setpoint_5}}) {
            vorn::MailboxMessage message = message_of(hex);
            errno = 0;
            report.put(number, ioctl(*lib.fd_Mbox, vorn::MBOX_IOCTL_XFER, &message));
            report.put(std::string(number) + "_errno", errno);
            report.put_bytes(std::string(number) + "_message", message.bytes, sizeof message.bytes);
        }
        value = 0;
        const int result = lib.getSetpoint(5, &value);
        report.put_values("fifth_value", &value, 1);
        return result;
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.client.integer("first"), 0);
    EXPECT_EQ(run.client.integer("second"), 9);
    EXPECT_EQ(run.client.values<double>("second_value").at(0), 1.25);
    EXPECT_EQ(run.client.integer("third"), -1);
    EXPECT_EQ(run.client.integer("third_errno"), EBUSY);
    const auto as_sent = vorntest::message_bytes(setpoint_7);
    EXPECT_EQ(run.client.text("third_message"), std::string(as_sent.begin(), as_sent.end()));
    EXPECT_EQ(run.client.integer("fourth"), -1);
    EXPECT_EQ(run.client.integer("fourth_errno"), EIO);
    const auto with_reply = vorntest::message_bytes(scripted_bytes_only);
    EXPECT_EQ(run.client.text("fourth_message"), std::string(with_reply.begin(), with_reply.end()))
        << "the scripted bytes, without the unit's answer";
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.client.values<double>("fifth_value").at(0), 1.25)
        << "the failed setpoint was not taken";
    ASSERT_EQ(run.exchanges.size(), 5u) << run.describe();
    EXPECT_EQ(run.exchanges[1].result, 9);
    EXPECT_EQ(run.exchanges[2].result, -1);
    EXPECT_EQ(run.exchanges[2].error, EBUSY);
    EXPECT_EQ(run.exchanges[3].error, EIO);
}

TEST(MailboxDevice, ASuccessfulExchangeLeavesErrnoAsItWas) {
    constexpr int kErrnoBefore = 4711;
    const SimRoot root = SimRoot::make_fresh();
    const auto run = vorntest::run_command(
        root, LEVEL_VIEW,
        [](VornLib& lib, Report& report) {
            char conf = 'x';
            report.put("first", lib.getPIDconf(&conf));
            report.put("first_errno", errno);
            return lib.getPIDconf(&conf);
        },
        kErrnoBefore);
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.client.integer("first"), 0);
    EXPECT_EQ(run.client.integer("first_errno"), kErrnoBefore) << "the first exchange of a fresh root";
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.error, kErrnoBefore);
}

TEST(MailboxDevice, ProcessesOfOneRootShareOneRecordAndOneUnit) {
    constexpr int kExchanges = 100;
    const SimRoot root = SimRoot::make_fresh();
    const auto tagged_exchanges = [](std::uint8_t client) {
        return [client](VornLib& lib, Report&) {
            for (std::uint32_t sequence = 0; sequence < kExchanges; ++sequence) {
                vorn::MailboxMessage message{};
                message.bytes[3] = 0x7e;
                message.bytes[4] = client;
                std::memcpy(message.bytes + 8, &sequence, sizeof sequence);
                ioctl(*lib.fd_Mbox, vorn::MBOX_IOCTL_XFER, &message);
            }
        };
    };
    {
        vorntest::ClientProcess first(root, tagged_exchanges(1));
        vorntest::ClientProcess second(root, tagged_exchanges(2));
        ASSERT_TRUE(first.finish().ok());
        ASSERT_TRUE(second.finish().ok());
    }
    std::uint32_t next[3] = {0, 0, 0};
    for (const MailboxExchange& exchange : MailboxControl(root).exchanges()) {
        const std::uint8_t client = exchange.sent[4];
        ASSERT_TRUE(client == 1 || client == 2);
        std::uint32_t sequence;
        std::memcpy(&sequence, exchange.sent.data() + 8, sizeof sequence);
        EXPECT_EQ(sequence, next[client]++);
    }
    EXPECT_EQ(next[1], static_cast<std::uint32_t>(kExchanges));
    EXPECT_EQ(next[2], static_cast<std::uint32_t>(kExchanges));

    const auto writer = vorntest::run_command(root, LEVEL_OPERATOR, [](VornLib& lib, Report&) {
        lib.setSetpoint(7, 2.5);
        return lib.setPIDconf(0x33);
    });
    ASSERT_TRUE(writer.client.ok()) << writer.describe();
    const auto reader = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report& report) {
        double setpoints[2] = {-9, -9};
        char conf = 0;
        lib.getSetpoint(7, &setpoints[0]);
        lib.getSetpoint(8, &setpoints[1]);
        report.put_values("setpoints", setpoints, 2);
        return lib.getPIDconf(&conf) == 0 ? conf : -1;
    });
    ASSERT_TRUE(reader.client.ok()) << reader.describe();
    EXPECT_EQ(reader.client.values<double>("setpoints"), (std::vector<double>{2.5, 0.0}));
    EXPECT_EQ(reader.result, 0x33);
}

TEST(MailboxDevice, AnswersReadingsWithValuesOfItsOwn) {
    const SimRoot root = SimRoot::make_fresh();
    const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report& report) {
        double statistics[6];
        lib.getPosStats(0, &statistics[0], &statistics[1], &statistics[2], &statistics[3], &statistics[4],
                        &statistics[5]);
        report.put_values("statistics", statistics, 6);
        for (int index = 0; index < 4; ++index) {
            int16_t value16 = 0;
            int32_t values[3] = {};
            lib.getSFPinfo(index, &value16, &values[0], &values[1], &values[2]);
            report.put("link" + std::to_string(index), value16);
            report.put_values("link_values" + std::to_string(index), values, 3);
        }
        return 0;
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    for (const double value : run.client.values<double>("statistics")) {
        EXPECT_TRUE(std::isfinite(value) && value != 0.0) << value;
    }
    EXPECT_NE(run.client.integer("link0"), run.client.integer("link3")) << "each transceiver has its own";
    for (int index = 0; index < 4; ++index) {
        EXPECT_NE(run.client.integer("link" + std::to_string(index)), 0);
        for (const int32_t value : run.client.values<int32_t>("link_values" + std::to_string(index))) {
            EXPECT_GT(value, 0);
        }
    }
}

TEST(ClosedMailbox, EveryCommandFailsWithEbadfAndNothingReachesTheUnit) {
    struct Case {
        const char* call;
        std::function<int(VornLib&)> make;
        int expected;  // with errno EBADF when negative
    };
    double value = 0;
    char conf = 0;
    const Case cases[] = {
        {"setWindAvg", [](VornLib& lib) { return lib.setWindAvg(1, 2); }, -1},
        {"setCrossBar", [](VornLib& lib) { return lib.setCrossBar(1, 2, 3, 4, 5); }, -1},
        {"setBPMorient", [](VornLib& lib) { return lib.setBPMorient(1, 2); }, -1},
        {"setFBenable", [](VornLib& lib) { return lib.setFBenable(1); }, -1},
        {"getPosStats", [&](VornLib& lib) { return lib.getPosStats(0, &value, &value, &value, &value, &value, &value); }, -1},
        {"getSFPinfo", [](VornLib& lib) { return lib.getSFPinfo(0, nullptr, nullptr, nullptr, nullptr); }, -EBADF},
        {"setPIDparams", [](VornLib& lib) { return lib.setPIDparams(0, 1, 2, 3, 4, 5, 6, 7, 8); }, -1},
        {"setPIDconf", [](VornLib& lib) { return lib.setPIDconf(1); }, -1},
        {"getPIDconf", [&](VornLib& lib) { return lib.getPIDconf(&conf); }, -1},
        {"setPIDoutSel", [](VornLib& lib) { return lib.setPIDoutSel(1, 2, 3); }, -1},
        {"setROC", [](VornLib& lib) { return lib.setROC(0, 1, 2); }, -1},
        {"setOffset", [](VornLib& lib) { return lib.setOffset(1, 2, 3); }, -1},
        {"setSetpoint", [](VornLib& lib) { return lib.setSetpoint(0, 1); }, -1},
        {"getSetpoint", [&](VornLib& lib) { return lib.getSetpoint(0, &value); }, -1},
        {"getPIDstatus", [](VornLib& lib) { return lib.getPIDstatus(); }, 0},
        {"setCtrlReset", [](VornLib& lib) { return lib.setCtrlReset(); }, -1},
    };
    const SimRoot root = SimRoot::make_fresh();
    root.set_device_present(Device::mailbox, false);
    const auto run = vorntest::run_client(root, [&](VornLib& lib, Report& report) {
        vorntest::log_in(lib, LEVEL_EXPERT);
        report.put("fd_Mbox", *lib.fd_Mbox);
        for (const Case& c : cases) {
            errno = 0;
            report.put(std::string(c.call), c.make(lib));
            report.put(std::string(c.call) + "_errno", errno);
        }
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.integer("fd_Mbox"), -1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        EXPECT_EQ(run.integer(c.call), c.expected);
        if (c.expected == -1) {
            EXPECT_EQ(run.integer(std::string(c.call) + "_errno"), EBADF);
        }
    }
    EXPECT_EQ(MailboxControl(root).exchange_count(), 0u);
}

MailboxExchange exchange_of(const std::string& hex, int result = 0, int error = 0) {
    MailboxExchange exchange;
    exchange.sent = vorntest::message_bytes(hex);
    exchange.result = result;
    exchange.error = error;
    return exchange;
}

TEST(MailboxLog, DescribesEachMessageOnOneLineWithFieldsStrayBytesAndResult) {
    const std::vector<MailboxExchange> exchanges{
        exchange_of("00020002 00000000 000000000000e03f 0000000000000000 0000000000000000"),
        exchange_of("00010002 01100100 0000000000001040 0000000000001440 0000000000000000", -1, EIO),
        exchange_of("0100007f 02000000 0000000000000000 0000000000000000 0000000000000000", 3),
        exchange_of("00020001 02010000 0500000000000000 0000000000000000 0000000000000000"),
    };
    EXPECT_EQ(vornsim::describe_exchanges(exchanges),
              "#1 CMD_SETPOINT_SET channel=0 setpoint=0.5 -> 0\n"
              "#2 CMD_PID_PARAMS_SET channel=1 block=0x10 first=4 second=5 third=0 stray 6=0x01 -> -1 EIO\n"
              "#3 0x7f000001 (unknown command) stray 4=0x02 -> 3\n"
              "#4 CMD_WIND_AVG_SET value=258 mode=5 -> 0\n");
    EXPECT_EQ(vornsim::describe_exchanges({}), "(no exchanges)\n");
}

TEST(MailboxLog, TheCommandLineToolPrintsTheRecordOfASimRoot) {
    const SimRoot root = SimRoot::make_fresh();
    MailboxControl(root).script_failure(2, EIO);
    const auto run = vorntest::run_command(root, LEVEL_EXPERT, [](VornLib& lib, Report&) {
        return lib.setPIDparams(2, 1, 2, 3, 4, 5, 6, 7, 8);
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    int status = -1;
    const std::string printed = command_output(std::string(VORNSIM_LOG_TOOL) + " " + root.path().string(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(printed, vornsim::describe_exchanges(MailboxControl(root).exchanges()));
    EXPECT_NE(printed.find("#2 CMD_PID_PARAMS_SET channel=2 block=0x10"), std::string::npos) << printed;

    command_output(std::string(VORNSIM_LOG_TOOL) + " " + root.path().string() + "/nowhere 2>/dev/null", &status);
    EXPECT_EQ(status, 1);
}

TEST(LauncherOptions, ScriptTheMailboxBeforeTheCommandAndPrintItsRecordAfterIt) {
    const SimRoot root = SimRoot::make_fresh();
    const std::string launcher = std::string(VORNSIM_LAUNCHER) + " --root " + root.path().string();
    int status = -1;
    command_output(launcher +
                       " --mailbox-result 1=4 --mailbox-fail 2=EIO --mailbox-fail 3=16"
                       " --mailbox-fail-with-reply 7=EIO"
                       " --mailbox-reply 0x02000701@4=ff --mailbox-reply 0x01000801/2@8=000000000000f03f -- true",
                   &status);
    ASSERT_EQ(status, 0);
    const auto run = vorntest::run_command(root, LEVEL_OPERATOR, [](VornLib& lib, Report& report) {
        report.put("reset", lib.setCtrlReset());
        report.put("reset_errno", (lib.setCtrlReset(), errno));
        report.put("reset_errno_2", (lib.setCtrlReset(), errno));
        double statistics[6] = {};
        lib.getPosStats(0, nullptr, nullptr, nullptr, nullptr, &statistics[4], &statistics[5]);
        report.put_values("channel2", &statistics[4], 1);
        return lib.getPIDstatus();
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.client.integer("reset"), 4);
    EXPECT_EQ(run.client.integer("reset_errno"), EIO);
    EXPECT_EQ(run.client.integer("reset_errno_2"), EBUSY);
    EXPECT_EQ(run.client.values<double>("channel2").at(0), 1.0);
    EXPECT_EQ(run.result, -1) << "the failed exchange still handed back the scripted status byte";
    ASSERT_EQ(run.exchanges.size(), 7u) << run.describe();
    EXPECT_EQ(run.exchanges[6].result, -1);

    const std::string record = command_output(launcher + " --mailbox-log -- true 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(record, vornsim::describe_exchanges(MailboxControl(root).exchanges()));

    const std::string refusal = command_output(launcher + " --mailbox-fail 1=EWHAT -- true 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(refusal.find("--mailbox-fail"), std::string::npos) << refusal;
}

}  // namespace
