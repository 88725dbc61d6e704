#pragma once
// Tests of the file collection: a fresh folder for the product's logged data (QVR_LOGGED_DATA)
// and helpers that make run files and list what a collection hands out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "log_stores/log_store.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/settings_testing.h"
#include "support/temp_dir.h"

namespace collection_test {

namespace fs = std::filesystem;

struct ListedRun {
    std::string name;
    std::int32_t start;
    std::int32_t stop;
    bool operator==(const ListedRun&) const = default;
};

class CollectionTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("QVR_LOGGED_DATA", logged_.c_str(), 1); }

    static void set_edition(const char* name) {
        platform::RegistryKey maker;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kMakerKey,
                                                platform::kKeyAllAccess, maker),
                  0);
        ASSERT_EQ(maker.set_string("ProductName", name), 0);
        qvr::reset_product_settings_for_test();
    }
    static void touch(const fs::path& path, const std::string& bytes = "") { qvr_test::write_file(path, bytes); }
    static std::set<std::string> entries(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
        return names;
    }
    static bool writable(const fs::path& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
    }
    static std::vector<ListedRun> list(log_stores::CLogCollection& collection) {
        std::vector<ListedRun> runs;
        std::size_t size = 0;
        if (collection.BeginRunList(&size) != 1) return runs;
        EXPECT_EQ(size, log_stores::kRunListNameSize);
        char name[log_stores::kRunListNameSize];
        TimeStamp start{}, stop{};
        while (collection.GetNextRun(name, &start, &stop) == 1) runs.push_back({name, start.seconds, stop.seconds});
        return runs;
    }

    qvr_test::TempDir root_;
    fs::path logged_ = root_ / "LOGGED";
};

inline constexpr std::uint32_t kRead = log_stores::kGenericRead;
inline constexpr std::uint32_t kReadWrite = log_stores::kGenericRead | log_stores::kGenericWrite;

}  // namespace collection_test
