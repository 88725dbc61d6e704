#include "platform/shm_object.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/ipc_names.h"

namespace {

std::vector<std::string> raw_objects_with_prefix() {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(platform::kShmFolder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(platform::ipc_prefix())) found.push_back(name);
    }
    return found;
}

void fill_with(std::span<std::byte> bytes, std::byte value) {
    std::fill(bytes.begin(), bytes.end(), value);
}

}  // namespace

TEST(ShmObject, CreatedObjectOpensWithItsContentsAndSize) {
    auto created = platform::shm_object_create("Global\\obj", 300, 0660,
                                               [](std::span<std::byte> b) { fill_with(b, std::byte{0x5A}); });
    ASSERT_TRUE(created);
    EXPECT_EQ(created->size(), 300u);

    auto opened = platform::ShmObject::open("Global\\obj");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->size(), 300u);
    std::byte head[4];
    ASSERT_TRUE(opened->read_at(head, 296));
    EXPECT_EQ(head[3], std::byte{0x5A});
    auto view = opened->map(300);
    ASSERT_TRUE(view);
    static_cast<std::byte*>(view->base())[0] = std::byte{1};
    EXPECT_EQ(static_cast<std::byte*>(created->base())[0], std::byte{1});  // same memory
}

TEST(ShmObject, SecondCreateFailsWithEexistAndLeavesTheFirstAlone) {
    ASSERT_TRUE(platform::shm_object_create("Global\\twice", 64, 0660,
                                            [](std::span<std::byte> b) { fill_with(b, std::byte{7}); }));
    errno = 0;
    EXPECT_FALSE(platform::shm_object_create("Global\\twice", 128, 0660,
                                             [](std::span<std::byte> b) { fill_with(b, std::byte{9}); }));
    EXPECT_EQ(errno, EEXIST);
    auto opened = platform::ShmObject::open("Global\\twice");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->size(), 64u);
    std::byte b[1];
    ASSERT_TRUE(opened->read_at(b, 0));
    EXPECT_EQ(b[0], std::byte{7});
    EXPECT_EQ(raw_objects_with_prefix().size(), 1u) << "no temporary left behind";
}

TEST(ShmObject, OpeningNeverCreates) {
    errno = 0;
    EXPECT_FALSE(platform::ShmObject::open("Global\\missing"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(raw_objects_with_prefix().empty());
}

TEST(ShmObject, ReadsAndMapsBeyondTheRealSizeAreRefused) {
    ASSERT_TRUE(platform::shm_object_create("Global\\small", 100, 0660, {}));
    auto opened = platform::ShmObject::open("Global\\small");
    ASSERT_TRUE(opened);
    std::byte buffer[8];
    EXPECT_FALSE(opened->read_at(buffer, 96));
    EXPECT_FALSE(opened->read_at(buffer, SIZE_MAX - 2));
    EXPECT_TRUE(opened->read_at(std::span(buffer, 4), 96));
    errno = 0;
    EXPECT_FALSE(opened->map(101));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(opened->map(100));
}

TEST(ShmObject, ModeIsAppliedExactlyWhateverTheUmask) {
    const mode_t old_umask = umask(077);
    auto created = platform::shm_object_create("Global\\mode", 16, 0660, {});
    umask(old_umask);
    ASSERT_TRUE(created);
    struct stat st {};
    const std::string path = std::string(platform::kShmFolder) + platform::shm_object_name("Global\\mode");
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST(ShmObject, RacingCreatorsProduceOneObjectThatIsNeverSeenHalfFilled) {
    constexpr int kThreads = 8;
    constexpr size_t kSize = 1 << 16;
    std::atomic<int> winners{0};
    std::atomic<int> incomplete{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto created = platform::shm_object_create(
                "Global\\race", kSize, 0660,
                [&](std::span<std::byte> b) { fill_with(b, std::byte(0x10 + t)); });
            if (created) {
                ++winners;
                return;
            }
            auto opened = platform::ShmObject::open("Global\\race");
            if (!opened) return;  // not linked yet: the winner is still filling
            auto view = opened->map(kSize);
            const auto bytes = view->bytes();
            if (bytes[0] == std::byte{0} ||
                !std::all_of(bytes.begin(), bytes.end(), [&](std::byte x) { return x == bytes[0]; }))
                ++incomplete;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(winners.load(), 1);
    EXPECT_EQ(incomplete.load(), 0);
}

TEST(ShmObject, ListAndRemoveCoverOnlyThisPrefixAndTemporaries) {
    ASSERT_TRUE(platform::shm_object_create("Global\\b", 8, 0660, {}));
    ASSERT_TRUE(platform::shm_object_create("Global\\a", 8, 0660, {}));
    ASSERT_TRUE(platform::shm_object_create("Other", 8, 0660, {}));
    EXPECT_EQ(platform::shm_object_list("Global\\"), (std::vector<std::string>{"Global\\a", "Global\\b"}));
    EXPECT_EQ(platform::shm_object_list().size(), 3u);

    // What a creator killed between create and link leaves behind.
    ASSERT_TRUE(platform::shm_object_create(".creating.999.0", 8, 0660, {}));
    EXPECT_EQ(platform::shm_object_list().size(), 3u) << "temporaries are not listed";

    EXPECT_EQ(platform::shm_object_remove("Other"), 0);
    EXPECT_EQ(platform::shm_object_remove("Other"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::shm_object_remove_prefixed(), 3);
    EXPECT_TRUE(raw_objects_with_prefix().empty());
}

TEST(ShmObject, TemporariesLeftByAKilledCreatorWhoseIdIsReusedDoNotStopCreation) {
    // A creator killed between create and link left its temporaries; this process now has
    // its id. Its first creations use the same temporary names.
    for (int n = 0; n < 64; ++n) {
        const std::string stale =
            "/" + platform::ipc_prefix() + ".creating." + std::to_string(getpid()) + "." + std::to_string(n);
        const int fd = shm_open(stale.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << stale;
        close(fd);
    }
    auto created = platform::shm_object_create("Global\\fresh", 8, 0660,
                                               [](std::span<std::byte> b) { fill_with(b, std::byte{7}); });
    ASSERT_TRUE(created) << std::strerror(errno);
    auto opened = platform::ShmObject::open("Global\\fresh");
    ASSERT_TRUE(opened);
    std::byte first{};
    ASSERT_TRUE(opened->read_at({&first, 1}, 0));
    EXPECT_EQ(first, std::byte{7});
}
