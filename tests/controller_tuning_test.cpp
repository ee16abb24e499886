// Tuning commands of the feedback controller: the bytes of every message,
// who may send them, and the sequences that stop at the first failure.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>

#include "core/mailbox_protocol.h"
#include "mailbox_check.h"

namespace {
using vornsim::MailboxControl;
using vornsim::SimRoot;
using vorntest::Access;
using vorntest::Report;
using vorntest::VornLib;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

int set_pid_params(VornLib& lib) {
    return lib.setPIDparams(1, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0);
}

int set_offsets(VornLib& lib) {
    return lib.setOffset(1.0, 2.0, 3.0);
}

const std::vector<std::string> kPidParamsMessages{
    "00010002 01000000 000000000000f03f 0000000000000040 0000000000000840",
    "00010002 01100000 0000000000001040 0000000000001440 0000000000000000",
    "00010002 01200000 0000000000001840 0000000000001c40 0000000000002040",
    "00080002 01000000 0000000000000000 0000000000000000 0000000000000000",
};

const std::vector<std::string> kOffsetMessages{
    "00050002 00000000 000000000000f03f 0000000000000000 0000000000000000",
    "00050002 01000000 0000000000000040 0000000000000000 0000000000000000",
    "00050002 02000000 0000000000000840 0000000000000000 0000000000000000",
};

TEST(ControllerTuning, EachCommandSendsExactlyItsBytes) {
    vorntest::expect_sends({
        {"setPIDparams(1, 1..8)", LEVEL_EXPERT, set_pid_params, kPidParamsMessages},
        {"setPIDparams(-1, NaN, -1.5, 0, inf, ...)", LEVEL_EXPERT,
         [](VornLib& lib) {
             return lib.setPIDparams(static_cast<char>(-1), kNaN, -1.5, 0.0, INFINITY, 0.5, 0.25, -2.0, 0.0);
         },
         {"00010002 ff000000 000000000000f87f 000000000000f8bf 0000000000000000",
          "00010002 ff100000 000000000000f07f 000000000000e03f 0000000000000000",
          "00010002 ff200000 000000000000d03f 00000000000000c0 0000000000000000",
          "00080002 ff000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"setPIDconf(0x5a)", LEVEL_OPERATOR, [](VornLib& lib) { return lib.setPIDconf(0x5a); },
         {"00030002 5a000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"setPIDconf(0x80)", LEVEL_EXPERT, [](VornLib& lib) { return lib.setPIDconf(static_cast<char>(0x80)); },
         {"00030002 80000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"getPIDconf(&conf)", LEVEL_VIEW,
         [](VornLib& lib) {
             char conf = 'x';
             return lib.getPIDconf(&conf);
         },
         {"01030002 00000000 0000000000000000 0000000000000000 0000000000000000"}},
        {"setPIDoutSel(1, 2, 3)", LEVEL_EXPERT, [](VornLib& lib) { return lib.setPIDoutSel(1, 2, 3); },
         {"000a0002 00000000 0102030000000000 0000000000000000 0000000000000000"}},
        {"setROC(-1, 1.5, -2.0)", LEVEL_EXPERT,
         [](VornLib& lib) { return lib.setROC(static_cast<char>(-1), 1.5, -2.0); },
         {"00060002 ff000000 000000000000f83f 00000000000000c0 0000000000000000"}},
        {"setOffset(1.0, 2.0, 3.0)", LEVEL_EXPERT, set_offsets, kOffsetMessages},
    });
}

TEST(ControllerTuning, OnlyTheConfigurationIsOpenToOperatorsAndItsReadingToAll) {
    char conf = 0;
    vorntest::expect_gates({
        {"setPIDparams", Access::expert_only, 4, set_pid_params},
        {"setPIDconf", Access::any_login, 1, [](VornLib& lib) { return lib.setPIDconf(3); }},
        {"getPIDconf", Access::any_level, 1, [&](VornLib& lib) { return lib.getPIDconf(&conf); }},
        {"setPIDoutSel", Access::expert_only, 1, [](VornLib& lib) { return lib.setPIDoutSel(1, 2, 3); }},
        {"setROC", Access::expert_only, 1, [](VornLib& lib) { return lib.setROC(0, 1.0, 2.0); }},
        {"setOffset", Access::expert_only, 3, set_offsets},
    });
}

struct Sequence {
    const char* name;
    std::function<int(VornLib&)> make;
    std::vector<std::string> messages;
};

const Sequence kSequences[] = {
    {"setPIDparams", set_pid_params, kPidParamsMessages},
    {"setOffset", set_offsets, kOffsetMessages},
};

TEST(ControllerTuning, ASequenceStopsAtItsFirstFailedMessageAndReturnsThatFailure) {
    for (const Sequence& sequence : kSequences) {
        for (std::size_t failing = 1; failing <= sequence.messages.size(); ++failing) {
            SCOPED_TRACE(testing::Message() << sequence.name << " failing at message " << failing);
            const SimRoot root = SimRoot::make_fresh();
            MailboxControl(root).script_failure(failing, EBUSY);
            const auto run = vorntest::run_command(root, LEVEL_EXPERT, [&](VornLib& lib, Report&) {
                return sequence.make(lib);
            });
            ASSERT_TRUE(run.client.ok()) << run.describe();
            EXPECT_EQ(run.result, -1);
            EXPECT_EQ(run.error, EBUSY);
            const std::vector<std::string> sent(sequence.messages.begin(),
                                                sequence.messages.begin() + static_cast<long>(failing));
            EXPECT_TRUE(vorntest::sent_exactly(run.exchanges, sent));
        }
    }
}

TEST(ControllerTuning, ASequenceOfAcceptedMessagesReturnsItsLastResult) {
    for (const Sequence& sequence : kSequences) {
        SCOPED_TRACE(sequence.name);
        const SimRoot root = SimRoot::make_fresh();
        const MailboxControl mailbox(root);
        // Positive results are successes too and must not stop the sequence.
        for (std::size_t number = 1; number <= sequence.messages.size(); ++number) {
            mailbox.script_result(number, static_cast<int>(10 + number));
        }
        const auto run = vorntest::run_command(root, LEVEL_EXPERT, [&](VornLib& lib, Report&) {
            return sequence.make(lib);
        });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, static_cast<int>(10 + sequence.messages.size()));
        EXPECT_TRUE(vorntest::sent_exactly(run.exchanges, sequence.messages));
    }
}

TEST(PidConfiguration, IsReadBackAsWrittenAndStoredEvenAfterAFailedExchange) {
    const SimRoot root = SimRoot::make_fresh();
    MailboxControl(root).script_failure(3, EIO);
    const auto run = vorntest::run_command(root, LEVEL_OPERATOR, [](VornLib& lib, Report& report) {
        lib.setPIDconf(static_cast<char>(0xa5));
        char conf = 'x';
        report.put("result_read", lib.getPIDconf(&conf));
        report.put("read", static_cast<unsigned char>(conf));
        conf = 'x';
        report.put("result_failed", lib.getPIDconf(&conf));
        report.put("failed", static_cast<unsigned char>(conf));
        return lib.getPIDconf(nullptr);
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.client.integer("result_read"), 0);
    EXPECT_EQ(run.client.integer("read"), 0xa5);
    EXPECT_EQ(run.client.integer("result_failed"), -1);
    EXPECT_EQ(run.client.integer("failed"), 0) << "byte 4 of the buffer as sent";
    EXPECT_EQ(run.result, 0) << "a null pointer still makes the exchange";
    EXPECT_EQ(run.exchanges.size(), 4u) << run.describe();
}

TEST(PidConfiguration, AFailedExchangeThatHandsBackReplyBytesStoresThem) {
    const SimRoot root = SimRoot::make_fresh();
    const MailboxControl mailbox(root);
    mailbox.script_reply(vorn::CMD_PID_CONF_GET, 4, {0x5c});
    mailbox.script_failure(1, EIO, vornsim::FailedReply::scripted_bytes);
    const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report& report) {
        char conf = 'x';
        const int result = lib.getPIDconf(&conf);
        report.put("conf", static_cast<unsigned char>(conf));
        return result;
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.error, EIO);
    EXPECT_EQ(run.client.integer("conf"), 0x5c);
}

}  // namespace
