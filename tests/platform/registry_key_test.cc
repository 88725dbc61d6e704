#include "platform/registry_key.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/registry_store.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace {

using platform::kKeyAllAccess;
using platform::kKeyQueryValue;
using platform::kKeyRead;
using platform::kKeySetValue;
using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegSz;
using platform::RegistryHive;
using platform::RegistryKey;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr const char* kProductKey = "SOFTWARE\\Brevantic\\Quorvane";

RegistryKey created(RegistryHive hive, std::string_view path, uint32_t access = kKeyAllAccess) {
    RegistryKey key;
    EXPECT_EQ(RegistryKey::create(hive, path, access, key), 0);
    return key;
}

std::string hive_text(RegistryHive hive) {
    return qvr_test::read_file(platform::registry_hive_file(hive));
}

TEST(RegistryKey, HivesLiveInTheTestRegistryFolder) {
    EXPECT_EQ(platform::registry_hive_file(RegistryHive::machine), qvr_test::registry_dir() + "/machine.reg");
    EXPECT_EQ(platform::registry_hive_file(RegistryHive::user), qvr_test::registry_dir() + "/user.reg");
}

// A hive that is a link (to a shared configuration, say) stays one: the file it leads to
// takes the change.
TEST(RegistryKey, AHiveThatIsALinkStaysALink) {
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "shared" / "machine.reg", "REGEDIT4\n");
    std::filesystem::create_symlink("shared/machine.reg", dir / "machine.reg");
    ASSERT_EQ(setenv("BREVANTIC_REGISTRY_DIR", dir.str().c_str(), 1), 0);
    const int rc = created(RegistryHive::machine, kProductKey).set_string("ProductName", "Rimvale");
    ASSERT_EQ(setenv("BREVANTIC_REGISTRY_DIR", qvr_test::registry_dir().c_str(), 1), 0);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "machine.reg"));
    EXPECT_THAT(qvr_test::read_file(dir / "shared" / "machine.reg"), HasSubstr("\"ProductName\"=\"Rimvale\""));
}

TEST(RegistryKey, QueryFollowsTheInOutSizeRules) {
    RegistryKey key = created(RegistryHive::machine, kProductKey);
    ASSERT_EQ(key.set_string("ProductName", "Rimvale"), 0);
    ASSERT_EQ(key.set_dword("DescSize", 40), 0);

    struct Case {
        const char* name;
        bool with_data;
        uint32_t capacity;
        int result;
        uint32_t size_out;
        uint32_t type_out;
    };
    const std::vector<Case> cases = {
        {"ProductName", false, 0, 0, 8, kRegSz},   // size query: text plus its zero
        {"ProductName", true, 8, 0, 8, kRegSz},    // exact fit
        {"ProductName", true, 32, 0, 8, kRegSz},   // larger buffer: size is set down
        {"ProductName", true, 7, 234, 8, kRegSz},  // one short: more data, size needed
        {"productname", true, 32, 0, 8, kRegSz},   // names compare without case
        {"DescSize", true, 4, 0, 4, kRegDword},   {"DescSize", true, 3, 234, 4, kRegDword},
        {"Missing", true, 32, 2, 32, 0xdead},  // nothing touched
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " capacity " + std::to_string(c.capacity));
        std::array<char, 32> buffer;
        buffer.fill('#');
        uint32_t type = 0xdead;
        uint32_t size = c.capacity;
        EXPECT_EQ(key.query_value(c.name, &type, c.with_data ? buffer.data() : nullptr, &size), c.result);
        EXPECT_EQ(size, c.size_out);
        EXPECT_EQ(type, c.type_out);
        if (c.result == 0 && c.with_data && c.type_out == kRegSz) {
            EXPECT_STREQ(buffer.data(), "Rimvale");
        }
        if (c.result == 234) {
            EXPECT_EQ(buffer[0], '#');  // a short buffer is left alone
        }
    }
    uint32_t number = 0;
    uint32_t size = 4;
    ASSERT_EQ(key.query_value("DescSize", nullptr, &number, &size), 0);
    EXPECT_EQ(number, 40u);
    EXPECT_EQ(key.query_value("DescSize", nullptr, &number, nullptr), platform::kErrorInvalidParameter);
}

