// tolva_sc <device number>: the scanner of one configured device, started by the runtime host.
#include "tolva_sc/scanner_main.h"

int main(int argc, char** argv) {
    return tolva::run_scanner(argc, argv);
}
