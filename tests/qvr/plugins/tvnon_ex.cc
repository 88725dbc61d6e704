// Test plug-in that exports no entry point at all: every operation takes its default path.
extern "C" __attribute__((visibility("default"))) int tvnon_marker(void) {
    return 1;
}
