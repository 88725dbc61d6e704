// Loaded in place of the controller SDK library: its presence alone marks a controller
// platform, so it needs no content beyond one symbol to look up.
extern "C" int controller_sdk_standin() {
    return 1;
}
