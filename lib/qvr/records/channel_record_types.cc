#include "qvr/records/channel_record_types.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/util/fixed_text.h"
#include "qvr/records/full_width_text_type.h"
#include "tslib/typed_mem.h"

namespace {

using qvr::AnalogChannel;
using qvr::AnalogFlag;
using qvr::ChannelText;
using qvr::DigitalChannel;
using qvr::DigitalFlag;
using qvr::FlagField;

// Flag leaves sit on the flag area itself.
constexpr std::size_t kFlagFieldOffset = qvr::kFlagsOffset;

constexpr const StructsId* words_of(const FlagField& flag) {
    return flag.words.off == qvr::kLowHigh.off ? qvr::kLowHighIds : qvr::kOffOnIds;
}

template <std::size_t N>
constexpr std::array<StructsType, N> flag_types(const std::array<FlagField, N>& flags) {
    std::array<StructsType, N> types{};
    for (std::size_t i = 0; i < N; ++i) {
        // The tables list the flags by word bit, so the index is the word bit.
        if (flags[i].word_bit != i) tslib::detail::bad_description("flag table out of word-bit order");
        types[i] = qvr::bitfield_type(kFlagFieldOffset - qvr::kFlagsOffset, qvr::flag_bit_number(flags[i].word_bit),
                                      words_of(flags[i]));
    }
    return types;
}

constexpr auto kAnalogFlagTypes = flag_types(qvr::kAnalogFlagFields);
constexpr auto kDigitalFlagTypes = flag_types(qvr::kDigitalFlagFields);

constexpr StructsField flag(AnalogFlag f) {
    const auto bit = static_cast<std::size_t>(f);
    return structs_field(qvr::kAnalogFlagFields[bit].name.data(), kAnalogFlagTypes[bit], kFlagFieldOffset);
}
constexpr StructsField flag(DigitalFlag f) {
    const auto bit = static_cast<std::size_t>(f);
    return structs_field(qvr::kDigitalFlagFields[bit].name.data(), kDigitalFlagTypes[bit], kFlagFieldOffset);
}

constexpr StructsType kTagType = qvr::chanconfignstring_type(ChannelText::Tag);
constexpr StructsType kDescriptionType = qvr::chanconfignstring_type(ChannelText::Description);
constexpr StructsType kUnitsType = qvr::chanconfignstring_type(ChannelText::Units);
constexpr StructsType kKindType = structs_id_type(sizeof(qvr::ChannelKind), qvr::kChannelKindIds);
constexpr StructsType kStateTextType = qvr::full_width_text_type(32);
constexpr StructsType kAnalogueType = structs_fixeddata_type(sizeof(AnalogChannel::Analogue));
constexpr StructsType kDigitalType = structs_fixeddata_type(sizeof(DigitalChannel::Digital));

static_assert(sizeof(AnalogChannel::HighAlarmText) == 32 && sizeof(DigitalChannel::AlarmText) == 32);

#define QVR_ANALOG(name, type) structs_field(#name, type, offsetof(AnalogChannel, name))
#define QVR_DIGITAL(name, type) structs_field(#name, type, offsetof(DigitalChannel, name))

}  // namespace

