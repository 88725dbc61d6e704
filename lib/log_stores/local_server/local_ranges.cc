// Summaries, sections and record ranges ("5S".."8S"). (Skeleton.)
#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

std::string LocalDataServer::GetStoreSummary(std::string_view) { return "-1,0"; }
std::string LocalDataServer::GetSectionText(std::string_view) { return "-1,0"; }
std::string LocalDataServer::ReadRecordRange(std::string_view) { return "-1,0"; }
std::string LocalDataServer::ReadRecordRangeEx(std::string_view) { return "-1,0"; }
std::vector<ChannelKey> LocalDataServer::SelectChannels(std::string_view) { return {}; }
ChannelToken ParseChannelToken(std::string_view) { return {}; }

}  // namespace log_stores::local
