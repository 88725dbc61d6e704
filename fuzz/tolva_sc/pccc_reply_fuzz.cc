// Whatever the controllers answer, a command must stay inside its buffers, end, report
// success only with the bytes asked for, and never resend more often than allowed.
//
// Input: command (0 directory, 1 diagnostic, 2 read, 3 write), byte count, station,
// processor type, module address (0xFF none), then replies, each a length byte and bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <span>
#include <vector>

#include "platform/last_error.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/pccc_codes.h"
#include "tolva_sc/pccc_commands.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ReplayLink final : public tolva::MessageLink {
  public:
    explicit ReplayLink(std::deque<Bytes> replies) : replies_(std::move(replies)) {}
    int send(std::span<const uint8_t>) override {
        ++sends;
        return 1;
    }
    int receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) override {
        if (budget_ms < 0 || ++receives > 10'000) std::abort();
        if (replies_.empty()) {
            now_ += budget_ms;
            platform::set_last_error(tolva::link_error::kTimeout);
            return 0;
        }
        Bytes r = std::move(replies_.front());
        replies_.pop_front();
        if (r.size() > buffer.size()) {
            platform::set_last_error(tolva::link_error::kTooLong);
            return 0;
        }
        std::copy(r.begin(), r.end(), buffer.begin());
        length = r.size();
        now_ += 3;
        return 1;
    }
    int64_t now_ms() override { return now_; }
    int64_t reply_budget_ms() const override { return 100; }
    uint32_t max_retries() const override { return 2; }
    int sends = 0;
    int receives = 0;

  private:
    std::deque<Bytes> replies_;
    int64_t now_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const int command = data[0] % 4;
    const int bytes = data[1] % 100;
    const uint8_t station = data[2];
    const uint8_t type = data[3];
    const uint8_t module = data[4];
    std::deque<Bytes> replies;
    for (size_t i = 5; i < size;) {
        const size_t n = std::min<size_t>(data[i], size - i - 1);
        replies.emplace_back(data + i + 1, data + i + 1 + n);
        i += 1 + n;
    }
    ReplayLink link(std::move(replies));
    tolva::PcccCommands commands(
        link, [] { return true; },
        [module]() -> std::optional<uint8_t> {
            if (module == 0xFF) return std::nullopt;
            return module;
        });

    // A guard byte after the data catches a copy beyond the byte count.
    std::vector<uint8_t> buffer(static_cast<size_t>(bytes) + 1, 0xA5);
    tolva::TransferRequest r;
    r.station = station;
    r.file_type = static_cast<uint8_t>(type % 10);
    r.file_number = type;
    r.element = static_cast<int16_t>(data[1]);
    r.byte_count = static_cast<int16_t>(bytes);
    r.data = std::span(buffer).first(static_cast<size_t>(bytes));
    int rc = 0;
    int max_sends = 3;
    switch (command) {
        case 0:
            rc = commands.read_directory(r);
            break;
        case 1:
            rc = commands.diagnostic_status(r);
            break;
        case 2:
            rc = commands.read_block(r, type);
            max_sends = 1;
            break;
        default:
            rc = commands.write_block(r, type);
            break;
    }
    if ((rc == 1) != (r.result == 0)) std::abort();
    if (buffer.back() != 0xA5) std::abort();
    if (link.sends > max_sends) std::abort();
    return 0;
}
