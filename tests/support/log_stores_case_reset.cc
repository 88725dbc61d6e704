// Registers the logged-data stores' resets (status channels, translations) with the per-case
// reset of the test environment.
#include "log_stores/status_channels/status_testing.h"
#include "log_stores/translations/translations_testing.h"
#include "support/test_env.h"

namespace {

void reset_log_stores() {
    log_stores::status_testing::reset();
    log_stores::translations_testing::reset();
}

const bool kRegistered = [] {
    qvr_test::on_each_case_end(&reset_log_stores);
    return true;
}();

}  // namespace
