#include "scanner_rig.h"

#include "support/child_process.h"
#include "support/test_env.h"

namespace e2e {

ScannerRig::ScannerRig()
    : sim_rig::ScannerRig({.tree_root = qvr_test::test_root(), .scanner_program = qvr_test::bin_path("tolva_sc")}) {}

}  // namespace e2e
