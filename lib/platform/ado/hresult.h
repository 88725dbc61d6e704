#pragma once
// The result codes the data-access layer raises, with the numbers callers compare against.
#include <cstdint>

namespace ado {

using HRESULT = int32_t;

inline constexpr HRESULT hr(uint32_t code) { return static_cast<HRESULT>(code); }

inline constexpr HRESULT kFail = hr(0x80004005);               // unspecified error
inline constexpr HRESULT kPointer = hr(0x80004003);            // missing object
inline constexpr HRESULT kOutOfMemory = hr(0x8007000E);
inline constexpr HRESULT kInvalidArg = hr(0x80070057);
inline constexpr HRESULT kTypeMismatch = hr(0x80020005);       // a value of the wrong type
inline constexpr HRESULT kSyntax = hr(0x80040E14);             // the provider refused the statement
inline constexpr HRESULT kNoSuchTable = hr(0x80040E37);
inline constexpr HRESULT kTooLong = hr(0x80040E57);
inline constexpr HRESULT kConstraint = hr(0x80040E2F);
inline constexpr HRESULT kConversion = hr(0x80040E07);
inline constexpr HRESULT kRowNotLocated = hr(0x80040E38);      // row cannot be located for updating
inline constexpr HRESULT kNotSupported = hr(0x800A0CB3);       // operation not supported by the provider
inline constexpr HRESULT kBofOrEof = hr(0x800A0BCD);           // no current record
inline constexpr HRESULT kItemNotFound = hr(0x800A0CC1);       // no field of that name or index
inline constexpr HRESULT kObjectClosed = hr(0x800A0E78);       // operation on a closed object
inline constexpr HRESULT kProviderNotAvailable = hr(0x800A0E7A);

}  // namespace ado