namespace qvr {

constexpr StructsField kAnalogChannelFields[kAnalogChannelFieldCount + 1] = {
    flag(AnalogFlag::Enable),
    structs_field("Tag", kTagType, offsetof(AnalogChannel, Tag)),
    structs_field("Description", kDescriptionType, offsetof(AnalogChannel, Description)),
    QVR_ANALOG(Type, kKindType),
    flag(AnalogFlag::ErrorAlarmEnable),
    flag(AnalogFlag::ErrorAlarmDriveCommon),
    QVR_ANALOG(ErrorAlarmPriority, structs_type_uint8),
    QVR_ANALOG(ErrorAlarmDelay, structs_type_uint16),
    flag(AnalogFlag::EventEnable),
    QVR_ANALOG(LowEventLimit, structs_type_float),
    QVR_ANALOG(HighEventLimit, structs_type_float),
    structs_field("Units", kUnitsType, offsetof(AnalogChannel, Units)),
    QVR_ANALOG(MinimumUnits, structs_type_float),
    QVR_ANALOG(MaximumUnits, structs_type_float),
    flag(AnalogFlag::ReferenceEnable),
    flag(AnalogFlag::SigChangeEnable),
    QVR_ANALOG(SigChangeValue, structs_type_float),
    flag(AnalogFlag::ScalingEnable),
    QVR_ANALOG(Gain, structs_type_float),
    QVR_ANALOG(Offset, structs_type_float),
    flag(AnalogFlag::LowAlarmEnable),
    flag(AnalogFlag::LowAlarmDriveCommon),
    QVR_ANALOG(LowAlarmLimit, structs_type_float),
    flag(AnalogFlag::LowWarningEnable),
    QVR_ANALOG(LowWarningLimit, structs_type_float),
    flag(AnalogFlag::LowAlarmDeadbandEnable),
    QVR_ANALOG(LowAlarmDeadband, structs_type_float),
    QVR_ANALOG(LowAlarmPriority, structs_type_uint8),
    QVR_ANALOG(LowAlarmDelay, structs_type_uint16),
    QVR_ANALOG(LowAlarmText, kStateTextType),
    flag(AnalogFlag::HighAlarmEnable),
    flag(AnalogFlag::HighAlarmDriveCommon),
    QVR_ANALOG(HighAlarmLimit, structs_type_float),
    flag(AnalogFlag::HighWarningEnable),
    QVR_ANALOG(HighWarningLimit, structs_type_float),
    flag(AnalogFlag::HighAlarmDeadbandEnable),
    QVR_ANALOG(HighAlarmDeadband, structs_type_float),
    QVR_ANALOG(HighAlarmPriority, structs_type_uint8),
    QVR_ANALOG(HighAlarmDelay, structs_type_uint16),
    QVR_ANALOG(HighAlarmText, kStateTextType),
    QVR_ANALOG(Analogue, kAnalogueType),
    structs_field_end(),
};

constexpr StructsField kDigitalChannelFields[kDigitalChannelFieldCount + 1] = {
    flag(DigitalFlag::Enable),
    structs_field("Tag", kTagType, offsetof(DigitalChannel, Tag)),
    structs_field("Description", kDescriptionType, offsetof(DigitalChannel, Description)),
    QVR_DIGITAL(Type, kKindType),
    flag(DigitalFlag::ErrorAlarmEnable),
    flag(DigitalFlag::ErrorAlarmDriveCommon),
    QVR_DIGITAL(ErrorAlarmPriority, structs_type_uint8),
    QVR_DIGITAL(ErrorAlarmDelay, structs_type_uint16),
    flag(DigitalFlag::EventEnable),
    flag(DigitalFlag::EventState),
    QVR_DIGITAL(LowStateText, kStateTextType),
    QVR_DIGITAL(HighStateText, kStateTextType),
    flag(DigitalFlag::AlarmEnable),
    flag(DigitalFlag::AlarmState),
    flag(DigitalFlag::AlarmDriveCommon),
    QVR_DIGITAL(AlarmPriority, structs_type_uint8),
    QVR_DIGITAL(AlarmDelay, structs_type_uint16),
    QVR_DIGITAL(AlarmText, kStateTextType),
    QVR_DIGITAL(Digital, kDigitalType),
    structs_field_end(),
};

#undef QVR_ANALOG
#undef QVR_DIGITAL

static_assert(kAnalogChannelFields[kAnalogChannelFieldCount].name == nullptr &&
              kAnalogChannelFields[kAnalogChannelFieldCount - 1].name != nullptr);
static_assert(kDigitalChannelFields[kDigitalChannelFieldCount].name == nullptr &&
              kDigitalChannelFields[kDigitalChannelFieldCount - 1].name != nullptr);

constexpr StructsType AnalogChannelType = structs_struct_type(kChannelRecordSize, kAnalogChannelFields);
constexpr StructsType DigitalChannelType = structs_struct_type(kChannelRecordSize, kDigitalChannelFields);

const StructsType& channel_record_type(ChannelKind kind) {
    return is_digital(kind) ? DigitalChannelType : AnalogChannelType;
}

}  // namespace qvr

