// Multi-part messages over real mailslots: the writer against a raw reader (the layout), the
// reader against a raw writer (broken sequences), and the two against each other.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/mailslot.h"
#include "qvr/ipc/slot.h"
#include "qvr/link/multipart.h"

namespace {

using platform::MailslotReceiver;
using platform::MailslotSender;

std::string payload(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

std::span<const std::byte> bytes(const std::string& s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

TEST(Multipart, ReplyMailslotNameIsProcessAndThreadInHex) {
    EXPECT_EQ(link_ReplyMailslotName(0x1A4, 0x2C), "1A4\\2C");
}

class MultipartTest : public testing::Test {
  protected:
    void SetUp() override {
        auto r = MailslotReceiver::create(name_);
        auto a = MailslotReceiver::create(kAckMailslotName);
        ASSERT_TRUE(r && a);
        reply_slot_ = std::move(*r);
        ack_slot_ = std::move(*a);
    }
    int writer_handle() { return slot_OpenMailslot(name_.c_str()); }

    std::string name_ = link_ReplyMailslotName(0x1A4, 0x2C);
    MailslotReceiver reply_slot_;
    MailslotReceiver ack_slot_;
};

class Payloads : public MultipartTest, public testing::WithParamInterface<size_t> {};

TEST_P(Payloads, TravelWholeBetweenWriterAndReader) {
    const std::string data = payload(GetParam());
    uint32_t sent = 0;
    int wrote = 0;
    std::thread writer([&] { wrote = WriteMultipartMessage(writer_handle(), ack_slot_, data.data(),
                                                           static_cast<uint32_t>(data.size()), &sent, 5000); });
    std::vector<char> reply(kReplyMailslotCapacity);
    uint32_t length = 0;
    const int read = ReadMailslotReply(reply_slot_, reply.data(), kReplyMailslotCapacity, &length, 5000);
    writer.join();
    EXPECT_EQ(read, 1);
    EXPECT_EQ(wrote, 1);
    EXPECT_EQ(sent, data.size());
    ASSERT_EQ(length, data.size());
    EXPECT_EQ(std::memcmp(reply.data(), data.data(), data.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Payloads, testing::Values(0, 1, 4089, 4090, 65536));

// The writer's parts as a raw reader sees them, acknowledging each.
std::vector<size_t> part_sizes(const MailslotReceiver& slot, size_t expected_parts) {
    auto ack = MailslotSender::open(kAckMailslotName);
    std::vector<size_t> sizes;
    std::vector<std::byte> buffer(8192);
    for (int tries = 0; tries < 2000 && sizes.size() < expected_parts; ++tries) {
        const ssize_t n = slot.receive(buffer);
        if (n < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        sizes.push_back(static_cast<size_t>(n));
        const std::byte space[1] = {std::byte{0x20}};
        ack->send(space);
    }
    return sizes;
}

TEST_F(MultipartTest, PartsAreCutAt4089ThenAt4093) {
    for (const auto& [size, parts] : std::vector<std::pair<size_t, std::vector<size_t>>>{
             {0, {4}}, {4089, {4093}}, {4090, {4093, 1}}, {4089 + 4093 + 5, {4093, 4093, 5}}}) {
        const std::string data = payload(size);
        int wrote = 0;
        std::thread writer([&] {
            wrote = WriteMultipartMessage(writer_handle(), ack_slot_, data.data(), static_cast<uint32_t>(data.size()),
                                          nullptr, 5000);
        });
        EXPECT_EQ(part_sizes(reply_slot_, parts.size()), parts) << size;
        writer.join();
        EXPECT_EQ(wrote, 1);
    }
}

TEST_F(MultipartTest, MissingAcknowledgementFailsTheWriterInBoundedTime) {
    const std::string data = payload(5000);
    uint32_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WriteMultipartMessage(writer_handle(), ack_slot_, data.data(), 5000, &sent, 100), 0);
    EXPECT_EQ(platform::last_error(), platform::kErrorWsaTimedOut);
    EXPECT_EQ(sent, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Feeds raw parts to the reader.
struct BrokenCase {
    const char* name;
    std::vector<std::string> parts;
    uint32_t capacity;
    int error;
};

class BrokenSequences : public MultipartTest, public testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenSequences, FailTheTransferWithoutCopyingPastTheTotal) {
    const BrokenCase& c = GetParam();
    auto writer = MailslotSender::open(name_);
    ASSERT_TRUE(writer);
    for (const std::string& part : c.parts) ASSERT_EQ(writer->send(bytes(part)), 0);
    std::vector<char> reply(c.capacity + 16, 'Z');
    uint32_t length = 0;
    EXPECT_EQ(ReadMailslotReply(reply_slot_, reply.data(), c.capacity, &length, 100), 0);
    EXPECT_EQ(platform::last_error(), c.error);
    for (size_t i = c.capacity; i < reply.size(); ++i) ASSERT_EQ(reply[i], 'Z') << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenSequences,
    testing::Values(BrokenCase{"TotalAboveCapacity", {le32(100) + "abc"}, 50, platform::kErrorMoreData},
                    BrokenCase{"FirstPartPassesTheTotal", {le32(2) + "abcdef"}, 50, platform::kErrorInvalidData},
                    BrokenCase{"LaterPartPassesTheTotal", {le32(6) + "abc", "defghij"}, 6,
                               platform::kErrorInvalidData},
                    BrokenCase{"FirstPartTooShort", {"ab"}, 50, platform::kErrorInvalidData},
                    BrokenCase{"EmptyLaterPart", {le32(6) + "abc", ""}, 50, platform::kErrorInvalidData},
                    BrokenCase{"PartsStopComing", {le32(6) + "abc"}, 50, platform::kErrorWsaTimedOut},
                    BrokenCase{"NothingComes", {}, 50, platform::kErrorWsaTimedOut}),
    [](const testing::TestParamInfo<BrokenCase>& p) { return std::string(p.param.name); });

TEST(MultipartReader, WithoutTheAcknowledgementMailslotFailsAtOnce) {
    auto reply_slot = MailslotReceiver::create("1\\1");
    ASSERT_TRUE(reply_slot);
    char reply[16];
    uint32_t length = 0;
    EXPECT_EQ(ReadMailslotReply(*reply_slot, reply, sizeof reply, &length, 100), 0);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
}

}  // namespace
