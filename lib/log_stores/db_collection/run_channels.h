#pragma once
// Where a new run's channel configurations come from: the caller's table, the device
// configuration modules of this machine, or the server a remote run logs for.
#include <optional>
#include <string>

#include "log_stores/db_schema/data_columns.h"
#include "log_stores/log_header.h"
#include "qvr/records/channel_record.h"

namespace log_stores::db_collection {

// One pointer per block, each at the block's records in channel order (borrowed).
db_schema::ChannelLookup lookup_in_table(const LogHeader& header, const qvr::ChannelRecord* const* channels);

// Copies of the configurations of every block's channels from the modules of their device
// prefixes. A channel outside its module is left out (the column list then reports it);
// nothing when a block's module cannot be found.
std::optional<db_schema::ChannelLookup> lookup_in_modules(const LogHeader& header);

// The configurations of every block's channels fetched from `server` (one current-value
// request per channel); nothing when a fetch fails.
std::optional<db_schema::ChannelLookup> lookup_from_server(const std::string& server, const LogHeader& header);

// A remote channel without tag columns: an analog channel with empty texts.
db_schema::ChannelLookup zero_lookup();

}  // namespace log_stores::db_collection
