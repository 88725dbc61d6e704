#include "qvr/settings/archive.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "platform/process_run.h"
#include "platform/registry_file.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"

namespace fs = std::filesystem;

namespace {

bool folder_exists(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::vector<std::string> split_list(std::string_view list) {
    std::vector<std::string> names;
    while (!list.empty()) {
        const size_t semicolon = list.find(';');
        const std::string_view name = list.substr(0, semicolon);
        if (!name.empty()) names.emplace_back(name);
        if (semicolon == std::string_view::npos) break;
        list.remove_prefix(semicolon + 1);
    }
    return names;
}

// Sibling folders of the configuration folder that exist, each named once.
std::vector<std::string> sibling_folders(const fs::path& current, bool extra) {
    std::vector<std::string> names = {"SAVED_VALUES", "REPLAY_OPTIONS"};
    if (extra)
        for (std::string& name : split_list(qvr::archive_extra_folders())) names.push_back(std::move(name));
    std::vector<std::string> present;
    for (const std::string& name : names) {
        bool seen = false;
        for (const std::string& p : present) seen = seen || p == name;
        if (!seen && folder_exists(current.parent_path() / name)) present.push_back(name);
    }
    return present;
}

// A name in the target's folder that no reader takes for the archive itself; the
// extension stays, for archivers that choose the format by it.
fs::path temporary_beside(const fs::path& target) {
    return target.parent_path() / (".part" + std::to_string(::getpid()) + "-" + target.filename().string());
}

void remove_quietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

int fail_with_exit(int exit_code) {
    return platform::fail(exit_code != 0 ? exit_code : 1);
}

// Puts a finished file in place of the target, synced; -1 when that fails.
int move_into_place(const fs::path& from, const fs::path& target) {
    return platform::move_into_place(from.string(), target.string());
}

// tar of the current folder and its siblings into `tar_file`. Anything the archiver says on
// its standard error counts as a failure (it warns of files it could not read).
int run_tar(const fs::path& current, const fs::path& tar_file, bool extra) {
    // -P keeps the sibling folders' names as given ("../SAVED_VALUES/..."): GNU tar would
    // otherwise strip the "../" and say so on standard error.
    std::vector<std::string> argv = {"tar", "-P", "-cf", tar_file.string(), "."};
    for (const std::string& name : sibling_folders(current, extra)) argv.push_back("../" + name);
    platform::RunOptions options;
    options.working_dir = current;
    options.capture_stderr = true;
    platform::RunResult result;
    if (platform::run_program(argv, options, result) != 0) return -1;
    if (!result.err.empty() || result.exit_code != 0) {
        remove_quietly(tar_file);
        return fail_with_exit(result.exit_code);
    }
    return 0;
}

// The compressor writes "<file>_" beside its input and leaves the input in place.
int run_compress(const fs::path& tar_file, const fs::path& target) {
    platform::RunOptions options;
    options.capture_stdout = true;
    options.capture_stderr = true;
    platform::RunResult result;
    const fs::path compressed = tar_file.string() + "_";
    remove_quietly(compressed);
    if (platform::run_program({"mscompress", tar_file.string()}, options, result) != 0) return -1;
    const bool succeeded = result.out.find("compressed") != std::string::npos || result.exit_code == 0;
    std::error_code ec;
    if (!succeeded || !fs::is_regular_file(compressed, ec)) {
        remove_quietly(compressed);
        return fail_with_exit(result.exit_code);
    }
    if (move_into_place(compressed, target) != 0) {
        remove_quietly(compressed);
        return -1;
    }
    return 0;
}

int archive_qvr(const fs::path& current, const fs::path& target, bool extra) {
    const char* saved = env_GetVariable("QVR_SAVED_CONFIG");
    if (saved == nullptr || !folder_exists(saved)) return platform::fail(platform::kErrorPathNotFound);
    const fs::path tar_file = fs::path(saved) / fs::path(target.filename()).replace_extension(".tar");
    if (run_tar(current, tar_file, extra) != 0) return -1;
    const int rc = run_compress(tar_file, target);
    const int saved_error = platform::last_error();
    remove_quietly(tar_file);
    if (rc != 0) return platform::fail(saved_error);
    return 0;
}

int archive_tar(const fs::path& current, const fs::path& target, bool extra) {
    const fs::path temporary = temporary_beside(target);
    if (run_tar(current, temporary, extra) != 0) {
        remove_quietly(temporary);
        return -1;
    }
    if (move_into_place(temporary, target) != 0) {
        remove_quietly(temporary);
        return -1;
    }
    return 0;
}

int archive_qvzip(const fs::path& current, const fs::path& target, bool extra) {
    const char* bin = env_GetVariable("QVR_BIN");
    if (bin == nullptr) return platform::fail(platform::kErrorPathNotFound);
    const fs::path temporary = temporary_beside(target);
    std::vector<std::string> argv = {(fs::path(bin) / "qvzip").string(), "-a", "-r", temporary.string(),
                                     current.string()};
    for (const std::string& name : sibling_folders(current, extra))
        argv.push_back((current.parent_path() / name).string());
    platform::RunOptions options;
    options.working_dir = current;
    platform::RunResult result;
    if (platform::run_program(argv, options, result) != 0) return -1;
    if (result.exit_code != 0) {
        remove_quietly(temporary);
        return platform::fail(result.exit_code);
    }
    if (move_into_place(temporary, target) != 0) {
        remove_quietly(temporary);
        return -1;
    }
    return 0;
}

}  // namespace

namespace qvr {

std::string archive_extra_folders() {
    char value[261];
    uint32_t type = kRegSz;
    uint32_t size = sizeof value;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                               "ExtraSaveDirs", &type, value, &size) == 0 &&
        type == kRegSz) {
        value[std::min<size_t>(size, sizeof value - 1)] = 0;
        return value;
    }
    const std::string_view product = reg_GetProductName();
    std::string list;
    const bool rimvale = platform::starts_with_ignoring_case(product, "RIMVALE");
    const bool voxa_or_plumo = platform::starts_with_ignoring_case(product, "VOXA") ||
                               platform::starts_with_ignoring_case(product, "PLUMO");
    if (rimvale || voxa_or_plumo) list = "CMONITORS;TRENDS";
    if (rimvale) list += ";MONITORS;AMONITORS";
    if (voxa_or_plumo) list += ";MONPICLIB;DATA_IMP";
    if (rimvale) list += ";WEBHMI";
    return list;
}

}  // namespace qvr

