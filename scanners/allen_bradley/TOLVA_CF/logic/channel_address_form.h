#pragma once
// What the controller-address dialog shows and does, without any widget: a working copy of
// the channel's 16-byte address, the texts of the four edits, the labels and visibility
// that follow the file type, the address preview, and the checks and result of OK. The Qt
// dialog mirrors this state into its widgets after every event.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "TOLVA_CF/logic/control_ids.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

class ChannelAddressForm {
  public:
    // The working file type when none is chosen.
    static constexpr int kNoFileType = 255;

    ChannelAddressForm(bool digital, const ChannelHwRecord& stored);

    bool digital() const { return digital_; }
    // 0-9, or kNoFileType.
    int file_type() const { return file_type_; }
    // Selection of the file type list: 0-9, or -1.
    int file_type_index() const { return file_type_ == kNoFileType ? -1 : file_type_; }
    // Contents and selection (-1 none) of the mnemonic list.
    std::span<const std::string_view> mnemonic_names() const { return mnemonic_names_; }
    int mnemonic_index() const;

    std::string_view element_label() const { return element_label_; }
    std::string_view bit_label() const { return bit_label_; }
    bool bit_edit_shown() const { return bit_edit_shown_; }
    bool bit_label_shown() const { return bit_label_shown_; }
    bool mnemonic_list_shown() const { return mnemonic_list_shown_; }
    const std::string& address() const { return address_; }

    // Texts of the edits kStation, kFileNumber, kElement and kBit; "" for other ids.
    const std::string& edit_text(int control_id) const;
    // The user typed into an edit; nothing is applied until it is left.
    void set_edit_text(int control_id, std::string_view text);

    // Events. A list index outside the list chooses no type.
    void choose_file_type(int list_index);
    void choose_mnemonic(int list_index);
    void leave_edit(int control_id);

    // OK: checks every edit and the file type against the file number. On success the new
    // address is result() and the result is none.
    std::optional<Refusal> accept();
    const ChannelHwRecord& result() const { return result_; }
    // After a successful accept(): whether the 16 bytes differ from the stored ones.
    bool changed() const;

    // The working copy as edited so far (file type, file number, element, bit, mnemonic).
    const ChannelHwRecord& working() const { return working_; }
    int working_element() const { return working_element_; }

  private:
    void set_file_type(int file_type);
    void apply_labels();
    void rebuild_address();
    void show_working_values();
    // The range of the bit edit for the current file type and layout.
    bool bit_edit_is_word() const;

    bool digital_;
    ChannelHwRecord stored_;
    ChannelHwRecord working_;
    ChannelHwRecord result_;
    int file_type_ = kNoFileType;
    int working_element_ = 0;  // slot for output and input addresses
    std::span<const std::string_view> mnemonic_names_;

    std::string_view element_label_;
    std::string_view bit_label_;
    bool bit_edit_shown_ = true;
    bool bit_label_shown_ = true;
    bool mnemonic_list_shown_ = false;
    std::string address_;

    std::array<std::string, 4> edits_;  // station, file number, element, bit
};

// Writes an accepted address into the record's address part (at 188, or 192 for a digital
// layout) and sets *modified to 1, only when the bytes differ. Returns whether it wrote.
bool commit_channel_address(const ChannelAddressForm& form, std::span<std::uint8_t, 16> address_part,
                            int* modified);

// Label texts, as the dialog shows them.
namespace channel_labels {
inline constexpr std::string_view kElementDefault = "Element Number : ";
inline constexpr std::string_view kElement = "Element Number :";
inline constexpr std::string_view kSlot = "Slot Number :";
inline constexpr std::string_view kBitDefault = "Bit Number :";
inline constexpr std::string_view kBit = "Bit Number";
inline constexpr std::string_view kWord = "Word Number";
inline constexpr std::string_view kMnemonic = "Mnemonic :";
}  // namespace channel_labels

inline constexpr std::string_view kInvalidFileTypeMessage = "File Type is Invalid for Specified File Number";

}  // namespace tolva::cf