TEST(RegistryKey, AccessRightsAreEnforced) {
    RegistryKey writer = created(RegistryHive::machine, kProductKey);
    ASSERT_EQ(writer.set_string("Variant", "40"), 0);

    RegistryKey reader;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, kProductKey, kKeyRead, reader), 0);
    EXPECT_EQ(reader.set_string("Variant", "41"), platform::kErrorAccessDenied);
    EXPECT_EQ(reader.delete_value("Variant"), platform::kErrorAccessDenied);

    RegistryKey set_only;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, kProductKey, kKeySetValue, set_only), 0);
    std::string text;
    EXPECT_EQ(set_only.query_string("Variant", text), platform::kErrorAccessDenied);
    std::vector<std::string> names;
    EXPECT_EQ(set_only.subkey_names(names), platform::kErrorAccessDenied);

    RegistryKey closed;
    EXPECT_EQ(closed.query_string("Variant", text), platform::kErrorInvalidHandle);

    RegistryKey root;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, "", kKeyAllAccess, root), 0);
    EXPECT_EQ(root.set_string("AtRoot", "x"), platform::kErrorAccessDenied);
}

TEST(RegistryKey, CreatingWritesNothingUntilAValueIs) {
    bool was_created = false;
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(RegistryHive::machine, "SOFTWARE\\Brevantic\\Rimvale", kKeyAllAccess, key,
                                  &was_created),
              0);
    EXPECT_TRUE(was_created);
    EXPECT_FALSE(std::filesystem::exists(platform::registry_hive_file(RegistryHive::machine)));

    RegistryKey probe;
    EXPECT_EQ(RegistryKey::open(RegistryHive::machine, "SOFTWARE\\Brevantic\\Rimvale", kKeyRead, probe), 2);
    std::string text;
    EXPECT_EQ(key.query_string("ProductName", text), 2);

    ASSERT_EQ(key.set_string("ProductName", "Rimvale"), 0);
    EXPECT_EQ(RegistryKey::open(RegistryHive::machine, "software\\brevantic\\rimvale", kKeyRead, probe), 0);
    // Keys above a written key exist too; a sibling does not.
    EXPECT_EQ(RegistryKey::open(RegistryHive::machine, "SOFTWARE\\Brevantic", kKeyRead, probe), 0);
    EXPECT_EQ(RegistryKey::open(RegistryHive::machine, "SOFTWARE\\Brevantic\\Quorvane", kKeyRead, probe), 2);
    ASSERT_EQ(RegistryKey::create(RegistryHive::machine, "SOFTWARE\\Brevantic\\Rimvale", kKeyAllAccess, key,
                                  &was_created),
              0);
    EXPECT_FALSE(was_created);
    EXPECT_EQ(hive_text(RegistryHive::machine),
              "REGEDIT4\n\n[SOFTWARE\\Brevantic\\Rimvale]\n\"ProductName\"=\"Rimvale\"\n");
}

