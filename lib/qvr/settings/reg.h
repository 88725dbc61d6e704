#pragma once
// Product settings: the single access path to the product's registry values, with the
// product-key substitution (an edition's own key is tried first) and the hive switch, and
// the cached edition names. Results are the registry's codes (0, 2, 5, 234 ...).
#include <cstdint>

#include "platform/registry_key.h"

inline constexpr const char* kMakerKey = "SOFTWARE\\Brevantic";
inline constexpr const char* kProductKey = "SOFTWARE\\Brevantic\\Quorvane";

// Registry value types, with the registry's numbers.
inline constexpr uint32_t kRegSz = platform::kRegSz;
inline constexpr uint32_t kRegDword = platform::kRegDword;
inline constexpr uint32_t kRegBinary = platform::kRegBinary;

// Reads (`access` with the query bit: RegQueryValueEx rules for `type` and `size`) or
// writes (any other access: creates the key and writes `*size` bytes of `data` as `*type`)
// one value. A path ending in "Quorvane" is first tried (read) or only used (write) with the
// configured product name in its place. The machine hive means the user hive while the
// hive switch is on.
int reg_AccessProductValue(platform::RegistryHive hive, const char* key_path, uint32_t access,
                           const char* value_name, uint32_t* type, void* data, uint32_t* size);
// Deletes a value, with the same substitution and hive switch.
int reg_DeleteProductValue(platform::RegistryHive hive, const char* key_path, const char* value_name);

void reg_UseUserRegistry();
void reg_UseMachineRegistry();
int reg_IsUserRegistry();

// 1 when the key kMakerKey\<name> exists in the machine hive, else 0. Creates nothing.
int reg_ProductKeyExists(const char* name);

// The installed edition ("Quorvane" by default, "Lagoonet" on controller platforms), read
// once per process; at most 31 characters.
const char* reg_GetProductName();
const char* reg_GetReplicationProductName();
// The edition variant (at most 15 characters) or null, in a per-thread buffer that stays as
// it is until the thread's next call.
const char* reg_GetVariant();
// Presets the variant (cut to 15 characters). Returns the pointer just past text's zero.
const char* reg_SetVariant(const char* text);

// The key length the password cipher writes with: 40 when the product value "CipherKeyBits"
// (REG_DWORD) is 40, else 128 (a site whose stored values prove to be 40-bit sets it). Read
// once per process; the cipher asks it on every operation.
unsigned reg_GetCipherKeyBits();

// Always the NT family (2); the major version of the system.
unsigned sys_GetOsMajorVersion();
int sys_GetOsPlatformId();

// Field-size settings "DescSize" (max 32), "TagSize" (max 15), "UnitsSize" (max 8): the user
// hive first, then the machine hive; missing, zero, too large or not a DWORD gives the max.
int chanrec_GetDescSize();
int chanrec_GetTagSize();
int chanrec_GetUnitsSize();
