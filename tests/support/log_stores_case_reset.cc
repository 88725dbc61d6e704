// Registers the logged-data stores' resets (status channels, translations) with the per-case
// reset of the test environment.
#include "log_stores/status_channels/status_testing.h"
#include "support/test_env.h"

namespace {

const bool kRegistered = [] {
    qvr_test::on_each_case_end(&log_stores::status_testing::reset);
    return true;
}();

}  // namespace
