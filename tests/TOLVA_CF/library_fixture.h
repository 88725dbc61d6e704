#pragma once
// TOLVA_CF.so opened the way the configuration program opens it, from the test's own folder.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <string>

#include "TOLVA_CF/exports.h"
#include "support/child_process.h"

namespace tolva_cf_test {

class LibraryTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::string path = qvr_test::bin_path("TOLVA_CF.so");
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        config_advan =
            reinterpret_cast<DllConfigAdvanDevSpecificFn>(dlsym(handle_, kConfigAdvanDevSpecificSymbol));
        config_chan =
            reinterpret_cast<DllConfigChanDevSpecificFn>(dlsym(handle_, kConfigChanDevSpecificSymbol));
        paste = reinterpret_cast<DllPasteChannelFn>(dlsym(handle_, kPasteChannelSymbol));
        print_all = reinterpret_cast<PrintAllConfigFn>(dlsym(handle_, kPrintAllConfigSymbol));
        print_config = reinterpret_cast<PrintConfigFn>(dlsym(handle_, kPrintConfigSymbol));
        open_qt = reinterpret_cast<OpenQtPrintTargetFn>(dlsym(handle_, kOpenQtPrintTargetSymbol));
        ASSERT_TRUE(config_advan && config_chan && paste && print_all && print_config && open_qt);
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }

    DllConfigAdvanDevSpecificFn config_advan = nullptr;
    DllConfigChanDevSpecificFn config_chan = nullptr;
    DllPasteChannelFn paste = nullptr;
    PrintAllConfigFn print_all = nullptr;
    PrintConfigFn print_config = nullptr;
    OpenQtPrintTargetFn open_qt = nullptr;

  private:
    void* handle_ = nullptr;
};

}  // namespace tolva_cf_test
