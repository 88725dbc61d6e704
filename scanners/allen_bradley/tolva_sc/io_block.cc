#include "tolva_sc/io_block.h"

#include <algorithm>
#include <optional>

#include "tolva_ex/sub_elements.h"

namespace tolva {

namespace {

struct Draft {
    uint8_t station;
    uint8_t file_type;
    uint16_t file_number;
    int first;
    int last;

    bool same_file(const ChannelHwRecord& hw) const {
        return station == hw.StationNumber && file_type == static_cast<uint8_t>(hw.FileType) &&
               file_number == static_cast<uint16_t>(hw.FileNumber);
    }
    // Takes the element when the span stays within the block's limit.
    bool take(int element) {
        const int lo = std::min(first, element);
        const int hi = std::max(last, element);
        if (hi - lo + 1 > max_block_elements(file_type)) return false;
        first = lo;
        last = hi;
        return true;
    }
};

}  // namespace

std::span<uint8_t> IoBlock::element_bytes(int index) {
    const int size = element_size(file_type);
    return std::span(data).subspan(static_cast<size_t>(index * size), static_cast<size_t>(size));
}

std::span<const uint8_t> IoBlock::element_bytes(int index) const {
    const int size = element_size(file_type);
    return std::span(data).subspan(static_cast<size_t>(index * size), static_cast<size_t>(size));
}

bool IoBlock::changed(int index) const {
    return (data[static_cast<size_t>(length + index / 8)] & (1u << (index % 8))) != 0;
}

void IoBlock::mark_changed(int index) {
    data[static_cast<size_t>(length + index / 8)] |= static_cast<uint8_t>(1u << (index % 8));
}

void IoBlock::clear_changes() {
    std::fill(data.begin() + length, data.end(), uint8_t{0});
}

TransferRequest IoBlock::request(int first, int count) {
    const int size = element_size(file_type);
    TransferRequest r;
    r.station = station;
    r.file_type = file_type;
    r.file_number = file_number;
    r.element = static_cast<int16_t>(element + first);
    r.byte_count = static_cast<int16_t>(count * size);
    r.data = std::span(data).subspan(static_cast<size_t>(first * size), static_cast<size_t>(count * size));
    return r;
}

TransferRequest IoBlock::sub_element_request(int index, int first, int count) {
    const int size = element_size(file_type);
    TransferRequest r;
    r.station = station;
    r.file_type = file_type;
    r.file_number = file_number;
    r.element = static_cast<int16_t>(element + index);
    r.sub_element = static_cast<uint8_t>(first);
    r.byte_count = static_cast<int16_t>(count * 2);
    r.data = std::span(data).subspan(static_cast<size_t>(index * size + first * 2),
                                     static_cast<size_t>(count * 2));
    return r;
}

namespace {

// The bits of the element's words that a channel of this access owns, or'ed into `words`.
void own(std::span<uint16_t> words, const ElementAccess& access) {
    switch (access.kind) {
        case ElementAccess::Kind::real:
            words[0] = words[1] = 0xFFFF;
            break;
        case ElementAccess::Kind::bit:
            words[access.word] = static_cast<uint16_t>(words[access.word] | 1u << access.bit);
            break;
        case ElementAccess::Kind::word:
            words[access.word] = 0xFFFF;
            break;
    }
}

}  // namespace

bool channel_enabled(const qvr::ChannelRecord& record) {
    return record.head.Flags.test(qvr::AnalogFlag::Enable);
}

bool valid_channel_address(const ChannelHwRecord& hw) {
    const int type = hw.FileType;
    const int number = hw.FileNumber;
    const int mnemonic = hw.MnemonicNumber;
    switch (type) {
        case file_type::kOutput:
        case file_type::kInput:
        case file_type::kStatus:
            return number == type && mnemonic < 6;
        case file_type::kTimer:
        case file_type::kCounter:
        case file_type::kControl:
            if (!sub_element_entry(type, mnemonic)) return false;
            return number == type || number >= 10;
        case file_type::kBinary:
        case file_type::kInteger:
        case file_type::kFloat:
        case file_type::kWord:
            return number == type || number >= 10;
        default:
            return false;
    }
}

BlockList build_block_list(std::span<const qvr::ChannelRecord> records, bool digital,
                           StationTable& stations) {
    BlockList list;
    list.links.resize(records.size());
    std::vector<Draft> drafts;
    std::vector<std::optional<ChannelHwRecord>> accepted(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const qvr::ChannelRecord& record = records[i];
        if (!channel_enabled(record)) continue;
        const auto hw = read_channel_hw(record.bytes);
        if (!hw) continue;
        list.stations.insert(hw->StationNumber);
        if (!valid_channel_address(*hw)) continue;
        // The station is entered (and probed) before its first address is normalised.
        if (!stations.ensure(hw->StationNumber)) continue;
        const auto address = stations.normalise(*hw, digital);
        if (!address) continue;
        const auto access = element_access(hw->FileType, digital, *address, hw->MnemonicNumber);
        if (!access) continue;
        ChannelLink& link = list.links[i];
        link.address = *address;
        link.access = *access;
        bool taken = false;
        for (auto& d : drafts) {
            if (d.same_file(*hw) && d.take(address->element)) {
                taken = true;
                break;
            }
        }
        if (!taken) {
            drafts.push_back({hw->StationNumber, static_cast<uint8_t>(hw->FileType),
                              static_cast<uint16_t>(hw->FileNumber), address->element, address->element});
        }
        accepted[i] = hw;
    }

    list.blocks.reserve((drafts.size() + 127) / 128 * 128);
    for (const auto& d : drafts) {
        IoBlock& b = list.blocks.emplace_back();
        b.station = d.station;
        b.file_type = d.file_type;
        b.file_number = d.file_number;
        b.element = static_cast<int16_t>(d.first);
        const int elements = d.last - d.first + 1;
        b.length = static_cast<int16_t>(elements * element_size(d.file_type));
        b.data.assign(static_cast<size_t>(b.length + elements / 8 + 1), 0);
        b.owned.assign(static_cast<size_t>(b.length / 2), 0);
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (!accepted[i]) continue;
        ChannelLink& link = list.links[i];
        const int element = link.address.element;
        for (size_t k = 0; k < drafts.size(); ++k) {
            const Draft& d = drafts[k];
            if (d.same_file(*accepted[i]) && element >= d.first && element <= d.last) {
                link.block = static_cast<int32_t>(k);
                IoBlock& b = list.blocks[k];
                const auto words = static_cast<size_t>(b.words_per_element());
                own(std::span(b.owned).subspan(static_cast<size_t>(element - d.first) * words, words),
                    link.access);
                break;
            }
        }
    }
    return list;
}

}  // namespace tolva
