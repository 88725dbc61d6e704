#include "TOLVA_CF/logic/channel_address_form.h"

#include <cstdint>
#include <cstring>

#include "TOLVA_CF/logic/address_notation.h"
#include "TOLVA_CF/logic/edit_numbers.h"

namespace tolva::cf {

namespace ft = tolva::file_type;

namespace {

// Places of the edits' texts.
enum EditSlot : std::size_t { kStationSlot, kFileNumberSlot, kElementSlot, kBitSlot };

std::optional<std::size_t> edit_slot(int control_id) {
    switch (control_id) {
        case channel_ctl::kStation:
            return kStationSlot;
        case channel_ctl::kFileNumber:
            return kFileNumberSlot;
        case channel_ctl::kElement:
            return kElementSlot;
        case channel_ctl::kBit:
            return kBitSlot;
        default:
            return std::nullopt;
    }
}

// Limits of the edits when OK stores them into the record's fields.
constexpr std::int64_t kFileNumberMax = 255;
constexpr std::int64_t kElementMax = 255;
constexpr std::int64_t kStationMax = 31;
constexpr std::int64_t kBitMax = 15;
constexpr std::int64_t kWordMax = 255;

bool is_output_or_input(int t) {
    return t == ft::kOutput || t == ft::kInput;
}

bool in_range(std::int64_t v, std::int64_t low, std::int64_t high) {
    return v >= low && v <= high;
}

// Reads an edit for OK: a number within [low, high], else the reason to refuse.
std::optional<Refusal> read_edit(const std::string& text, int control_id, std::int64_t low, std::int64_t high,
                                 std::int64_t& value) {
    const auto parsed = parse_edit_integer(text);
    if (!parsed) return Refusal{control_id, std::string(kNotAnIntegerMessage)};
    if (!in_range(*parsed, low, high)) return Refusal{control_id, range_message(low, high)};
    value = *parsed;
    return std::nullopt;
}

}  // namespace

ChannelAddressForm::ChannelAddressForm(bool digital, const ChannelHwRecord& stored)
    : digital_(digital),
      stored_(stored),
      working_(stored),
      result_(stored),
      element_label_(channel_labels::kElementDefault),
      bit_label_(channel_labels::kBitDefault) {
    if (stored.FileType >= 0 && stored.FileType < kFileTypeCount) file_type_ = stored.FileType;
    working_element_ = is_output_or_input(file_type_) ? stored.SlotNumber : stored.ElementNumber;
    edits_[kStationSlot] = edit_text_of(stored.StationNumber);
    edits_[kFileNumberSlot] = edit_text_of(stored.FileNumber);
    edits_[kElementSlot] = edit_text_of(working_element_);
    edits_[kBitSlot] = edit_text_of(stored.SubElementNumber);
    if (file_type_ != kNoFileType) apply_labels();
    rebuild_address();
}

int ChannelAddressForm::mnemonic_index() const {
    const int m = working_.MnemonicNumber;
    return m >= 0 && static_cast<std::size_t>(m) < mnemonic_names_.size() ? m : -1;
}

const std::string& ChannelAddressForm::edit_text(int control_id) const {
    static const std::string kNone;
    const auto slot = edit_slot(control_id);
    return slot ? edits_[*slot] : kNone;
}

void ChannelAddressForm::set_edit_text(int control_id, std::string_view text) {
    if (const auto slot = edit_slot(control_id)) edits_[*slot].assign(text);
}

void ChannelAddressForm::set_file_type(int t) {
    if (t < 0 || t >= kFileTypeCount) {
        file_type_ = kNoFileType;
        return;
    }
    file_type_ = t;
    // Output, input and status files have fixed numbers, and so does every file below 10.
    if (t == ft::kOutput || t == ft::kInput || t == ft::kStatus || working_.FileNumber <= 9) {
        working_.FileNumber = static_cast<std::int16_t>(t);
    }
    apply_labels();
}

void ChannelAddressForm::apply_labels() {
    namespace label = channel_labels;
    const int t = file_type_;
    const bool bit_like_binary = t == ft::kBinary || ((t == ft::kStatus || t == ft::kWord) && digital_);
    mnemonic_list_shown_ = false;
    if (is_output_or_input(t)) {
        element_label_ = label::kSlot;
        bit_label_ = digital_ ? label::kBit : label::kWord;
        bit_edit_shown_ = true;
        bit_label_shown_ = true;
    } else if (bit_like_binary) {
        element_label_ = label::kElement;
        bit_label_ = label::kBit;
        bit_edit_shown_ = true;
        bit_label_shown_ = true;
    } else if (t == ft::kTimer || t == ft::kCounter || t == ft::kControl) {
        mnemonic_names_ = mnemonics_of(t);
        const int m = working_.MnemonicNumber;
        if (m < -1 || static_cast<std::size_t>(m + 1) > mnemonic_names_.size()) working_.MnemonicNumber = -1;
        element_label_ = label::kElement;
        bit_label_ = label::kMnemonic;
        bit_edit_shown_ = false;
        bit_label_shown_ = true;
        mnemonic_list_shown_ = true;
    } else {  // status and word of an analog channel, integer, float
        element_label_ = label::kElement;
        bit_edit_shown_ = false;
        bit_label_shown_ = false;
    }
}

void ChannelAddressForm::rebuild_address() {
    address_ = format_address({file_type_, digital_, working_.FileNumber, working_element_,
                               working_.SubElementNumber, working_.MnemonicNumber});
}

void ChannelAddressForm::show_working_values() {
    edits_[kFileNumberSlot] = edit_text_of(working_.FileNumber);
    edits_[kElementSlot] = edit_text_of(working_element_);
    edits_[kBitSlot] = edit_text_of(working_.SubElementNumber);
}

void ChannelAddressForm::choose_file_type(int list_index) {
    set_file_type(list_index);
    rebuild_address();
    show_working_values();
}

void ChannelAddressForm::choose_mnemonic(int list_index) {
    const bool listed = list_index >= 0 && static_cast<std::size_t>(list_index) < mnemonic_names_.size();
    working_.MnemonicNumber = static_cast<std::int16_t>(listed ? list_index : -1);
    rebuild_address();
}

void ChannelAddressForm::leave_edit(int control_id) {
    // A value that OK would refuse is not taken into the working copy; the edit keeps it
    // so that OK can name it.
    switch (control_id) {
        case channel_ctl::kElement:
            if (auto v = parse_edit_integer(edits_[kElementSlot]); v && in_range(*v, 0, kElementMax)) {
                working_element_ = static_cast<int>(*v);
            }
            break;
        case channel_ctl::kFileNumber:
            if (auto v = parse_edit_integer(edits_[kFileNumberSlot]); v && in_range(*v, 0, kFileNumberMax)) {
                working_.FileNumber = static_cast<std::int16_t>(*v);
                if (*v <= 9) set_file_type(static_cast<int>(*v));
            }
            break;
        case channel_ctl::kBit:
            if (auto v = parse_edit_integer(edits_[kBitSlot]); v && in_range(*v, -1, kWordMax)) {
                working_.SubElementNumber = static_cast<std::int16_t>(*v);
            }
            break;
        default:  // the station is read only by OK
            return;
    }
    rebuild_address();
}

bool ChannelAddressForm::bit_edit_is_word() const {
    return is_output_or_input(file_type_) && !digital_;
}

std::optional<Refusal> ChannelAddressForm::accept() {
    std::int64_t file_number = 0;
    std::int64_t element = 0;
    std::int64_t station = 0;
    std::int64_t bit = -1;
    if (auto r = read_edit(edits_[kFileNumberSlot], channel_ctl::kFileNumber, 0, kFileNumberMax, file_number))
        return r;
    if (auto r = read_edit(edits_[kElementSlot], channel_ctl::kElement, 0, kElementMax, element)) return r;
    if (auto r = read_edit(edits_[kStationSlot], channel_ctl::kStation, 0, kStationMax, station)) return r;
    if (bit_edit_shown_) {
        const std::int64_t high = bit_edit_is_word() ? kWordMax : kBitMax;
        if (auto r = read_edit(edits_[kBitSlot], channel_ctl::kBit, -1, high, bit)) return r;
    } else {
        // A hidden edit is no input for this type: it carries what it holds when that fits
        // the field, else the working value.
        const auto v = parse_edit_integer(edits_[kBitSlot]);
        bit = v && in_range(*v, INT16_MIN, INT16_MAX) ? *v : working_.SubElementNumber;
    }

    const int t = file_type_;
    const bool fixed_number = t == ft::kOutput || t == ft::kInput || t == ft::kStatus || file_number <= 9;
    if (fixed_number && t != file_number) {
        return Refusal{channel_ctl::kFileType, std::string(kInvalidFileTypeMessage)};
    }

    result_ = working_;
    result_.FileType = static_cast<std::int8_t>(t == kNoFileType ? ft::kUser : t);
    result_.FileNumber = static_cast<std::int16_t>(file_number);
    result_.ElementNumber = static_cast<std::int16_t>(is_output_or_input(t) ? 0 : element);
    result_.SlotNumber = static_cast<std::int16_t>(element);
    result_.SubElementNumber = static_cast<std::int16_t>(bit);
    result_.StationNumber = static_cast<std::uint8_t>(station);
    return std::nullopt;
}

bool ChannelAddressForm::changed() const {
    return std::memcmp(&result_, &stored_, sizeof result_) != 0;
}

bool commit_channel_address(const ChannelAddressForm& form, std::span<std::uint8_t, 16> address_part,
                            int* modified) {
    static_assert(sizeof(ChannelHwRecord) == 16);
    if (std::memcmp(address_part.data(), &form.result(), sizeof(ChannelHwRecord)) == 0) return false;
    std::memcpy(address_part.data(), &form.result(), sizeof(ChannelHwRecord));
    if (modified) *modified = 1;
    return true;
}

}  // namespace tolva::cf
