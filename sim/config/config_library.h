#pragma once
// TOLVA_CF.so as the configuration program sees it: a library opened by path and its entry
// points found by name.
#include <string>

#include "TOLVA_CF/exports.h"

namespace sim_config {

class ConfigLibrary {
  public:
    ConfigLibrary() = default;
    ~ConfigLibrary();
    ConfigLibrary(const ConfigLibrary&) = delete;
    ConfigLibrary& operator=(const ConfigLibrary&) = delete;

    // Opens the library and finds its entry points; false with error() when any is missing.
    bool open(const std::string& path);
    const std::string& error() const { return error_; }

    DllConfigAdvanDevSpecificFn config_advan_dev_specific = nullptr;
    DllConfigChanDevSpecificFn config_chan_dev_specific = nullptr;
    DllPasteChannelFn paste_channel = nullptr;
    PrintAllConfigFn print_all_config = nullptr;
    PrintConfigFn print_config = nullptr;
    OpenQtPrintTargetFn open_qt_print_target = nullptr;

  private:
    void* handle_ = nullptr;
    std::string error_;
};

// "<folder of this program>/TOLVA_CF.so".
std::string library_beside_program();

}  // namespace sim_config
