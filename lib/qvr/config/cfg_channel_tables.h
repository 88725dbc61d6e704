#pragma once
// A device's channel tables, one per channel kind, in its configuration folder D:
//   "<kind word>"      8-byte TimeStamp of the last write, then channel i's 216-byte record
//                      at 8 + 216 * i (channel number i + 1)
//   "<kind word>.xml"  the same channels as XML (device types whose plug-in does XML)
//   extra file         the plug-in's per-channel extra data back to back from offset 0
// Kind words by kind: "ai", "di", "ao", "do", "ci", "dc", "dc". Which form is read and
// written follows the switches of qvr/config/cfg_device_config.h. Saves rewrite each file whole
// (temporary file, sync, rename; records outside the saved range are kept) under the
// folder's save lock. Results are 0 / -1 with the reason in errno: the system error of a
// file, 38 when the table holds fewer channels than asked, 1465 for an XML failure or a
// channel that fails validation (text to the message sink), 0 for an invalid argument,
// 1460 when the folder stayed locked.
#include <cstdint>

#include "qvr/records/channel_record.h"
#include "qvr/ext/ex_interface.h"

// The kind word ("" for a kind outside 0..6).
const char* cfg_ChannelKindName(int kind);

// Channels first .. first + count - 1 (0-based) of the kind, with the plug-in's extra data
// into `extra` when it is given (the extra file by its name in binary form).
int cfg_LoadChannels(const char* dir, int kind, qvr::ChannelRecord* records, int first, int count,
                     void* extra, int32_t extra_size, const char* extra_file);
// `update` 1: an existing XML table is updated in place; 0: it is written anew. `user`
// (null or empty: the logged-on user) goes to the audit trail.
int cfg_SaveChannels(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                     int first, int count, const void* extra, int32_t extra_size, const char* extra_file,
                     int update);
int cfg_SaveChannelsUpdate(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                           int first, int count, const void* extra, int32_t extra_size,
                           const char* extra_file);
int cfg_SaveChannelsRewrite(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                            int first, int count, const void* extra, int32_t extra_size,
                            const char* extra_file);
// On the current folder (read once per call): no extra data, no user name, update mode.
int cfg_LoadChannelsFromCwd(int kind, qvr::ChannelRecord* records, int first, int count);
int cfg_SaveChannelsFromCwd(int kind, const qvr::ChannelRecord* records, int first, int count);
// The XML table alone (and the schema when more than one channel is written).
int cfg_WriteChannelXml(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                        int first, int count, const void* extra, int32_t extra_size, int update);

// Checks that a channel read from XML had every element its settings require. -1 with
// "<name> Required" (or "LowEventLimiit > HighEventLimit") as the thread's XML status.
int cfg_ValidateChannel(ExFoundFieldList found, const qvr::ChannelRecord* record);
int cfg_CheckChannelElement(ExFoundFieldList found, const char* name);
