// Block lists from arbitrary channel addresses, with stations whose processor type and
// I/O directory come from the input: every block stays within 82 bytes, every link points
// into its own block, and the conversions both ways stay inside the block data.
//
// Input: processor type, digital flag, directory image length and image (for every
// station), then 20-byte channels: 4 flag bytes and the 16-byte address (its Buffer
// bytes the channel's value).
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <span>
#include <vector>

#include "platform/last_error.h"
#include "tolva_sc/io_block.h"
#include "tolva_sc/io_transfer.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/pccc_message.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Answers the probe from the input; every data read with zeros, every write with success.
class Controllers final : public tolva::MessageLink {
  public:
    Controllers(uint8_t type, std::span<const uint8_t> directory)
        : type_(type), directory_(directory.begin(), directory.end()) {}
    int send(std::span<const uint8_t> m) override {
        Bytes reply{m[1], m[0], static_cast<uint8_t>(m[2] | 0x40), 0, m[4], m[5]};
        if (m[2] == 0x06) {
            reply.insert(reply.end(), {0, type_, 0, 0});
        } else if (m[2] == 0x0F && m.size() > 10 && m[6] == 0xA1) {
            const size_t count = m[7];
            const size_t from = (m[10] == 0xFF && m.size() > 12 ? (m[11] | m[12] << 8) : m[10]) * 2u;
            for (size_t i = 0; i < count; ++i)
                reply.push_back(from + i < directory_.size() ? directory_[from + i] : 0);
        } else if (m[2] == 0x0F && m.size() > 7 && m[6] == 0xA2) {
            reply.resize(reply.size() + m[7], 0);
        } else if (m[2] == 0x0F && m.size() > 7 && m[6] == 0x01) {
            reply.resize(reply.size() + m.back(), 0);
        } else if (m[2] == 0x01 && m.size() > 8) {
            reply.resize(reply.size() + m[8], 0);
        }
        pending_.push_back(std::move(reply));
        return 1;
    }
    int receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) override {
        if (pending_.empty()) {
            now_ += budget_ms;
            platform::set_last_error(tolva::link_error::kTimeout);
            return 0;
        }
        Bytes r = std::move(pending_.front());
        pending_.pop_front();
        if (r.size() > buffer.size()) {
            platform::set_last_error(tolva::link_error::kTooLong);
            return 0;
        }
        std::copy(r.begin(), r.end(), buffer.begin());
        length = r.size();
        return 1;
    }
    int64_t now_ms() override { return now_; }
    int64_t reply_budget_ms() const override { return 10; }
    uint32_t max_retries() const override { return 1; }

  private:
    uint8_t type_;
    Bytes directory_;
    std::deque<Bytes> pending_;
    int64_t now_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t type = data[0];
    const bool digital = (data[1] & 1) != 0;
    const size_t image_size = std::min<size_t>(data[2], size - 3);
    Controllers link(type, std::span(data + 3, image_size));
    tolva::PcccCommands commands(link, [] { return true; });
    tolva::StationTable stations(
        commands, [] { return int64_t{0}; }, [](std::string_view) {});

    std::vector<qvr::ChannelRecord> records;
    std::vector<float> values;
    std::vector<uint32_t> status;
    for (size_t i = 3 + image_size; i + 20 <= size && records.size() < 400; i += 20) {
        qvr::ChannelRecord r{};
        r.head.Type = static_cast<qvr::ChannelKind>(digital ? 1 : 0);
        std::memcpy(r.head.Flags.bytes, data + i, 4);
        tolva::ChannelHwRecord hw;
        std::memcpy(&hw, data + i + 4, sizeof hw);
        values.push_back(std::bit_cast<float>(hw.Buffer));
        status.push_back(hw.Buffer);
        hw.Buffer = 0;
        tolva::write_channel_hw(r.bytes, hw);
        records.push_back(r);
    }
    tolva::BlockList list = tolva::build_block_list(records, digital, stations);
    if (list.links.size() != records.size()) std::abort();
    for (const auto& b : list.blocks) {
        const int size_of = tolva::element_size(b.file_type);
        if (b.length <= 0 || b.length > tolva::kMaxBlockBytes || b.length % size_of != 0) std::abort();
        if (b.data.size() != static_cast<size_t>(b.length + b.element_count() / 8 + 1)) std::abort();
        if (b.owned.size() != static_cast<size_t>(b.length / 2)) std::abort();
    }
    for (size_t i = 0; i < records.size(); ++i) {
        const tolva::ChannelLink& link_of = list.links[i];
        if (!link_of.linked()) continue;
        const auto hw = tolva::read_channel_hw(records[i].bytes);
        const tolva::IoBlock& b = list.blocks.at(static_cast<size_t>(link_of.block));
        if (b.station != hw->StationNumber || b.file_number != static_cast<uint16_t>(hw->FileNumber))
            std::abort();
        if (link_of.address.element < b.element || link_of.address.element >= b.element + b.element_count()) {
            std::abort();
        }
    }
    std::span<float> analog = digital ? std::span<float>() : std::span<float>(values);
    tolva::read_unread_blocks(list, commands, stations);
    tolva::channels_to_blocks(list, records, digital, status, analog, stations, {});
    tolva::transfer_output_blocks(list, commands, stations);
    tolva::blocks_to_channels(list, records, digital, status, analog, stations);
    return 0;
}
