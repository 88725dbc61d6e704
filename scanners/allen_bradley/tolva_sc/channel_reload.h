#pragma once
// Reloading a kind's channel records into its configuration module, only when the channel
// table file in the current folder changed since the module was loaded from it: the file's
// last-write time is kept as the data module's configuration time.
#include <functional>
#include <span>

#include "qvr/records/channel_record.h"

namespace tolva {

// Loads the channel table of `kind` (0 AI ... 4 CI) of the current folder into `records`
// (as many as the span holds): 0, or -1 with errno.
using ChannelTableLoader = std::function<int(int kind, std::span<qvr::ChannelRecord> records)>;

// count x 216 when reloaded (count = the data module's channel count, bounded by the
// records the configuration module holds), 0 when unchanged, -1 with errno on failure
// (no file, no loader, a module that cannot be read, or the loader's failure). On reload
// the file time becomes the module's configuration time and the configuration module's
// waiters are signalled.
int reload_channels_if_changed(int kind, void* data_module, void* conf_module,
                               const ChannelTableLoader& load);

}  // namespace tolva