TEST(RegistryKey, BadPathsAndArgumentsAreRefused) {
    RegistryKey key;
    for (const char* path : {"\\SOFTWARE", "SOFTWARE\\\\Brevantic", "A\nB"}) {
        EXPECT_EQ(RegistryKey::open(RegistryHive::machine, path, kKeyRead, key),
                  platform::kErrorInvalidParameter);
        EXPECT_EQ(RegistryKey::create(RegistryHive::machine, path, kKeyAllAccess, key),
                  platform::kErrorInvalidParameter);
    }
    key = created(RegistryHive::machine, kProductKey);
    const std::array<uint8_t, 2> two = {1, 2};
    EXPECT_EQ(key.set_value("Word", kRegDword, two.data(), 2), platform::kErrorInvalidParameter);
    EXPECT_EQ(key.set_value("Line\nBreak", kRegSz, "x", 2), platform::kErrorInvalidParameter);
    EXPECT_EQ(key.set_value("Null", kRegBinary, nullptr, 4), platform::kErrorInvalidParameter);
    std::vector<uint8_t> huge(platform::kRegistryMaxValueSize + 1);
    EXPECT_EQ(key.set_value("Huge", kRegBinary, huge.data(), static_cast<uint32_t>(huge.size())),
              platform::kErrorInvalidParameter);
    EXPECT_FALSE(std::filesystem::exists(platform::registry_hive_file(RegistryHive::machine)));
}

TEST(RegistryKey, ValuesKeepTheirTypeBytesAndCase) {
    RegistryKey key = created(RegistryHive::user, kProductKey);
    ASSERT_EQ(key.set_value("WithZero", kRegSz, "abc", 4), 0);  // the caller counted the zero
    ASSERT_EQ(key.set_value("NoZero", kRegSz, "abc", 3), 0);    // or did not
    ASSERT_EQ(key.set_string("Lines", "one\r\ntwo"), 0);
    const std::array<uint8_t, 5> blob = {0, 0x10, 0xff, 0x0d, 0x0a};
    ASSERT_EQ(key.set_value("Blob", kRegBinary, blob.data(), blob.size()), 0);
    ASSERT_EQ(key.set_string("MixedCase", "1"), 0);
    ASSERT_EQ(key.set_string("MIXEDCASE", "2"), 0);  // replaces, keeps the first spelling

    for (const char* name : {"WithZero", "NoZero"}) {
        std::array<char, 8> out{};
        uint32_t size = out.size();
        ASSERT_EQ(key.query_value(name, nullptr, out.data(), &size), 0);
        EXPECT_EQ(size, 4u) << name;
        EXPECT_STREQ(out.data(), "abc");
    }
    std::string text;
    ASSERT_EQ(key.query_string("lines", text), 0);
    EXPECT_EQ(text, "one\r\ntwo");
    platform::RegistryValue value;
    ASSERT_EQ(key.query_value("BLOB", value), 0);
    EXPECT_EQ(value.type, kRegBinary);
    EXPECT_EQ(value.data, std::vector<uint8_t>(blob.begin(), blob.end()));
    uint32_t number = 0;
    EXPECT_EQ(key.query_dword("Blob", number), platform::kErrorUnsupportedType);

    std::vector<platform::RegistryValue> all;
    ASSERT_EQ(key.values(all), 0);
    std::vector<std::string> names;
    for (const auto& v : all) names.push_back(v.name);
    EXPECT_THAT(names, ElementsAre("WithZero", "NoZero", "Lines", "Blob", "MixedCase"));
    ASSERT_EQ(key.query_string("mixedcase", text), 0);
    EXPECT_EQ(text, "2");
    // The user hive has its own file; the machine hive is untouched.
    EXPECT_FALSE(std::filesystem::exists(platform::registry_hive_file(RegistryHive::machine)));
    EXPECT_THAT(hive_text(RegistryHive::user), HasSubstr("\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\n"));
}

