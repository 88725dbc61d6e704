#pragma once
// Test hooks of the configuration store: the once-per-process state forgotten, as a new
// process starts.
namespace qvr {

// The audit trail's switch is read again.
void reset_audit_for_test();

namespace cfg {
// The XML switch warnings are traced again.
void reset_switch_warnings_for_test();
}  // namespace cfg

}  // namespace qvr
