#include "tolva_sc/link_port.h"

#include "platform/monotonic_clock.h"

namespace tolva {

int64_t LinkPort::now_us() {
    return platform::monotonic_us();
}

}  // namespace tolva
