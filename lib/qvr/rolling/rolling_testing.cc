#include "qvr/testing/rolling_testing.h"

#include "qvr/rolling/rolling_state.h"
#include "qvr/rolling/rolling_writer.h"

namespace qvr::rolling_testing {

void reset() {
    rolling::stop_writer_for_reset();
    set_write_hook({});
    rolling::RollingState& rf = rolling::state();
    rolling::close_files(rf);
    rf = rolling::RollingState{};
}

}  // namespace qvr::rolling_testing
