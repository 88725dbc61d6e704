#pragma once
// Server type "server": a 1,284-byte server string (pipe name, path, tcp or web-service URL).
// The text form of a web-service address with credentials holds its password enciphered
// ("http://user:enc<hex>@host:port/"); the stored form holds it percent-escaped. Lives here
// rather than in the typed-structure library because it needs the server link, the URL
// splitter and the product name.
#include "tslib/structs_generic.h"
#include "tslib/structs_string.h"
#include "tslib/structs_type.h"

inline constexpr std::uint32_t kStructsServerSize = 1284;

char* structs_server_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_server_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                          std::size_t emax);

inline constexpr StructsType structs_type_server = StructsType{
    .size = kStructsServerSize,
    .name = "server",
    .tclass = StructsTypeClass::kPrimitive,
    .init = structs_zero_init,
    .copy = structs_byte_copy,
    .equal = structs_fixedstring_equal,
    .ascify = structs_server_ascify,
    .binify = structs_server_binify,
    .encode = structs_string_encode,
    .decode = structs_string_decode,
    .uninit = structs_noop_uninit,
    .args = {0, 0, 0},
};
