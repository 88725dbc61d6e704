#include "platform/ipc_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_env.h"

TEST(IpcNames, PrefixAndFolderComeFromTheEnvironment) {
    EXPECT_EQ(platform::ipc_prefix(), qvr_test::ipc_prefix());
    EXPECT_FALSE(platform::ipc_prefix().empty());
    EXPECT_EQ(platform::runtime_dir(), qvr_test::runtime_dir());
}

TEST(IpcNames, ObjectAndMailslotNamesKeepTheSystemNameBehindThePrefix) {
    const std::string& prefix = qvr_test::ipc_prefix();
    EXPECT_EQ(platform::shm_object_name("Global\\dm_AB"), "/" + prefix + "Global\\dm_AB");
    EXPECT_EQ(platform::mailslot_file("dm_42.slt"), qvr_test::runtime_dir() + "/" + prefix + "dm_42.slt");
}

TEST(IpcNames, RuntimeFolderIsRecreatedWithGroupAccessWhateverTheUmask) {
    std::filesystem::remove_all(platform::runtime_dir());
    const mode_t old_umask = umask(077);
    const int rc = platform::ensure_runtime_dir();
    umask(old_umask);
    ASSERT_EQ(rc, 0);
    struct stat st {};
    ASSERT_EQ(stat(platform::runtime_dir().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0770u);
    EXPECT_EQ(platform::ensure_runtime_dir(), 0);  // existing folder is fine
}
