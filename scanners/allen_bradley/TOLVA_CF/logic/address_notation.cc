#include "TOLVA_CF/logic/address_notation.h"

#include "TOLVA_CF/logic/edit_numbers.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

namespace ft = tolva::file_type;

std::string_view file_type_list_name(int file_type) {
    if (file_type < 0 || file_type >= kFileTypeCount) return {};
    // The records' name table lists the ten types first, in type order.
    return kFileTypeNames[static_cast<std::size_t>(file_type)].name;
}

std::span<const std::string_view> mnemonics_of(int file_type) {
    switch (file_type) {
        case ft::kTimer:
            return kTimerMnemonics;
        case ft::kCounter:
            return kCounterMnemonics;
        case ft::kControl:
            return kControlMnemonics;
        default:
            return {};
    }
}

std::string format_address(const AddressParts& parts) {
    const int t = parts.file_type;
    if (t < 0 || t >= kFileTypeCount) return {};
    std::string text = "$";
    text += kFileTypeLetters[static_cast<std::size_t>(t)];
    text += edit_text_of(parts.file_number);
    text += ':';
    text += edit_text_of(parts.element);

    const bool has_sub_element = parts.sub_element >= 0;
    switch (t) {
        case ft::kOutput:
        case ft::kInput:
            if (has_sub_element) text += (parts.digital ? "/" : ".") + edit_text_of(parts.sub_element);
            break;
        case ft::kStatus:
        case ft::kWord:
            if (parts.digital && has_sub_element) text += "/" + edit_text_of(parts.sub_element);
            break;
        case ft::kBinary:
            if (has_sub_element) text += "/" + edit_text_of(parts.sub_element);
            break;
        case ft::kTimer:
        case ft::kCounter:
        case ft::kControl: {
            const auto names = mnemonics_of(t);
            if (parts.mnemonic >= 0 && static_cast<std::size_t>(parts.mnemonic) < names.size()) {
                text += '.';
                text += names[static_cast<std::size_t>(parts.mnemonic)];
            }
            break;
        }
        default:  // integer and float files: the element is the whole address
            break;
    }
    return text;
}

}  // namespace tolva::cf
