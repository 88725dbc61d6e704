// The channels the web dashboards show. (Skeleton.)
#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

std::optional<std::vector<ChannelKey>> LoadWebHmiChannels(const std::string&) { return std::nullopt; }

}  // namespace log_stores::local
