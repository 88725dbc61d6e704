// Registers the runtime library's reset with the per-case reset of the test environment.
#include "qvr/testing/process_state_testing.h"
#include "support/test_env.h"

namespace {

const bool kRegistered = [] {
    qvr_test::on_each_case_end(&qvr::testing::reset_process_state);
    return true;
}();

}  // namespace
