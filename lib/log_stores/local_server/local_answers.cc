// The answers by request code. (Skeleton.)
#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

int LocalDataServer::HandleRequest(const char*, std::uint32_t, char*, std::uint32_t*) { return 0; }
std::string LocalDataServer::CountAllRecords() { return "-1,0"; }

}  // namespace log_stores::local
