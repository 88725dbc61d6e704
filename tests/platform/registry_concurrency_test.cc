// Several real processes writing one hive at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_file.h"
#include "platform/registry_key.h"
#include "platform/registry_store.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::RegistryHive;
using qvr_test::ChildProcess;

constexpr const char* kSharedKey = "SOFTWARE\\Brevantic\\Quorvane\\Shared";
constexpr const char* kLargeKey = "SOFTWARE\\Brevantic\\Quorvane\\Large";

// The text the helper writes for a value: its name, a colon, then the name repeated.
std::string expected_payload(const std::string& name, size_t size) {
    std::string text = name + ":";
    while (text.size() < size) text += name.substr(0, size - text.size());
    return text;
}

ChildProcess start_writer(const char* key, const std::string& prefix, int count, size_t payload) {
    return ChildProcess::spawn(
        qvr_test::bin_path("registry_client"),
        {"write", "machine", key, prefix, std::to_string(count), std::to_string(payload)}, {}, true);
}

void expect_clean_exit(ChildProcess& child) {
    auto code = child.wait_exit_code(120s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0) << child.read_stdout(0ms);
}

TEST(RegistryConcurrency, WritersInSeveralProcessesLoseNoValue) {
    constexpr int kProcesses = 4;
    constexpr int kThreads = 2;
    constexpr int kValuesEach = 120;
    std::vector<ChildProcess> children;
    for (int p = 0; p < kProcesses; ++p)
        children.push_back(start_writer(kSharedKey, "p" + std::to_string(p), kValuesEach, 16));
    // Threads of this process write alongside them.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            platform::RegistryKey key;
            if (platform::RegistryKey::create(RegistryHive::machine, kSharedKey, platform::kKeyAllAccess,
                                              key) != 0)
                ++failures;
            for (int i = 0; i < kValuesEach; ++i) {
                const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
                if (key.set_string(name, expected_payload(name, 16)) != 0) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (auto& child : children) expect_clean_exit(child);
    EXPECT_EQ(failures.load(), 0);

    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::open(RegistryHive::machine, kSharedKey, platform::kKeyRead, key), 0);
    std::vector<platform::RegistryValue> values;
    ASSERT_EQ(key.values(values), 0);
    EXPECT_EQ(values.size(), static_cast<size_t>((kProcesses + kThreads) * kValuesEach));
    std::vector<std::string> prefixes = {"t0", "t1"};
    for (int p = 0; p < kProcesses; ++p) prefixes.push_back("p" + std::to_string(p));
    for (const auto& prefix : prefixes) {
        for (int i = 0; i < kValuesEach; ++i) {
            const std::string name = prefix + "_" + std::to_string(i);
            std::string text;
            ASSERT_EQ(key.query_string(name, text), 0) << name;
            EXPECT_EQ(text, expected_payload(name, 16));
        }
    }
}

TEST(RegistryConcurrency, AReaderNeverSeesAHalfWrittenFile) {
    constexpr int kValuesEach = 60;
    constexpr size_t kPayload = 3000;  // large enough that a file takes many writes to fill
    const auto file = platform::registry_hive_file(RegistryHive::machine);
    std::vector<ChildProcess> children;
    children.push_back(start_writer(kLargeKey, "a", kValuesEach, kPayload));
    children.push_back(start_writer(kLargeKey, "b", kValuesEach, kPayload));

    size_t snapshots = 0;
    size_t last_count = 0;
    auto check_snapshot = [&](const std::string& text) {
        std::vector<platform::RegistryParseIssue> issues;
        const auto doc = platform::parse_registry_text(text, &issues);
        EXPECT_TRUE(issues.empty()) << "torn file of " << text.size() << " bytes";
        const auto* section = doc.find_key(kLargeKey);
        const size_t count = section != nullptr ? section->values.size() : 0;
        EXPECT_GE(count, last_count) << "values went missing";
        last_count = count;
        if (section == nullptr) return;
        for (const auto& value : section->values) {
            EXPECT_EQ(std::string(value.data.begin(), value.data.end()),
                      expected_payload(value.name, kPayload));
        }
        ++snapshots;
    };
    auto running = [&] {
        for (auto& child : children) {
            if (!child.wait(0ms)) return true;
        }
        return false;
    };
    const auto give_up = std::chrono::steady_clock::now() + 120s;  // only against a hang
    while (running() && !testing::Test::HasFailure() && std::chrono::steady_clock::now() < give_up) {
        if (std::filesystem::exists(file)) check_snapshot(qvr_test::read_file(file));
    }
    for (auto& child : children) expect_clean_exit(child);
    check_snapshot(qvr_test::read_file(file));
    EXPECT_EQ(last_count, 2u * kValuesEach);
    EXPECT_GE(snapshots, 1u);
}

}  // namespace
