#pragma once
// Registry writes on platforms whose system disk sits behind a write filter (embedded
// controller platforms, recognised by their controller SDK library): the filter is
// committed and disabled before the first write since the machine started, and enabled
// again afterwards, so the write survives a restart.
#include <cstdint>

#include "platform/registry_key.h"

// Creates (or opens) the key; the result is the registry's, or the last error when the
// write filter could not be opened or closed.
int reg_CreateKeyFiltered(platform::RegistryHive hive, const char* path, uint32_t access,
                          platform::RegistryKey* key, bool* created = nullptr);
int reg_SetValueFiltered(platform::RegistryKey* key, const char* name, uint32_t type, const void* data,
                         uint32_t size);
int reg_DeleteValueFiltered(platform::RegistryKey* key, const char* name);

// 1, or 0 when the filter manager could not be started.
int wf_BeginWrite();
int wf_EndWrite();

// The controller SDK library, loaded once per process from the path in
// QUORVANE_CONTROLLER_SDK (no such library on this platform otherwise): its handle or null.
void* sdk_Probe();
// Unloads it: 1, or the unload result.
int sdk_Release();
