// The run list and record caches behind the range requests. (Skeleton.)
#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

void LocalDataServer::Refresh() {}

}  // namespace log_stores::local
