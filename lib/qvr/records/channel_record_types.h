#pragma once
// Typed descriptions of the two channel record layouts, through which a record is turned
// into text and back element by element (channel table files, audit trail, printouts). The
// field order of each description is the element order of the files.
//
// The flags and the split texts do not sit in fields of their own: a "bitfield" leaf (no
// bytes of its own) finds the flag area from its field address, a "chanconfignstring" leaf
// finds the whole record from its field address and overlays the fields around its first
// part. So the descriptions are meaningful for the text operations on a whole 216-byte
// record, in place, and nothing else: records are copied and compared as their 216 bytes.
// The copy, comparison and binary forms of those two leaf types fail with ENOSYS rather
// than give a wrong result, and their default value empties only the leaf's own bytes.
// The description is the layout: its leaves use their places whatever the record's kind
// byte says, so pick it with channel_record_type(kind).
#include <cstddef>
#include <cstdint>
#include <span>

#include "qvr/records/channel_record.h"
#include "tslib/structs.h"

// The text methods of the two record-bound leaf types. Failures write "invalid value \"%s\""
// into the caller's error buffer and set EINVAL.
char* chanrec_FlagToText(const StructsType* type, const char* mtype, const void* data);
int chanrec_FlagFromText(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);
char* chanrec_TextFieldToText(const StructsType* type, const char* mtype, const void* data);
int chanrec_TextFieldFromText(const StructsType* type, const char* text, void* data, char* ebuf,
                              std::size_t emax);

namespace qvr {

inline constexpr std::size_t kFlagsOffset = offsetof(ChannelHead, Flags);

// Word lists of the flags: value 0 first. Compared exactly.
inline constexpr StructsId kOffOnIds[] = {{"Off", 0, 0}, {"On", 1, 0}, {nullptr, 0, 0}};
inline constexpr StructsId kLowHighIds[] = {{"Low", 0, 0}, {"High", 1, 0}, {nullptr, 0, 0}};

inline constexpr StructsId kChannelKindIds[] = {
    {"AI", static_cast<std::int32_t>(ChannelKind::AI), 0},
    {"DI", static_cast<std::int32_t>(ChannelKind::DI), 0},
    {"AO", static_cast<std::int32_t>(ChannelKind::AO), 0},
    {"DO", static_cast<std::int32_t>(ChannelKind::DO), 0},
    {"CI", static_cast<std::int32_t>(ChannelKind::CI), 0},
    {nullptr, 0, 0},
};

namespace detail {
int record_leaf_init(const StructsType* type, void* data);
}  // namespace detail

// Flag bit `bit_number` (0-31, the record's own numbering) of the flag area found at the
// field's address minus `distance`, shown by the word list.
constexpr StructsType bitfield_type(std::size_t distance, unsigned bit_number, const StructsId* words) {
    if (bit_number >= 8 * sizeof(ChannelFlags)) tslib::detail::bad_description("flag bit beyond the flag area");
    return StructsType{
        .size = 0,
        .name = "bitfield",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_unsupported_copy,
        .equal = structs_unsupported_equal,
        .ascify = chanrec_FlagToText,
        .binify = chanrec_FlagFromText,
        .encode = structs_unsupported_encode,
        .decode = structs_unsupported_decode,
        .uninit = structs_noop_uninit,
        .args = {static_cast<std::intptr_t>(distance), bit_number, static_cast<const void*>(words)},
    };
}

// One of the split texts: as wide as the text's maximum, placed at its first part, whose
// offset in the record is the argument.
constexpr StructsType chanconfignstring_type(ChannelText which) {
    const std::uint32_t size = which == ChannelText::Tag           ? kTagMax
                               : which == ChannelText::Description ? kDescriptionMax
                                                                   : kUnitsMax;
    const std::size_t offset = which == ChannelText::Tag           ? offsetof(ChannelHead, Tag)
                               : which == ChannelText::Description ? offsetof(ChannelHead, Description)
                                                                   : offsetof(AnalogChannel, Units);
    return StructsType{
        .size = size,
        .name = "chanconfignstring",
        .tclass = StructsTypeClass::kPrimitive,
        .init = detail::record_leaf_init,
        .copy = structs_unsupported_copy,
        .equal = structs_unsupported_equal,
        .ascify = chanrec_TextFieldToText,
        .binify = chanrec_TextFieldFromText,
        .encode = structs_unsupported_encode,
        .decode = structs_unsupported_decode,
        .uninit = structs_noop_uninit,
        .args = {static_cast<std::intptr_t>(offset), 0, 0},
    };
}

inline constexpr std::size_t kAnalogChannelFieldCount = 41;
inline constexpr std::size_t kDigitalChannelFieldCount = 19;

// The field lists (with their end entries) and the descriptions of the two layouts. The
// hardware part is the last field, plain bytes; a device type's own description of it may
// replace that field's type in a copy of the list.
extern const StructsField kAnalogChannelFields[kAnalogChannelFieldCount + 1];
extern const StructsField kDigitalChannelFields[kDigitalChannelFieldCount + 1];
extern const StructsType AnalogChannelType;
extern const StructsType DigitalChannelType;

// The description of the layout a record of this kind uses (bit 0 of the kind).
const StructsType& channel_record_type(ChannelKind kind);

}  // namespace qvr
