// The local data server as the link layer's kind-3 transport. (Skeleton.)
#include "log_stores/local_server/local_backend.h"

namespace log_stores {
void RegisterLocalDataServer() {}
}  // namespace log_stores