TEST(RegistryKey, DeletesValuesAndListsKeys) {
    RegistryKey ports = created(RegistryHive::machine, "SOFTWARE\\Brevantic\\Quorvane\\SerialPorts");
    ASSERT_EQ(ports.set_string("COM1", "/dev/ttyUSB0"), 0);
    ASSERT_EQ(ports.set_string("COM2", "/dev/ttyUSB1"), 0);
    ASSERT_EQ(created(RegistryHive::machine, "SOFTWARE\\Brevantic\\Rimvale").set_dword("TagSize", 10), 0);

    ASSERT_EQ(ports.delete_value("com1"), 0);
    EXPECT_EQ(ports.delete_value("COM1"), 2);
    std::vector<platform::RegistryValue> values;
    ASSERT_EQ(ports.values(values), 0);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "COM2");

    RegistryKey maker;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, "SOFTWARE\\Brevantic", kKeyRead, maker), 0);
    std::vector<std::string> names;
    ASSERT_EQ(maker.subkey_names(names), 0);
    EXPECT_THAT(names, ElementsAre("Quorvane", "Rimvale"));

    // The key stays when its last value goes, as it always has.
    ASSERT_EQ(ports.delete_value("COM2"), 0);
    RegistryKey probe;
    EXPECT_EQ(RegistryKey::open(RegistryHive::machine, "SOFTWARE\\Brevantic\\Quorvane\\SerialPorts", kKeyRead,
                                probe),
              0);
    RegistryKey never_written = created(RegistryHive::machine, "SOFTWARE\\Nothing");
    EXPECT_EQ(never_written.delete_value("X"), 2);
}

TEST(RegistryKey, SeesEditsMadeByHandWhileItRuns) {
    RegistryKey key = created(RegistryHive::machine, kProductKey);
    ASSERT_EQ(key.set_string("Scanner_Debug", "OFF"), 0);
    std::string text;
    ASSERT_EQ(key.query_string("Scanner_Debug", text), 0);
    // Another program rewrites the file in place (an editor, a script).
    qvr_test::write_file(
        platform::registry_hive_file(RegistryHive::machine),
        "REGEDIT4\n\n[SOFTWARE\\Brevantic\\Quorvane]\n\"Scanner_Debug\"=\"ON\"\n\"Extra\"=\"yes\"\n");
    ASSERT_EQ(key.query_string("Scanner_Debug", text), 0);
    EXPECT_EQ(text, "ON");
    ASSERT_EQ(key.query_string("Extra", text), 0);
}

TEST(RegistryKey, AnUnreadableLineIsSkippedReportedAndKept) {
    std::vector<std::string> messages;
    platform::set_registry_diagnostics([&](const std::string& m) { messages.push_back(m); });
    const auto file = platform::registry_hive_file(RegistryHive::machine);
    qvr_test::write_file(file,
                         "REGEDIT4\n\n[SOFTWARE\\Brevantic\\Quorvane]\n\"DescSize\"=dword:00000020\n"
                         "\"TagSize\"=dword:0x0f\n\"UnitsSize\"=dword:00000008\n");
    RegistryKey key;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, kProductKey, kKeyAllAccess, key), 0);
    uint32_t number = 0;
    EXPECT_EQ(key.query_dword("DescSize", number), 0);
    EXPECT_EQ(key.query_dword("UnitsSize", number), 0);
    EXPECT_EQ(key.query_dword("TagSize", number), 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0], HasSubstr("machine.reg:5"));
    EXPECT_THAT(messages[0], HasSubstr("\"TagSize\"=dword:0x0f"));

    // A later write keeps the line, as a comment the engineer can still see and mend.
    ASSERT_EQ(key.set_dword("DescSize", 16), 0);
    EXPECT_THAT(hive_text(RegistryHive::machine), HasSubstr("; skipped: \"TagSize\"=dword:0x0f\n"));
    EXPECT_EQ(key.query_dword("UnitsSize", number), 0);
    EXPECT_EQ(number, 8u);
    platform::set_registry_diagnostics(nullptr);
}

TEST(RegistryKey, ARemoteRegistryIsAFailedConnection) {
    std::array<char, 256> host{};
    ASSERT_EQ(gethostname(host.data(), host.size() - 1), 0);
    for (std::string local : {"", ".", "\\\\.", "localhost", "\\\\LOCALHOST"})
        EXPECT_EQ(platform::registry_connect(local), 0) << local;
    EXPECT_EQ(platform::registry_connect(host.data()), 0);
    EXPECT_EQ(platform::registry_connect(std::string("\\\\") + host.data()), 0);
    for (std::string remote : {"\\\\PLANTSERVER", "plantserver", "127.0.0.2"}) {
        EXPECT_EQ(platform::registry_connect(remote), platform::kErrorBadNetPath) << remote;
    }
}

