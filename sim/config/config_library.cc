#include "config_library.h"

#include <filesystem>

#include "platform/dynamic_library.h"

namespace sim_config {

namespace {

template <typename Fn>
bool find(void* handle, const char* name, Fn& entry, std::string& error) {
    entry = reinterpret_cast<Fn>(platform::library_symbol(handle, name));
    if (entry == nullptr) error = std::string("entry point ") + name + " is missing";
    return entry != nullptr;
}

}  // namespace

ConfigLibrary::~ConfigLibrary() {
    if (handle_ != nullptr) platform::library_close(handle_);
}

bool ConfigLibrary::open(const std::string& path) {
    std::string why;
    handle_ = platform::library_open(path, &why);
    if (handle_ == nullptr) {
        error_ = why.empty() ? "dlopen failed" : why;
        return false;
    }
    return find(handle_, kConfigAdvanDevSpecificSymbol, config_advan_dev_specific, error_) &&
           find(handle_, kConfigChanDevSpecificSymbol, config_chan_dev_specific, error_) &&
           find(handle_, kPasteChannelSymbol, paste_channel, error_) &&
           find(handle_, kPrintAllConfigSymbol, print_all_config, error_) &&
           find(handle_, kPrintConfigSymbol, print_config, error_) &&
           find(handle_, kOpenQtPrintTargetSymbol, open_qt_print_target, error_);
}

std::string library_beside_program() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / "TOLVA_CF.so").string();
}

}  // namespace sim_config
