#pragma once
// A device's configuration and the logger configurations in the current configuration of a
// server. This machine and pipe servers are served directly by the configuration files
// (qvr/config, qvr/logger_config) in the server's folder, which keeps its "\\machine\..."
// form; every other server gets one request carrying the whole transfer and, when that fails
// for any reason but error 1465, the files piece by piece by remote file requests.
//
// Every operation takes the server string first and returns 0, or -1 with the reason in
// errno and the thread's last error. `device` names the device folder below the
// configuration folder; `user` (null or empty: the login name) goes to the audit trail.
// Output and setting pointers may be null: that part is then neither read nor written.
#include <cstdint>

#include "qvr/records/channel_record.h"

// ---- Channels ----
// Channels first .. first + count - 1 (0-based) of channel kind `kind`, and the plug-in's
// extra data (`extra_size` bytes of the file `extra_name`) when `extra` is given.
int cfg_ReadChannelsAndExtra(const char* server, const char* device, int kind, qvr::ChannelRecord* records,
                             int first, int count, void* extra, int32_t extra_size, const char* extra_name);
int cfg_ReadChannels(const char* server, const char* device, int kind, qvr::ChannelRecord* records, int first,
                     int count);

// `mode` 1: an existing table is updated in place; 0: it is written anew.
int cfg_WriteChannelsAndExtra(const char* server, const char* user, const char* device, int kind,
                              const qvr::ChannelRecord* records, int first, int count, const void* extra,
                              int32_t extra_size, const char* extra_name, int mode);
int cfg_WriteChannels(const char* server, const char* user, const char* device, int kind,
                      const qvr::ChannelRecord* records, int first, int count);
int cfg_WriteChannelsRewrite(const char* server, const char* user, const char* device, int kind,
                             const qvr::ChannelRecord* records, int first, int count, const void* extra,
                             int32_t extra_size, const char* extra_name);

// ---- Device settings ----
// The device configuration record ("config" from byte 1), the extra data, AutoEnable
// ("config" byte 0) and the autosave settings ("saveconfig").
int cfg_ReadDeviceSettings(const char* server, const char* device, void* config, int32_t config_size,
                           void* extra, int32_t extra_size, const char* extra_name, uint8_t* auto_enable,
                           uint8_t* save_outputs, uint8_t* save_by_tag, int32_t* save_rate);
int cfg_ReadDeviceConfig(const char* server, const char* device, void* config, int32_t config_size);
int cfg_ReadDeviceConfigAndExtra(const char* server, const char* device, void* config, int32_t config_size,
                                 void* extra, int32_t extra_size, const char* extra_name);
int cfg_ReadAutoEnable(const char* server, const char* device, uint8_t* auto_enable);
int cfg_ReadAutosaveSettings(const char* server, const char* device, uint8_t* save_outputs,
                             uint8_t* save_by_tag, int32_t* save_rate);

int cfg_WriteDeviceSettings(const char* server, const char* user, const char* device, const void* config,
                            int32_t config_size, const void* extra, int32_t extra_size,
                            const char* extra_name, const uint8_t* auto_enable, const uint8_t* save_outputs,
                            const uint8_t* save_by_tag, const int32_t* save_rate);
int cfg_WriteDeviceConfig(const char* server, const char* user, const char* device, const void* config,
                          int32_t config_size);
int cfg_WriteDeviceConfigAndExtra(const char* server, const char* user, const char* device,
                                  const void* config, int32_t config_size, const void* extra,
                                  int32_t extra_size, const char* extra_name);
int cfg_WriteAutoEnable(const char* server, const char* user, const char* device, uint8_t auto_enable);
int cfg_WriteAutosaveSettings(const char* server, const char* user, const char* device, uint8_t save_outputs,
                              uint8_t save_by_tag, int32_t save_rate);

// ---- Logger configurations ----
// Logger `number` of kind `kind` ("%s_%d" in LOGGERS of the configuration folder).
int cfg_ReadLoggerConfig(const char* server, const char* kind, int number, void* record, int32_t size);
int cfg_WriteLoggerConfig(const char* server, const char* kind, int number, const void* record, int32_t size,
                          const char* user);

// ---- Files ----
// Copies the local file `source` to the server file "QVR_CURRENT_CONFIG\<folder>\<name>"
// (`folder` null or empty: directly in the configuration folder), replacing its content.
int cfg_PushRemoteFile(const char* server, const char* folder, const char* name, const char* source);
