// Readings of the optical link transceivers: the request, the packed reply
// fields, and the checks made before anything is sent.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>

#include "core/mailbox_protocol.h"
#include "mailbox_check.h"

namespace {
using vornsim::Device;
using vornsim::FailedReply;
using vornsim::MailboxControl;
using vornsim::SimRoot;
using vorntest::Report;
using vorntest::VornLib;

constexpr int kUntouched = 0x5a5a;

// getSFPinfo(index) into outputs that start as kUntouched; `errno_before` is
// what errno holds when the call is made.
vorntest::CommandRun read_link(const SimRoot& root, int index, int errno_before = 0) {
    return vorntest::run_command(root, LEVEL_VIEW, [=](VornLib& lib, Report& report) {
        int16_t value16 = kUntouched;
        int32_t values[3] = {kUntouched, kUntouched, kUntouched};
        errno = errno_before;
        const int result = lib.getSFPinfo(index, &value16, &values[0], &values[1], &values[2]);
        report.put("value16", value16);
        report.put_values("values", values, 3);
        return result;
    });
}

std::vector<long long> outputs_of(const vorntest::CommandRun& run) {
    std::vector<long long> outputs{run.client.integer("value16")};
    for (const int32_t value : run.client.values<int32_t>("values")) {
        outputs.push_back(value);
    }
    return outputs;
}

const std::vector<long long> kUntouchedOutputs{kUntouched, kUntouched, kUntouched, kUntouched};

TEST(LinkInfo, EachTransceiverIsAskedForByItsIndexAtAnyLevel) {
    std::vector<vorntest::SentCase> cases;
    for (const int index : {0, 1, 2, 3}) {
        char request[80];
        std::snprintf(request, sizeof request,
                      "01020003 %02x000000 0000000000000000 0000000000000000 0000000000000000", index);
        cases.push_back({"getSFPinfo(" + std::to_string(index) + ")", LEVEL_VIEW,
                         [index](VornLib& lib) {
                             return lib.getSFPinfo(index, nullptr, nullptr, nullptr, nullptr);
                         },
                         {request}});
    }
    vorntest::expect_sends(cases);
}

TEST(LinkInfo, ReadsThePackedUnalignedReplyFieldsBitForBit) {
    struct Case {
        std::vector<std::uint8_t> reply;  // bytes 8 to 21
        std::vector<long long> outputs;
    };
    const Case cases[] = {
        {{0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00}, {1, 2, 3, 4}},
        {{0xff, 0xff, 0xfe, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x80, 0x78, 0x56, 0x34, 0x12},
         {-1, -2, INT32_MIN, 0x12345678}},
    };
    for (const Case& c : cases) {
        const SimRoot root = SimRoot::make_fresh();
        MailboxControl(root).script_reply(vorn::CMD_SFP_INFO_GET, 8, c.reply);
        const auto run = read_link(root, 2);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(outputs_of(run), c.outputs);
    }
}

TEST(LinkInfo, AnIndexOutOfRangeSendsNothingAndIsCheckedBeforeTheDescriptor) {
    for (const bool mailbox_present : {true, false}) {
        for (const int index : {-1, 4, 9}) {
            SCOPED_TRACE(testing::Message() << "index " << index << " mailbox present " << mailbox_present);
            const SimRoot root = SimRoot::make_fresh();
            root.set_device_present(Device::mailbox, mailbox_present);
            const auto run = read_link(root, index, EIO);
            ASSERT_TRUE(run.client.ok()) << run.describe();
            EXPECT_EQ(run.result, -1);
            EXPECT_TRUE(run.exchanges.empty()) << run.describe();
            EXPECT_EQ(outputs_of(run), kUntouchedOutputs);
        }
    }
}

TEST(LinkInfo, AClosedMailboxGivesMinusErrnoAndMinusEbadfWhenErrnoIsZero) {
    for (const int errno_before : {EIO, 0}) {
        SCOPED_TRACE(testing::Message() << "errno before " << errno_before);
        const SimRoot root = SimRoot::make_fresh();
        root.set_device_present(Device::mailbox, false);
        const auto run = read_link(root, 1, errno_before);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, errno_before != 0 ? -errno_before : -EBADF);
        EXPECT_EQ(outputs_of(run), kUntouchedOutputs);
    }
}

TEST(LinkInfo, AFailedExchangeStillWritesTheOutputsFromWhatTheBufferHolds) {
    struct Case {
        FailedReply reply;
        std::vector<long long> outputs;
    };
    for (const Case& c : {Case{FailedReply::as_sent, {0, 0, 0, 0}},
                          Case{FailedReply::scripted_bytes, {-1, -2, INT32_MIN, 0x12345678}}}) {
        SCOPED_TRACE(c.reply == FailedReply::as_sent ? "as sent" : "scripted bytes");
        const SimRoot root = SimRoot::make_fresh();
        const MailboxControl mailbox(root);
        mailbox.script_reply(vorn::CMD_SFP_INFO_GET, 8,
                             {0xff, 0xff, 0xfe, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x80,  // -1, -2
                              0x78, 0x56, 0x34, 0x12});
        mailbox.script_failure(1, ETIMEDOUT, c.reply);
        const auto run = read_link(root, 3);
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, -1);
        EXPECT_EQ(run.error, ETIMEDOUT);
        EXPECT_EQ(outputs_of(run), c.outputs);
    }
}

TEST(LinkInfo, WithoutOutputsTheExchangeIsStillMadeAndItsResultReturned) {
    const SimRoot root = SimRoot::make_fresh();
    MailboxControl(root).script_result(1, 7);
    const auto run = vorntest::run_command(root, LEVEL_VIEW, [](VornLib& lib, Report&) {
        return lib.getSFPinfo(0, nullptr, nullptr, nullptr, nullptr);
    });
    ASSERT_TRUE(run.client.ok()) << run.describe();
    EXPECT_EQ(run.result, 7);
    EXPECT_EQ(run.exchanges.size(), 1u);
}

}  // namespace
