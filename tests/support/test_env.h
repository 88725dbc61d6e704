#pragma once
// Each test process runs under its own shared-object prefix, mailslot folder and registry
// folder, so tests can run in parallel and never touch a real installation. Children that
// a test starts inherit the same environment. A binary run whole gives every case the same
// fresh start (reset_after_each_case).
#include <string>

namespace qvr_test {

// Folder that is removed when the test process ends.
const std::string& test_root();

// The values installed for this process.
const std::string& ipc_prefix();
const std::string& runtime_dir();
const std::string& registry_dir();

// Installs the environment; called once from the test main before anything else runs.
void install_test_environment();

// Makes every test case start as the first case of a fresh test process does: after each
// case, the shared objects of this process's prefix and everything below the test root
// (registry files, mailslots, folders the case made) are removed, the environment variables are put back as they were before the
// first case, the locale is "C" again and the hooks added with on_each_case_end run.
// Called from the test main after the test framework is initialised.
void reset_after_each_case();

// A reset of process-wide state (a cache read once per process) that runs after each case.
void on_each_case_end(void (*reset)());

// Removes the shared objects and folders of test processes that have ended without their
// own clean-up (crashed, killed); the environment does it when it is installed.
void remove_leftovers_of_ended_tests();

// Removes shared-memory objects whose names start with this process's prefix.
void remove_shared_objects();

}  // namespace qvr_test
