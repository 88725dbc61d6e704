#pragma once
// Where a new run's channel configurations come from when the caller gives none: the live
// device configuration module of the block's device on this machine, or the current-value
// request of the server the run logs for.
#include <span>
#include <string>

#include "log_stores/log_header.h"
#include "qvr/records/channel_record.h"

namespace log_stores::run_file_store {

// The records of channels firstChannel..lastChannel of `block`'s device, copied under the
// module's lock. -1 with 87 when a channel lies outside the module (or is 0), or the
// module's error when it cannot be opened.
int copy_live_configurations(const BlockDescriptor& block, std::span<qvr::ChannelRecord> out);

// The same from `server`: one "CV,<prefix>,<channel>" request per channel, the record taken
// from the reply's 9th byte on. -1 with the link's error, or 13 for a reply too short.
int fetch_server_configurations(const std::string& server, const BlockDescriptor& block,
                                std::span<qvr::ChannelRecord> out);

}  // namespace log_stores::run_file_store