namespace {

int archive_in(const char* target, int extra_folders, const fs::path& current) {
    if (target == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    std::string name(target);
    std::replace(name.begin(), name.end(), '\\', '/');  // names from the original platform
    if (!name.empty() && name.back() == '"') name.pop_back();
    if (!name.empty() && name.front() == '"') name.erase(0, 1);
    if (name.empty()) return platform::fail(platform::kErrorInvalidArgument);
    const fs::path target_path = fs::path(name).is_absolute() ? fs::path(name) : current / name;

    const bool extra = extra_folders != 0;
    if (platform::ends_with_ignoring_case(name, ".qvr")) return archive_qvr(current, target_path, extra);
    if (platform::ends_with_ignoring_case(name, ".tar")) return archive_tar(current, target_path, extra);
    return archive_qvzip(current, target_path, extra);
}

}  // namespace

int save_ArchiveConfig(const char* target, const void* /*unused*/, int extra_folders) {
    std::error_code ec;
    const fs::path current = fs::current_path(ec);
    if (ec) return platform::fail(ec.value());
    return archive_in(target, extra_folders, current);
}

int save_ArchiveConfig(const char* target, const void* /*unused*/, int extra_folders, const char* config_folder) {
    if (config_folder == nullptr || *config_folder == '\0') return platform::fail(platform::kErrorInvalidArgument);
    std::string folder(config_folder);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();  // its parent holds the siblings
    std::error_code ec;
    const fs::path current = fs::absolute(fs::path(folder), ec).lexically_normal();
    if (ec) return platform::fail(ec.value());
    if (!folder_exists(current)) return platform::fail(platform::kErrorPathNotFound);
    return archive_in(target, extra_folders, current);
}
