// Keeping the current runs and the logger status channels up to date. (Skeleton.)
#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

void LocalDataServer::UpdateCurrentRuns() {}
void LocalDataServer::UpdateLoggerStatus() {}

}  // namespace log_stores::local
