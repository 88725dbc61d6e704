#include "TOLVA_CF/logic/channel_paste.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "tolva_ex/records.h"

namespace tolva::cf {

namespace {

constexpr std::size_t kFlagsOffset = offsetof(qvr::ChannelHead, Flags);
// Tag characters 9-15 and description characters 17-32 sit at the same places in both layouts.
constexpr std::size_t kSharedTextBegin = offsetof(qvr::AnalogChannel, Tag9);
constexpr std::size_t kSharedTextEnd =
    offsetof(qvr::AnalogChannel, Tag13) + sizeof(qvr::AnalogChannel::Tag13);
static_assert(kSharedTextBegin == offsetof(qvr::DigitalChannel, Tag9));
static_assert(offsetof(qvr::AnalogChannel, Description17) == offsetof(qvr::DigitalChannel, Description17));
static_assert(offsetof(qvr::AnalogChannel, Tag13) == offsetof(qvr::DigitalChannel, Tag13));
static_assert(kSharedTextBegin == 138 && kSharedTextEnd == 161);

constexpr std::size_t kStateTextSize = sizeof(qvr::DigitalChannel::HighStateText);

void set_state_text(qvr::ChannelRecord& record, std::size_t offset, std::string_view text) {
    std::memset(record.bytes + offset, 0, kStateTextSize);
    std::memcpy(record.bytes + offset, text.data(), text.size());
}

}  // namespace

void paste_channel(qvr::ChannelRecord& destination, const qvr::ChannelRecord& source, unsigned new_flags) {
    const qvr::ChannelRecord from = source;  // the two may be one record
    qvr::ChannelRecord to = from;
    const bool to_digital = (new_flags & 1u) != 0;
    const bool from_digital = qvr::is_digital(from.head.Type);
    if (to_digital != from_digital) {
        std::memset(to.bytes + kFlagsOffset, 0, qvr::kChannelRecordSize - kFlagsOffset);
        std::memcpy(to.bytes + kSharedTextBegin, from.bytes + kSharedTextBegin,
                    kSharedTextEnd - kSharedTextBegin);
        if (to_digital) {
            std::memcpy(to.bytes + kDigitalHwOffset, from.bytes + kAnalogHwOffset, sizeof(ChannelHwRecord));
            set_state_text(to, offsetof(qvr::DigitalChannel, HighStateText), "HIGH");
            set_state_text(to, offsetof(qvr::DigitalChannel, LowStateText), "LOW");
        } else {
            std::memcpy(to.bytes + kAnalogHwOffset, from.bytes + kDigitalHwOffset, sizeof(ChannelHwRecord));
        }
        to.head.Flags.set(qvr::AnalogFlag::Enable, from.head.Flags.test(qvr::AnalogFlag::Enable));
    }
    to.head.Type = static_cast<qvr::ChannelKind>(new_flags & 0xFFu);
    destination = to;
}

}  // namespace tolva::cf
