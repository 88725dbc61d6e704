#include "qvr/settings/env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using namespace std::chrono_literals;

void set_text(RegistryHive hive, const std::string& path, const std::string& name, const std::string& value) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(hive, path, platform::kKeyAllAccess, key), 0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

std::string variable(const char* name) {
    const char* value = env_GetVariable(name);
    return value != nullptr ? value : "(null)";
}

// A folder every user may enter, for processes that drop their privileges (the test's own
// folders are private to it). Removed with its contents at the end.
class SharedFolder {
  public:
    SharedFolder() {
        std::string templ = "/tmp/qvrshared.XXXXXX";
        if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
        ::chmod(path_.c_str(), 0755);
    }
    ~SharedFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string run_helper(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_settings_helper"), args, env, true);
    const std::string out = child.read_stdout(20s, "\n");
    EXPECT_EQ(child.wait_exit_code(20s), 0);
    return out.substr(0, out.find('\n'));
}

// Per-user folders of this test process stay below its own root.
class PrivateDataHome : public ::testing::Environment {
  public:
    void SetUp() override { setenv("XDG_DATA_HOME", (qvr_test::test_root() + "/data").c_str(), 1); }
};
const auto* const kDataHome = ::testing::AddGlobalTestEnvironment(new PrivateDataHome);

}  // namespace

TEST(EnvVariable, UnsetNamesGiveTheRootFolderAndTheUpperCaseWord) {
    unsetenv("QVR_CURRENT_CONFIG");
    EXPECT_EQ(variable("QVR_CURRENT_CONFIG"), "/opt/Quorvane/CURRENT_CONFIG");
    EXPECT_EQ(variable("qvr_current_config"), "/opt/Quorvane/CURRENT_CONFIG");
    EXPECT_EQ(variable("QVR_"), "/opt/Quorvane/");
    EXPECT_EQ(variable("Logs"), "/opt/Quorvane/LOGS");
    EXPECT_EQ(env_GetRootDrive(), '/');
    EXPECT_STREQ(env_GetRootFolder("Other"), "/opt/Other");
    EXPECT_STREQ(env_GetProductRootFolder(), "/opt/Quorvane");
}

TEST(EnvVariable, OldPrefixReadsTheCurrentVariable) {
    setenv("QVR_BIN", "/srv/bin", 1);
    EXPECT_EQ(variable("QV4_BIN"), "/srv/bin");
    EXPECT_EQ(variable("qv4_BIN"), "/srv/bin");
    EXPECT_EQ(variable("QVR_BIN"), "/srv/bin");
}

TEST(EnvVariable, RootValueAndEditionMoveTheDefaults) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "Rimvale");
    EXPECT_EQ(variable("QVR_LOGGED_DATA"), "/opt/Rimvale/LOGGED_DATA");
    set_text(RegistryHive::machine, kProductKey, "Root:", "D:\\Plant\\Rimvale");
    EXPECT_EQ(variable("QVR_LOGGED_DATA"), "D:/Plant/Rimvale/LOGGED_DATA");
    set_text(RegistryHive::machine, "SOFTWARE\\Brevantic\\Rimvale", "Root:", "/srv/rimvale");
    EXPECT_EQ(variable("QVR_LOGGED_DATA"), "/srv/rimvale/LOGGED_DATA");
}

TEST(EnvVariable, TheLongestRootAndNameAreNeverCut) {
    const std::string root = "/" + std::string(258, 'r');
    set_text(RegistryHive::machine, kProductKey, "Root:", root);
    const std::string name = "QVR_" + std::string(245, 'n');
    EXPECT_EQ(variable(name.c_str()), root + "/" + std::string(245, 'N'));
}

