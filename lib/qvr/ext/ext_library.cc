// Finding and loading a device type's plug-in, and the per-folder XML answer.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/ascii_text.h"
#include "platform/dynamic_library.h"
#include "platform/file_paths.h"
#include "qvr/testing/process_state_testing.h"
#include "platform/last_error.h"
#include "qvr/settings/env.h"
#include "qvr/ext/ext.h"
#include "qvr/ext/ext_device_list.h"
#include "qvr/diag/sink.h"
#include "qvr/diag/trace.h"
#include "qvr/xml/xml.h"

namespace qvr::ext {
namespace {

std::string slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder of the program or library this code is linked into.
std::string own_folder() {
    return folder_of(platform::library_path_of(reinterpret_cast<const void*>(&ext_LoadExtension)));
}

std::string bin_folder() {
    const char* bin = env_GetVariable("QVR_BIN");
    return bin != nullptr ? slashes(bin) : std::string();
}

void trace_line(const std::string& text) {
    trace_Write((text + '\n').c_str());
}

// Loads `folder`/`name` when the file is there.
void* try_load(const std::string& folder, const std::string& name, std::string& loaded_path) {
    if (folder.empty()) return nullptr;
    std::string path = folder + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    std::string why;
    void* handle = platform::library_open(path, &why);
    if (handle == nullptr) {
        trace_line("extension " + path + " cannot be loaded: " + why);
        return nullptr;
    }
    loaded_path = path;
    return handle;
}

// The general plug-in of a processor that DATPROC.TXT beside the folder lists.
std::string processor_plugin(const std::string& config_dir, const std::string& prefix) {
    std::string parent = folder_of(slashes(config_dir));
    if (parent.empty()) parent = ".";
    std::string list_path = find_file_any_case(parent, "DATPROC.TXT");
    if (list_path.empty()) return {};
    DeviceListReader list;
    if (list.open(list_path) < 0) return {};
    while (list.next_line()) {
        std::vector<std::string> fields = list.fields(5);
        if (!platform::prefix_equal_ignoring_case(fields[0].c_str(), prefix.c_str(), 5)) continue;
        ProcessorLine line;
        std::string message;
        if (!check_processor_line(fields, line, message)) {
            trace_line("extension search: " + list_path + " line \"" + list.line() + "\": " + message);
            return {};
        }
        return line.type == 2 ? "usera_ex.so" : "userd_ex.so";
    }
    return {};
}

}  // namespace

void* load_library(std::string_view named_dir, bool with_device_list, std::string& loaded_path) {
    // The folder's own name gives the prefix, also when it was named "." or "../tolva_3".
    std::string config_dir;
    if (named_dir.empty() || platform::absolute_path(named_dir, config_dir) != 0) return nullptr;
    std::string prefix = device_prefix5(config_dir);
    if (prefix.empty()) return nullptr;
    std::string name = platform::ascii_lower_copy(prefix) + "_ex.so";
    if (void* h = try_load(own_folder(), name, loaded_path)) return h;
    std::string bin = bin_folder();
    if (void* h = try_load(bin, name, loaded_path)) return h;
    if (!with_device_list) return nullptr;
    std::string general = processor_plugin(config_dir, prefix);
    return general.empty() ? nullptr : try_load(bin, general, loaded_path);
}

}  // namespace qvr::ext

void* ext_LoadExtension(const char* config_dir) {
    if (config_dir == nullptr) return nullptr;
    std::string path;
    return qvr::ext::load_library(config_dir, true, path);
}

void ext_FreeExtension(void* library) {
    if (library != nullptr) platform::library_close(library);
}

namespace {

// The last folder asked about and its answer: loading the extension is costly.
struct XmlSupportAnswer {
    std::mutex lock;
    std::string dir;
    int answer = -1;
};

XmlSupportAnswer& xml_support_answer() {
    static XmlSupportAnswer last;
    return last;
}

}  // namespace

void qvr::testing::forget_extension_answers() {
    XmlSupportAnswer& last = xml_support_answer();
    std::lock_guard<std::mutex> hold(last.lock);
    last.dir.clear();
    last.answer = -1;
}

int ext_HasXmlSupport(const char* named_dir) {
    if (named_dir == nullptr) return 0;
    // Kept by the folder itself: "." names another folder after the current one changed.
    std::string absolute;
    if (platform::absolute_path(named_dir, absolute) != 0) return 0;
    const char* config_dir = absolute.c_str();
    XmlSupportAnswer& last = xml_support_answer();
    {
        std::lock_guard<std::mutex> hold(last.lock);
        if (last.answer >= 0 && platform::equal_ignoring_case(last.dir, config_dir)) return last.answer;
    }
    void* library = ext_LoadExtension(config_dir);
    int answer = library != nullptr && platform::library_symbol(library, "Ex_DoXml") != nullptr ? 1 : 0;
    ext_FreeExtension(library);
    std::lock_guard<std::mutex> hold(last.lock);
    last.dir = config_dir;
    last.answer = answer;
    return answer;
}

int cfg_ValidateChannelWithConfig(void* arg1, void* arg2, void* arg3, void* arg4, void* arg5, void* arg6,
                                  void* arg7) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return 0;
    qvr::Extension extension = qvr::Extension::load(cwd, false);
    void* const args[7] = {arg1, arg2, arg3, arg4, arg5, arg6, arg7};
    std::string message;
    if (extension.validate_chan_with_config(args, message) == 0) return 0;
    xml_SetStatus(kXmlStatusFailed, message.c_str());
    sink_Report(".", 1, xml_GetErrorText());
    return platform::fail(platform::kErrorXmlParse);
}