TEST(RegistryKey, HiveFilesAreReplacedWholeWithTheirMode) {
    RegistryKey machine = created(RegistryHive::machine, kProductKey);
    RegistryKey user = created(RegistryHive::user, kProductKey);
    ASSERT_EQ(machine.set_string("A", "1"), 0);
    ASSERT_EQ(user.set_string("A", "1"), 0);
    namespace fs = std::filesystem;
    auto perms = [](RegistryHive hive) {
        return fs::status(platform::registry_hive_file(hive)).permissions() & fs::perms::all;
    };
    EXPECT_EQ(perms(RegistryHive::machine), fs::perms(0644));
    EXPECT_EQ(perms(RegistryHive::user), fs::perms(0600));
    // An administrator's choice of mode survives later writes.
    fs::permissions(platform::registry_hive_file(RegistryHive::machine), fs::perms(0640));
    ASSERT_EQ(machine.set_string("B", "2"), 0);
    EXPECT_EQ(perms(RegistryHive::machine), fs::perms(0640));
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(qvr_test::registry_dir())) {
        EXPECT_THAT(entry.path().filename().string(), testing::Not(testing::StartsWith(".")));
    }
}

TEST(RegistryKey, DefaultFoldersFollowTheEnvironment) {
    ASSERT_EQ(unsetenv("BREVANTIC_REGISTRY_DIR"), 0);
    ASSERT_EQ(setenv("HOME", "/home/engineer", 1), 0);
    ASSERT_EQ(unsetenv("XDG_CONFIG_HOME"), 0);
    EXPECT_EQ(platform::registry_hive_file(RegistryHive::machine), "/etc/brevantic/machine.reg");
    EXPECT_EQ(platform::registry_hive_file(RegistryHive::user), "/home/engineer/.config/brevantic/user.reg");
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", "/srv/config", 1), 0);
    EXPECT_EQ(platform::registry_hive_file(RegistryHive::user), "/srv/config/brevantic/user.reg");
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", "relative", 1), 0);  // not absolute: ignored, as the convention says
    EXPECT_EQ(platform::registry_hive_file(RegistryHive::user), "/home/engineer/.config/brevantic/user.reg");
}

// An ordinary user reads the machine hive but may not change it. Needs root to drop to
// another user; the folder lies outside the test root, which only root may enter.
TEST(RegistryKey, AnUnprivilegedProcessReadsTheMachineHiveButCannotWriteIt) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to start a process as another user";
    std::string folder = "/tmp/qvrreg.XXXXXX";
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    struct Cleanup {
        std::string path;
        ~Cleanup() { std::filesystem::remove_all(path); }
    } cleanup{folder};
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    ASSERT_EQ(setenv("BREVANTIC_REGISTRY_DIR", folder.c_str(), 1), 0);
    ASSERT_EQ(created(RegistryHive::machine, kProductKey).set_string("ProductName", "Rimvale"), 0);

    auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"as-user", "65534"});
        auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("registry_client"), args, {}, true);
        child.wait_exit_code(std::chrono::seconds(60));
        return child.read_stdout(std::chrono::milliseconds(0));
    };
    EXPECT_EQ(run({"get", "machine", kProductKey, "ProductName"}), "value Rimvale\nresult 0\n");
    EXPECT_EQ(run({"set", "machine", kProductKey, "ProductName", "Other"}), "result 5\n");
    EXPECT_EQ(run({"set", "machine", "SOFTWARE\\New", "X", "1"}), "result 5\n");
    std::string text;
    RegistryKey key;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, kProductKey, kKeyRead, key), 0);
    ASSERT_EQ(key.query_string("ProductName", text), 0);
    EXPECT_EQ(text, "Rimvale");
}

}  // namespace
