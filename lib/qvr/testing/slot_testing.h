#pragma once
// Fault injection for tests of the process slot.
namespace qvr::slot_testing {

// The next `count` socket reads of the slot's reader fail with `error` (a real read error
// is too rare to provoke from outside).
void inject_read_errors(int count, int error);

// Called by every send to the own process after its callback ran, before the send wakes a
// waiter (null: none), so a test can close the slot at that moment.
void set_own_delivery_hook(void (*hook)());

}  // namespace qvr::slot_testing
