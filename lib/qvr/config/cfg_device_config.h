#pragma once
// A device's own settings in its configuration folder D:
//   "config"      byte 0 AutoEnable, then the device configuration record from byte 1
//   "saveconfig"  SaveOutputs (u8), SaveByTag (u8), SaveRate (i32, little-endian)
//   extra file    the device type's extra record at the offset its plug-in gives
//   "config.xml"  the same settings as XML, for device types whose plug-in does XML
// Which form is read and written follows the registry switches below. Saves rewrite each
// file whole (temporary file, sync, rename) and hold the folder's save lock, so a crash or
// a concurrent save never leaves a torn file. Results are 0 / -1 with the reason in errno:
// the system error of a file (ENOENT, EACCES ...), 1465 for an XML failure (whose text went
// to the message sink), 0 for an invalid argument, 1460 when the folder stayed locked.
// Output pointers may be null: that part is then neither read nor required.
#include <cstdint>

// ---- Switches (product key of the machine hive) ----
// "WriteXML": 0 binary only ("BIN", any other text), 1 binary and XML ("BOTH"), 2 XML only
// ("XML"). Absent: 2 for the Rimvale edition, else 0.
int cfg_GetWriteXmlMode(const char* path);
// "ReadXML": 1 "ON", 0 "OFF"; absent or any other text: 1 for the Rimvale edition, else 0.
int cfg_IsReadXmlOn(const char* path);
// "ExcelCompatibleXSD" (DWORD), 1 when absent.
int cfg_GetExcelCompatibleXsd(const char* path);
// 1 unless the path names a folder "CURRENT_CONFIG" (any case); 0 for null. That folder's
// own settings are never kept as XML.
int cfg_IsNotCurrentConfigDir(const char* path);
// `path` in the three readers is the folder asked about: one on another machine
// ("\\machine\...") is out of reach and gets the defaults.

// ---- Loading and saving ----
int cfg_LoadDeviceConfig(const char* dir, void* record, int32_t size, void* extra, int32_t extra_size,
                         const char* extra_file, uint8_t* auto_enable, uint8_t* save_outputs,
                         uint8_t* save_by_tag, int32_t* save_rate);
// `user` (null or empty: the logged-on user) goes to the audit trail.
int cfg_SaveDeviceConfig(const char* user, const char* dir, const void* record, int32_t size,
                         const void* extra, int32_t extra_size, const char* extra_file,
                         const uint8_t* auto_enable, const uint8_t* save_outputs, const uint8_t* save_by_tag,
                         const int32_t* save_rate);
// Writes "config.xml" (updating an existing file in place) and, with a record, the schema.
int cfg_WriteConfigXml(const char* user, const char* dir, const void* record, int32_t size, const void* extra,
                       int32_t extra_size, const uint8_t* auto_enable, const uint8_t* save_outputs,
                       const uint8_t* save_by_tag, const int32_t* save_rate);

int cfg_LoadDeviceConfigAndExtra(const char* dir, void* record, int32_t size, void* extra, int32_t extra_size,
                                 const char* extra_file);
int cfg_SaveDeviceConfigAndExtra(const char* user, const char* dir, const void* record, int32_t size,
                                 const void* extra, int32_t extra_size, const char* extra_file);

// The same on the current folder (read once per call; no user name).
int cfg_LoadDeviceConfigFromCwd(void* record, int32_t size);
int cfg_LoadAutosaveSettingsFromCwd(uint8_t* save_outputs, uint8_t* save_by_tag, int32_t* save_rate);
int cfg_LoadAutoEnableFromCwd(uint8_t* auto_enable);
int cfg_SaveDeviceConfigFromCwd(const void* record, int32_t size);
int cfg_SaveAutosaveSettingsInCwd(uint8_t save_outputs, uint8_t save_by_tag, int32_t save_rate);
int cfg_SaveAutoEnableInCwd(uint8_t auto_enable);
