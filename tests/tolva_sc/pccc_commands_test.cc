// The four commands over a scripted link: how replies end, are skipped or make the command
// go again, and what a read hands back.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "platform/last_error.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/pccc_codes.h"
#include "tolva_sc/pccc_commands.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tolva::TransferRequest;
namespace err = tolva::pccc_error;

// Answers each request with the replies the script gives for it.
class ScriptLink : public tolva::MessageLink {
  public:
    using Script = std::function<std::vector<Bytes>(const Bytes& request, int send_number)>;
    explicit ScriptLink(Script script) : script_(std::move(script)) {}

    int send(std::span<const uint8_t> m) override {
        sent.emplace_back(m.begin(), m.end());
        for (auto& r : script_(sent.back(), static_cast<int>(sent.size()))) queue_.push_back(std::move(r));
        return 1;
    }
    int receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) override {
        budgets.push_back(budget_ms);
        if (queue_.empty()) {
            now_ += budget_ms;
            platform::set_last_error(tolva::link_error::kTimeout);
            return 0;
        }
        Bytes r = std::move(queue_.front());
        queue_.pop_front();
        std::copy(r.begin(), r.end(), buffer.begin());
        length = r.size();
        now_ += 10;
        return 1;
    }
    int64_t now_ms() override { return now_; }
    int64_t reply_budget_ms() const override { return 1000; }
    uint32_t max_retries() const override { return retries; }

    std::vector<Bytes> sent;
    uint32_t retries = 2;
    std::vector<int64_t> budgets;

  private:
    Script script_;
    std::deque<Bytes> queue_;
    int64_t now_ = 0;
};

// The reply to `req` from `src` (the station when 0xFF), with its TNS moved by `tns_shift`.
Bytes answer(const Bytes& req, uint8_t sts, Bytes data = {}, int tns_shift = 0, uint8_t src = 0xFF) {
    const uint16_t tns = static_cast<uint16_t>((req[4] | req[5] << 8) + tns_shift);
    Bytes r{req[1], src == 0xFF ? req[0] : src,       static_cast<uint8_t>(req[2] | 0x40),
            sts,    static_cast<uint8_t>(tns & 0xFF), static_cast<uint8_t>(tns >> 8)};
    for (uint8_t b : data) r.push_back(b);
    return r;
}

struct Fixture {
    explicit Fixture(ScriptLink::Script script, std::optional<uint8_t> module = std::nullopt)
        : link(std::move(script)),
          commands(
              link, [this] { return running; },
              [this, module] {
                  ++lookups;
                  return module;
              }) {}
    ScriptLink link;
    bool running = true;
    int lookups = 0;
    tolva::PcccCommands commands;
};

TransferRequest request_into(std::vector<uint8_t>& buffer, int16_t bytes, uint8_t station = 3) {
    buffer.assign(static_cast<size_t>(bytes), 0xEE);
    TransferRequest r;
    r.station = station;
    r.file_type = 7;
    r.file_number = 7;
    r.element = 0;
    r.byte_count = bytes;
    r.data = buffer;
    return r;
}

TEST(PcccCommands, BlockReadCopiesTheRequestedBytesWithTheFirstTns) {
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0, {1, 2, 3, 4})}; });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    ASSERT_EQ(f.commands.read_block(r, 0x4E), 1);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(buf, (Bytes{1, 2, 3, 4}));
    ASSERT_EQ(f.link.sent.size(), 1u);
    EXPECT_EQ(f.link.sent[0][4], 0x55);
    EXPECT_EQ(f.link.sent[0][6], 0xA2);
}

TEST(PcccCommands, BlockReadSkipsAReplyOfAnOlderTransactionWithinTheBudget) {
    Fixture f([](const Bytes& req, int) {
        return std::vector<Bytes>{answer(req, 0, {9, 9}, -1), answer(req, 0, {5, 6})};
    });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 2);
    ASSERT_EQ(f.commands.read_block(r, 0x4E), 1);
    EXPECT_EQ(buf, (Bytes{5, 6}));
    EXPECT_EQ(f.link.sent.size(), 1u);
    // The second wait is lent only what is left of the reply time-out.
    ASSERT_EQ(f.link.budgets.size(), 2u);
    EXPECT_EQ(f.link.budgets[0], 1000);
    EXPECT_EQ(f.link.budgets[1], 990);
}

TEST(PcccCommands, BlockReadSkipsAStrayDuplicateAndAReplyToAnotherStation) {
    Fixture f([](const Bytes& req, int) {
        return std::vector<Bytes>{answer(req, 0, {9, 9}, -1), answer(req, 0, {7, 7}, 0, 5),
                                  answer(req, 0, {5, 6})};
    });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 2);
    ASSERT_EQ(f.commands.read_block(r, 0x4E), 1) << std::hex << r.result;
    EXPECT_EQ(buf, (Bytes{5, 6}));
    EXPECT_EQ(f.link.sent.size(), 1u);
}

