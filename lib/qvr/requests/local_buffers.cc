// The registry of caller buffers of the local logged-data requests. (Skeleton.)
#include "qvr/requests/local_buffers.h"

namespace qvr::local_buffers {

Registration::Registration(void*, std::size_t) {}
Registration::~Registration() = default;
std::optional<Buffer> resolve(std::int64_t) { return std::nullopt; }

}  // namespace qvr::local_buffers
