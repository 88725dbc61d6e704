#pragma once
// A nested description for the fuzz targets: a structure holding a variable array of
// structures with a string, data and a fixed array, beside data, integers and a union.
#include <cstddef>
#include <cstdint>

#include "tslib/structs.h"

namespace structs_fuzz {

struct Leaf {
    char* Name;
    StructsBuffer Blob;
    std::uint16_t Codes[3];
    char Tag[6];
    double Gain;
    std::int8_t Level;
};

inline constexpr StructsType kCodes = structs_fixedarray_type(structs_type_hint16, "code", 3);
inline constexpr StructsType kTag = structs_fixedstring_type(6);
inline constexpr StructsField kLeafFields[] = {
    structs_field("Name", structs_type_string, offsetof(Leaf, Name)),
    structs_field("Blob", structs_type_data, offsetof(Leaf, Blob)),
    structs_field("Codes", kCodes, offsetof(Leaf, Codes)),
    structs_field("Tag", kTag, offsetof(Leaf, Tag)),
    structs_field("Gain", structs_type_double, offsetof(Leaf, Gain)),
    structs_field("Level", structs_type_int8, offsetof(Leaf, Level)),
    structs_field_end(),
};
inline constexpr StructsType kLeaf = structs_struct_type(sizeof(Leaf), kLeafFields);
inline constexpr StructsType kLeaves = structs_array_type(&kLeaf, "fuzz_leaves", "leaf");

inline constexpr StructsId kKinds[] = {{"AI", 0, 0}, {"AO", 1, 1}, {"DI", 2, 0}, {nullptr, 0, 0}};
inline constexpr StructsType kKind = structs_id_type(1, kKinds);

struct BodyRec {
    std::uint32_t Rate;
    StructsArray Leaves;
    StructsBuffer Raw;
    std::uint8_t Flag;
    std::uint64_t Big;
    std::uint8_t Kind;
    float Scale;
    char* Note;
};

inline constexpr StructsField kBodyFields[] = {
    structs_field("Rate", structs_type_uint32, offsetof(BodyRec, Rate)),
    structs_field("Leaves", kLeaves, offsetof(BodyRec, Leaves)),
    structs_field("Raw", structs_type_hexdata, offsetof(BodyRec, Raw)),
    structs_field("Flag", structs_type_boolean_char_01, offsetof(BodyRec, Flag)),
    structs_field("Big", structs_type_uint64, offsetof(BodyRec, Big)),
    structs_field("Kind", kKind, offsetof(BodyRec, Kind)),
    structs_field("Scale", structs_type_float, offsetof(BodyRec, Scale)),
    structs_field("Note", structs_type_string_null, offsetof(BodyRec, Note)),
    structs_field_end(),
};
inline constexpr StructsType kBody = structs_struct_type(sizeof(BodyRec), kBodyFields);

inline constexpr StructsField kChoiceMembers[] = {
    structs_field("Number", structs_type_hint64, 0),
    structs_field("Leaf", kLeaf, 0),
    structs_field_end(),
};
inline constexpr StructsType kChoice = structs_union_type(kChoiceMembers, "fuzz_union");

struct Top {
    BodyRec body;
    StructsUnion Choice;
};

inline constexpr StructsField kTopFields[] = {
    structs_field("Body", kBody, offsetof(Top, body)),
    structs_field("Choice", kChoice, offsetof(Top, Choice)),
    structs_field_end(),
};
inline constexpr StructsType kTop = structs_struct_type(sizeof(Top), kTopFields);

}  // namespace structs_fuzz