TEST(PcccCommands, BlockReadEndsAtOnceOnTheReplyOfAnotherCommand) {
    Fixture f([](const Bytes& req, int) {
        Bytes other = answer(req, 0, {9, 9});
        other[2] = 0x41;  // the reply of command 0x01
        return std::vector<Bytes>{other, answer(req, 0, {5, 6})};
    });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 2);
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, err::kWrongCommand);
    EXPECT_EQ(f.link.budgets.size(), 1u);  // no wait for more
    EXPECT_EQ(buf, (Bytes{0xEE, 0xEE}));
}

// Another TNS marks an earlier transaction whatever the reply's source, command or length.
TEST(PcccCommands, BlockReadSkipsEveryKindOfLateReply) {
    Fixture f(
        [](const Bytes& req, int) {
            Bytes other_command = answer(req, 0, {0, 0x49, 0, 0}, -2);
            other_command[2] = 0x46;
            return std::vector<Bytes>{answer(req, 0, Bytes(40, 9), -1), other_command,
                                      answer(req, 0x02, {}, -1, 9), answer(req, 0, {5, 6})};
        },
        9);
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 2);
    ASSERT_EQ(f.commands.read_block(r, 0x4E), 1) << std::hex << r.result;
    EXPECT_EQ(buf, (Bytes{5, 6}));
    EXPECT_EQ(f.link.sent.size(), 1u);
}

TEST(PcccCommands, ItsOwnReplyLongerThanTheCommandExpectsEndsIt) {
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0, Bytes(13, 1))}; });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 2);
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, tolva::link_error::kTooLong);
    EXPECT_EQ(buf, (Bytes{0xEE, 0xEE}));
    r = request_into(buf, 2);
    EXPECT_EQ(f.commands.write_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, tolva::link_error::kTooLong);
    EXPECT_EQ(f.link.sent.size(), 2u) << "not sent again";
}

// A late reply must not make a write go out again while its own reply is still to come.
TEST(PcccCommands, AWriteIsSentOnceWhenALateReplyComesBeforeItsOwn) {
    Fixture f([](const Bytes& req, int) {
        return std::vector<Bytes>{answer(req, 0, {}, -1), answer(req, 0, {}, 0, 5), answer(req, 0)};
    });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.write_block(r, 0x4E), 1) << std::hex << r.result;
    EXPECT_EQ(f.link.sent.size(), 1u);
}

TEST(PcccCommands, BlockReadWithOnlyStrayRepliesEndsWithTheTimeOutOfItsOneBudget) {
    Fixture f([](const Bytes& req, int) {
        return std::vector<Bytes>{answer(req, 0, {9, 9}, -1), answer(req, 0, {9, 9}, 0, 5)};
    });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 2);
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, tolva::link_error::kTimeout);
    EXPECT_EQ(f.link.sent.size(), 1u);
    ASSERT_EQ(f.link.budgets.size(), 3u);
    EXPECT_EQ(f.link.budgets[0], 1000);
    EXPECT_EQ(f.link.budgets[2], 980);  // what the two skipped replies left of it
}

TEST(PcccCommands, AShortReplyFailsAndLeavesTheDataAlone) {
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0, {1, 2})}; });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, err::kShortReply);
    EXPECT_EQ(buf, (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));

    std::vector<uint8_t> diag;
    TransferRequest d = request_into(diag, 4);
    EXPECT_EQ(f.commands.diagnostic_status(d), 0);
    EXPECT_EQ(d.result, err::kShortReply);
}

TEST(PcccCommands, AStatusErrorEndsEveryCommandAtOnce) {
    using Run = std::function<int(tolva::PcccCommands&, TransferRequest&)>;
    const std::pair<const char*, Run> commands[] = {
        {"directory", [](auto& c, auto& r) { return c.read_directory(r); }},
        {"diagnostic", [](auto& c, auto& r) { return c.diagnostic_status(r); }},
        {"read", [](auto& c, auto& r) { return c.read_block(r, 0x4E); }},
        {"write", [](auto& c, auto& r) { return c.write_block(r, 0x4E); }},
    };
    const std::pair<uint8_t, int> statuses[] = {{0x10, 0x4000001}, {0x05, 0x3000005}, {0xF0, 0x5000007}};
    for (const auto& [name, run] : commands) {
        for (const auto& [sts, code] : statuses) {
            Fixture f(
                [sts = sts](const Bytes& req, int) { return std::vector<Bytes>{answer(req, sts, {0x07})}; });
            std::vector<uint8_t> buf;
            TransferRequest r = request_into(buf, 4);
            EXPECT_EQ(run(f.commands, r), 0) << name;
            EXPECT_EQ(r.result, code) << name;
            EXPECT_EQ(f.link.sent.size(), 1u) << name << " was sent again";
        }
    }
}

