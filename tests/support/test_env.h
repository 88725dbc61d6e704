#pragma once
// Each test process runs under its own shared-object prefix, mailslot folder and registry
// folder, so tests can run in parallel and never touch a real installation. Children that
// a test starts inherit the same environment.
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

// Removes the shared objects and folders of test processes that have ended without their
// own clean-up (crashed, killed); the environment does it when it is installed.
void remove_leftovers_of_ended_tests();

// Removes shared-memory objects whose names start with this process's prefix.
void remove_shared_objects();

}  // namespace qvr_test