TEST(EnvVariable, OverLongNamesAreRefused) {
    const std::string longest(249, 'A');
    EXPECT_NE(env_GetVariable(longest.c_str()), nullptr);
    const std::string too_long(250, 'A');
    errno = 0;
    EXPECT_EQ(env_GetVariable(too_long.c_str()), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(env_GetVariable(nullptr), nullptr);
}

TEST(EnvVariable, RegistryReferencesAreReadOrLeftAsTheyAre) {
    set_text(RegistryHive::machine, kProductKey, "BinPath", "/opt/q/bin");
    set_text(RegistryHive::user, "SOFTWARE\\Mine", "Here", "/home/me");
    struct Case {
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"%\\LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%", "/opt/q/bin"},
        {"%\\localmachine\\software\\brevantic\\quorvane\\binpath%", "/opt/q/bin"},
        {"%\\CurrentUser\\SOFTWARE\\Mine\\Here%", "/home/me"},
        {"%\\LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\Missing%",
         "%\\LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\Missing%"},
        {"%", "%"},
        {"%%", "%%"},
        {"%LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%",
         "%LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%"},
        {"%\\LocalMachine%", "%\\LocalMachine%"},
        {"%\\LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\%",
         "%\\LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\%"},
        {"%\\Nowhere\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%",
         "%\\Nowhere\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%"},
        {"%\\Users\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%",
         "%\\Users\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%"},
        {"plain %text", "plain %text"},
    };
    for (const Case& c : cases) {
        setenv("QVR_BIN", c.value, 1);
        EXPECT_EQ(variable("QVR_BIN"), c.expected) << c.value;
    }
}

TEST(EnvVariable, ReferencesFollowTheEditionKey) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "Voxa");
    set_text(RegistryHive::machine, kProductKey, "BinPath", "/product");
    set_text(RegistryHive::machine, "SOFTWARE\\Brevantic\\Voxa", "BinPath", "/edition");
    setenv("QVR_BIN", "%\\LocalMachine\\SOFTWARE\\Brevantic\\Quorvane\\BinPath%", 1);
    EXPECT_EQ(variable("QVR_BIN"), "/edition");
}

TEST(ProductFolder, OrdinaryNamesAreNotCreatedRedirectableOnesAre) {
    qvr_test::TempDir dir;
    const std::string config = dir.str() + "/config";
    setenv("QVR_CURRENT_CONFIG", config.c_str(), 1);
    EXPECT_EQ(std::string(env_GetProductFolder("QVR_CURRENT_CONFIG")), config);
    EXPECT_FALSE(std::filesystem::exists(config));

    const std::string exports = dir.str() + "/exports";
    setenv("QVR_EXPORTED_DATA", exports.c_str(), 1);
    EXPECT_EQ(std::string(env_GetProductFolder("qvr_exported_data")), exports);
    EXPECT_TRUE(std::filesystem::is_directory(exports));
    EXPECT_EQ(env_GetProductFolder(nullptr), nullptr);
}

TEST(ProductFolder, AnUnwritableFolderGivesThePerUserFolder) {
    SharedFolder shared;
    ASSERT_FALSE(shared.path().empty());
    const auto locked = shared.path() / "locked";
    const auto data_home = shared.path() / "xdg";
    std::filesystem::create_directories(locked);
    std::filesystem::create_directories(data_home);
    ::chmod(locked.c_str(), 0555);
    ::chmod(data_home.c_str(), 0777);
    const std::vector<std::string> env = {"QVR_EXPORTED_DATA=" + locked.string(),
                                          "XDG_DATA_HOME=" + data_home.string()};
    const std::string folder = run_helper({"--drop", "product-folder", "QVR_EXPORTED_DATA"}, env);
    const auto expected = data_home / "Brevantic" / "Quorvane" / "EXPORTED_DATA";
    EXPECT_EQ(folder, expected.string());
    EXPECT_TRUE(std::filesystem::is_directory(expected));

    // A writable folder is kept, even for an unprivileged user.
    const std::string open_folder = run_helper({"--drop", "product-folder", "QVR_EXPORTED_DATA"},
                                               {"QVR_EXPORTED_DATA=" + data_home.string()});
    EXPECT_EQ(open_folder, data_home.string());
}

TEST(FileAccess, ChecksTheRightsOfTheProcessUser) {
    SharedFolder shared;
    const auto file = shared.path() / "readonly.txt";
    qvr_test::write_file(file, "x");
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(run_helper({"--drop", "check-access", file.string(), "read"}, {}), "1");
    if (::geteuid() == 0) {
        EXPECT_EQ(run_helper({"--drop", "check-access", file.string(), "write"}, {}), "0");
        EXPECT_EQ(util_CheckFileAccess(file.c_str(), kGenericWrite), 1);
    }
    EXPECT_EQ(run_helper({"--drop", "check-access", file.string(), "execute"}, {}), "0");
    EXPECT_EQ(util_CheckFileAccess((shared.path() / "missing").c_str(), kGenericRead), 0);
    EXPECT_EQ(util_CheckFileAccess(shared.path().c_str(), kGenericWrite | kGenericRead), 1);
}