TEST(PcccCommands, MismatchedRepliesMakeTheCommandGoAgainAtMostMaxRetriesTimes) {
    // Every reply carries another TNS: three sends (one and two retries), then the code.
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0, {}, 1)}; });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.write_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, err::kOtherTransaction);
    ASSERT_EQ(f.link.sent.size(), 3u);
    EXPECT_EQ(f.link.sent[0][4], 0x55);
    EXPECT_EQ(f.link.sent[1][4], 0x56);
    EXPECT_EQ(f.link.sent[2][4], 0x57);
}

TEST(PcccCommands, AResentCommandSucceedsWhenItsReplyComes) {
    Fixture f([](const Bytes& req, int n) {
        if (n == 1) return std::vector<Bytes>{answer(req, 0, {}, 0, 7)};  // another station
        return std::vector<Bytes>{answer(req, 0, {0, 0x4E, 0, 0})};
    });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.diagnostic_status(r), 1);
    EXPECT_EQ(buf[1], 0x4E);
    EXPECT_EQ(f.link.sent.size(), 2u);
}

TEST(PcccCommands, TheLargestRetryCountStillSendsTheCommand) {
    Fixture f([](const Bytes& req, int n) {
        if (n == 1) return std::vector<Bytes>{answer(req, 0, {}, 1)};
        return std::vector<Bytes>{answer(req, 0)};
    });
    f.link.retries = UINT32_MAX;
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.write_block(r, 0x4E), 1) << r.result;
    EXPECT_EQ(f.link.sent.size(), 2u);
}

TEST(PcccCommands, TheModulesOwnAnswerEndsTheCommandAndTheAddressIsAskedOnce) {
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0x02, {}, 0, 9)}; }, 9);
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> buf;
        TransferRequest r = request_into(buf, 4);
        EXPECT_EQ(f.commands.diagnostic_status(r), 0);
        EXPECT_EQ(r.result, err::kFromModule);
    }
    EXPECT_EQ(f.link.sent.size(), 3u);
    EXPECT_EQ(f.lookups, 1);
}

TEST(PcccCommands, WithoutAKnownModuleAddressItsAnswersAreSkipped) {
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0x02, {}, 0, 9)}; });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.read_directory(r), 0);
    EXPECT_EQ(r.result, err::kOtherTransaction);
    EXPECT_EQ(f.link.sent.size(), 3u);
}

TEST(PcccCommands, NoReplyEndsWithTheLinkCode) {
    Fixture f([](const Bytes&, int) { return std::vector<Bytes>{}; });
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.write_block(r, 0x49), 0);
    EXPECT_EQ(r.result, tolva::link_error::kTimeout);
    EXPECT_EQ(f.link.sent.size(), 1u);
}

TEST(PcccCommands, AClearedRunFlagEndsWithItsOwnCode) {
    Fixture* self = nullptr;
    Fixture f([&self](const Bytes& req, int) {
        self->running = false;
        return std::vector<Bytes>{answer(req, 0, {}, 1)};
    });
    self = &f;
    std::vector<uint8_t> buf;
    TransferRequest r = request_into(buf, 4);
    EXPECT_EQ(f.commands.write_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, err::kStopped);
    EXPECT_EQ(f.link.sent.size(), 1u);

    TransferRequest again = request_into(buf, 4);
    EXPECT_EQ(f.commands.read_block(again, 0x4E), 0);
    EXPECT_EQ(again.result, err::kStopped);
    EXPECT_EQ(f.link.sent.size(), 1u);
}

TEST(PcccCommands, RequestsOutsideTheMessageLimitsAreRefused) {
    Fixture f([](const Bytes& req, int) { return std::vector<Bytes>{answer(req, 0)}; });
    std::vector<uint8_t> buf(300);
    TransferRequest r = request_into(buf, 0);
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    EXPECT_EQ(r.result, EINVAL);
    r = request_into(buf, 245);
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    r = request_into(buf, 4);
    r.data = std::span(buf).first(2);
    EXPECT_EQ(f.commands.write_block(r, 0x4E), 0);
    r = request_into(buf, 4);
    r.element = -1;
    EXPECT_EQ(f.commands.read_block(r, 0x4E), 0);
    EXPECT_TRUE(f.link.sent.empty());
}

}  // namespace