namespace {

char* dup_text(const char* mtype, std::string_view text) {
    const std::string copy(text);
    return typed_mem_dup_string(mtype, copy.c_str());
}

int invalid_value(const char* text, char* ebuf, std::size_t emax) {
    structs_write_error(ebuf, emax, "invalid value \"%s\"", text);
    return platform::fail(EINVAL);
}

// The leaf's place minus the type's distance is the flag area.
struct FlagPlace {
    std::uint8_t* area;
    unsigned bit_number;
    const StructsId* words;
};

std::optional<FlagPlace> flag_place(const StructsType* type, const void* data) {
    const std::intptr_t bit = type->args[1].i;
    if (data == nullptr || bit < 0 || bit >= static_cast<std::intptr_t>(8 * sizeof(qvr::ChannelFlags))) {
        return std::nullopt;
    }
    auto* field = static_cast<std::uint8_t*>(const_cast<void*>(data));
    return FlagPlace{field - type->args[0].i, static_cast<unsigned>(bit),
                     static_cast<const StructsId*>(type->args[2].v)};
}

// The leaf's place minus its first part's offset is the record. The record is copied out
// and back so that a record at any alignment can be used.
struct TextPlace {
    std::uint8_t* record;
    ChannelText which;
};

std::optional<TextPlace> text_place(const StructsType* type, const void* data) {
    if (data == nullptr || type->args[0].i < 0) return std::nullopt;
    const auto offset = static_cast<std::size_t>(type->args[0].i);
    const auto which = qvr::text_at_primary_offset(offset);
    if (!which) return std::nullopt;
    return TextPlace{static_cast<std::uint8_t*>(const_cast<void*>(data)) - offset, *which};
}

std::size_t primary_part_size(ChannelText which) {
    switch (which) {
        case ChannelText::Tag:
            return sizeof(qvr::ChannelHead::Tag);
        case ChannelText::Description:
            return sizeof(qvr::ChannelHead::Description);
        case ChannelText::Units:
            return sizeof(AnalogChannel::Units);
    }
    return 0;
}

}  // namespace

namespace qvr::detail {

// Storage given to init may be a bare instance, so only the leaf's own bytes are written:
// an empty first part is an empty text.
int record_leaf_init(const StructsType* type, void* data) {
    const auto offset = static_cast<std::size_t>(type->args[0].i);
    const auto which = text_at_primary_offset(offset);
    const std::size_t n = which ? std::min<std::size_t>(primary_part_size(*which), type->size) : type->size;
    std::memset(data, 0, n);
    return 0;
}

}  // namespace qvr::detail

char* chanrec_FlagToText(const StructsType* type, const char* mtype, const void* data) {
    const auto place = flag_place(type, data);
    if (!place) return dup_text(mtype, "INVALID");
    qvr::ChannelFlags flags;
    std::memcpy(&flags, place->area, sizeof flags);
    const int value = flags.test(place->bit_number) ? 1 : 0;
    for (const StructsId* e = place->words; e != nullptr && e->id != nullptr; ++e) {
        if (e->value == value) return dup_text(mtype, e->id);
    }
    return dup_text(mtype, "INVALID");
}

int chanrec_FlagFromText(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    if (text == nullptr) text = "";
    const auto place = flag_place(type, data);
    if (!place) return invalid_value(text, ebuf, emax);
    for (const StructsId* e = place->words; e != nullptr && e->id != nullptr; ++e) {
        const bool match =
            e->imode != 0 ? platform::equal_ignoring_case(text, e->id) : std::strcmp(text, e->id) == 0;
        if (!match) continue;
        qvr::ChannelFlags flags;
        std::memcpy(&flags, place->area, sizeof flags);
        flags.set(place->bit_number, e->value != 0);
        std::memcpy(place->area, &flags, sizeof flags);
        return 0;
    }
    return invalid_value(text, ebuf, emax);
}

char* chanrec_TextFieldToText(const StructsType* type, const char* mtype, const void* data) {
    const auto place = text_place(type, data);
    if (!place) return dup_text(mtype, "INVALID");
    qvr::ChannelRecord record;
    std::memcpy(record.bytes, place->record, sizeof record.bytes);
    const std::string text = qvr::join_text(record, place->which);
    return dup_text(mtype, std::string_view(text).substr(0, type->size));
}

int chanrec_TextFieldFromText(const StructsType* type, const char* text, void* data, char* ebuf,
                              std::size_t emax) {
    if (text == nullptr) text = "";
    const auto place = text_place(type, data);
    if (!place) return invalid_value(text, ebuf, emax);
    qvr::ChannelRecord record;
    std::memcpy(record.bytes, place->record, sizeof record.bytes);
    qvr::split_text(record, place->which, text);
    std::memcpy(place->record, record.bytes, sizeof record.bytes);
    return 0;
}
