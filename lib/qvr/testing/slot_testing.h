#pragma once
// Fault injection for tests of the process slot.
namespace qvr::slot_testing {

// The next `count` socket reads of the slot's reader fail with `error` (a real read error
// is too rare to provoke from outside).
void inject_read_errors(int count, int error);

}  // namespace qvr::slot_testing
