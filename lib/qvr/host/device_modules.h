#pragma once
// A device kind's or processor's modules, found by their two-letter module code XX: "dm_XX"
// (data), "dm_XX_conf" (configuration) and "dm_XX_event" (event bitmaps); layouts in
// qvr/host/device_module_layout.h. The module index space is the ProcessRecords in table order,
// then six indexes per DeviceRecord (its five KindCodes and its statistics code). Opened
// modules are cached per index; every hit is checked against the code asked for, so a
// record another process moved or a table that grew never hands back the wrong module.
#include <cstdint>

#include "qvr/records/channel_record.h"
#include "qvr/host/device_module_layout.h"

// The module index of `code` (two characters, any case), opening "dm_XX" into the cache on
// first use. -1 when the code is empty or in no table, when the module cannot be opened, or
// when the cache cannot be allocated (8).
int shm_FindDeviceIndex(const char* code);

// The modules of `code`, cached by index (a code with no index is opened on every call).
// Null when they cannot be opened.
void* shm_OpenDeviceData(const char* code);
void* shm_OpenDeviceConf(const char* code);
void* shm_OpenDeviceEvent(const char* code);

// Byte 128 (the data area) and byte 148 (the status words) of "dm_XX", or null.
void* shm_DataArea(const char* code);
uint32_t* shm_StatusWords(const char* code);
// The first ChannelRecord of the configuration module that belongs to the data module
// `data_module` (a section from shm_OpenDeviceData), or null.
qvr::ChannelRecord* shm_ConfRecords(void* data_module);

// Owner of a module: the ProcPid of its processor or the ProcessId of its device; 0 when
// the code has no table entry, -1 when the module cannot be opened.
int64_t shm_ModuleOwnerPid(const char* code);
// ProcText of the processor or DeviceName of the device (per-thread buffer); "" when the
// code has no table entry; null when the module cannot be opened.
const char* shm_ModuleText(const char* code);
// 1 when writers do alarm and event processing themselves, 0 or 2 and more when the owner
// does; -1 when the module cannot be opened or the code has no table entry.
int shm_ModuleProcessing(const char* code);
// The processor's HasValueRecords byte, 0 for device modules and codes in no table, -1 when
// the module cannot be opened.
int shm_ModuleHasValueRecords(const char* code);
