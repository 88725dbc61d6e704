#pragma once
// Operation defaults shared by the type families and by custom types: plug them into a
// StructsType for the operations a type does not specialise.
#include "tslib/structs_type.h"

// Name of the scratch blocks the library allocates and releases within one call.
inline constexpr const char* kStructsTemporary = "TEMPORARY";

// Fills size bytes with zero.
int structs_zero_init(const StructsType* type, void* data);
// Copies size bytes.
int structs_byte_copy(const StructsType* type, const void* from, void* to);
// 1 when the size bytes are identical.
int structs_byte_equal(const StructsType* type, const void* a, const void* b);
// Does nothing.
void structs_noop_uninit(const StructsType* type, void* data);
// Copy through the text form: ascify under "TEMPORARY", binify into the zeroed destination.
int structs_text_copy(const StructsType* type, const void* from, void* to);

// ENOSYS (the text and decode forms also leave their message).
int structs_unsupported_init(const StructsType* type, void* data);
int structs_unsupported_copy(const StructsType* type, const void* from, void* to);
int structs_unsupported_equal(const StructsType* type, const void* a, const void* b);
char* structs_unsupported_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_unsupported_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                               std::size_t emax);
int structs_unsupported_encode(const StructsType* type, const char* mtype, StructsBuffer* code,
                               const void* data);
ssize_t structs_unsupported_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax,
                                   void* data, char* ebuf, std::size_t emax);

// The instance's bytes in reverse order (most significant first on this little-endian host).
int structs_reversed_encode(const StructsType* type, const char* mtype, StructsBuffer* code,
                            const void* data);
// ERANGE for a size above 16 bytes; "encoded data is truncated" (EINVAL) on short input.
ssize_t structs_reversed_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax,
                                void* data, char* ebuf, std::size_t emax);
// The size bytes as stored.
int structs_plain_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data);
ssize_t structs_plain_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                             char* ebuf, std::size_t emax);
