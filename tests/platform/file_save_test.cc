#include "platform/file_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Names a save's temporary can have: "." + the target's name + "." + random letters.
std::set<std::string> temporaries(const fs::path& folder, const std::string& target) {
    std::set<std::string> found;
    for (const std::string& name : entries(folder))
        if (name.rfind("." + target + ".", 0) == 0) found.insert(name);
    return found;
}

mode_t mode_of(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string run_client(std::vector<std::string> args, std::chrono::seconds patience = std::chrono::seconds(60)) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("file_save_client"), args, {}, true);
    child.wait_exit_code(patience);
    return child.read_stdout(std::chrono::milliseconds(0));
}

std::string result(int error) { return "result " + std::to_string(error) + "\n"; }

// Every byte the same letter and the length expected: a whole file of one save.
bool whole(const std::string& content, std::size_t size) {
    return content.size() == size && content.find_first_not_of(content.front()) == std::string::npos;
}

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// A saving process stopped where a kill leaves its temporary: the process and the path of
// its temporary.
struct HeldSave {
    qvr_test::ChildProcess process;
    fs::path temporary;
};

HeldSave hold_save(const fs::path& target) {
    HeldSave held;
    held.process = qvr_test::ChildProcess::spawn(qvr_test::bin_path("file_save_client"),
                                                 {"hold", target.string(), "1000"}, {}, true);
    const std::string out = held.process.read_stdout(std::chrono::seconds(60), "\n");
    const std::string prefix = "temporary ";
    if (out.rfind(prefix, 0) == 0 && out.back() == '\n')
        held.temporary = out.substr(prefix.size(), out.size() - prefix.size() - 1);
    return held;
}

void kill_and_reap(qvr_test::ChildProcess& process) {
    process.kill(SIGKILL);
    process.wait(std::chrono::seconds(30));
}

// The id of a process that ran and is gone.
pid_t finished_process_id() {
    auto child = qvr_test::ChildProcess::spawn("/bin/true", {});
    child.wait(std::chrono::seconds(30));
    return child.pid();
}

}  // namespace

TEST(FileSave, ANewFileGetsTheUsualModeOrTheOneAskedFor) {
    qvr_test::TempDir dir;
    const mode_t old_mask = ::umask(027);
    EXPECT_EQ(platform::save_file((dir / "plain").string(), std::string_view("one")), 0);
    platform::SaveOptions exact;
    exact.new_file_mode = 0604;
    EXPECT_EQ(platform::save_file((dir / "exact").string(), std::string_view("two"), exact), 0);
    ::umask(old_mask);
    EXPECT_EQ(mode_of(dir / "plain"), 0640u);
    EXPECT_EQ(mode_of(dir / "exact"), 0604u);
    EXPECT_EQ(qvr_test::read_file(dir / "plain"), "one");
    EXPECT_EQ(qvr_test::read_file(dir / "exact"), "two");
    // A name as long as a name may be still has room for its temporary.
    const std::string longest(NAME_MAX, 'n');
    EXPECT_EQ(platform::save_file((dir / longest).string(), std::string_view("three")), 0);
    EXPECT_EQ(qvr_test::read_file(dir / longest), "three");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"exact", "plain", longest}));
}

TEST(FileSave, ARewrittenFileKeepsItsModeAndOwner) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "config";
    qvr_test::write_file(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
    }
    platform::SaveOptions ignored;  // only for new files
    ignored.new_file_mode = 0600;
    ASSERT_EQ(platform::save_file(target.string(), std::string_view("new content"), ignored), 0);
    EXPECT_EQ(qvr_test::read_file(target), "new content");
    EXPECT_EQ(mode_of(target), 0640u);
    if (root) {
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
    }
    // A save that shortens the file leaves nothing of the old content.
    ASSERT_EQ(platform::save_file(target.string(), std::string_view("x")), 0);
    EXPECT_EQ(qvr_test::read_file(target), "x");
    EXPECT_TRUE(temporaries(dir.path(), "config").empty());
}

// A link stays a link and the file it leads to is saved, whether the link is relative or
// absolute, chained, or leads to a file not made yet.
TEST(FileSave, ATargetThatIsALinkKeepsTheLinkAndSavesItsFile) {
    qvr_test::TempDir dir;
    fs::create_directories(dir / "real");
    qvr_test::write_file(dir / "real" / "data", "old");
    fs::create_symlink("real/data", dir / "relative");
    fs::create_symlink(dir / "relative", dir / "chained");
    fs::create_symlink("real/later", dir / "dangling");

    ASSERT_EQ(platform::save_file((dir / "relative").string(), std::string_view("one")), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "relative"));
    EXPECT_EQ(qvr_test::read_file(dir / "real" / "data"), "one");
    ASSERT_EQ(platform::save_file((dir / "chained").string(), std::string_view("two")), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "chained"));
    EXPECT_EQ(qvr_test::read_file(dir / "real" / "data"), "two");
    const std::vector<std::uint8_t> w = bytes_of("W");
    const platform::FilePatch patch{1, std::span<const std::uint8_t>(w)};
    ASSERT_EQ(platform::save_file_patched((dir / "chained").string(), std::span(&patch, 1)), 0);
    EXPECT_EQ(qvr_test::read_file(dir / "real" / "data"), "tWo");
    ASSERT_EQ(platform::save_file((dir / "dangling").string(), std::string_view("new")), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(qvr_test::read_file(dir / "real" / "later"), "new");
    // The temporaries were made beside the files, not beside the links.
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"chained", "dangling", "real", "relative"}));
    EXPECT_EQ(entries(dir / "real"), (std::set<std::string>{"data", "later"}));
    EXPECT_EQ(platform::save_target((dir / "chained").string()), (dir / "real/data").string());
}

// What a save must not replace, and paths that lead nowhere: refused, nothing changed.
TEST(FileSave, TargetsThatCannotBeSavedAreRefusedUntouched) {
    qvr_test::TempDir dir;
    fs::create_symlink("loop", dir / "loop");
    fs::create_directories(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    qvr_test::write_file(dir / "plain", "x");
    struct Case {
        fs::path path;
        int error;
    };
    const Case cases[] = {
        {dir / "loop", ELOOP},
        {dir / "folder", EISDIR},
        {dir / "fifo", EINVAL},
        {dir / "plain" / "x", ENOTDIR},
        {dir / "missing" / "x", ENOENT},
        {"", ENOENT},
    };
    const std::vector<std::uint8_t> p = bytes_of("p");
    const platform::FilePatch patch{0, std::span<const std::uint8_t>(p)};
    for (const Case& c : cases) {
        EXPECT_EQ(platform::save_file(c.path.string(), std::string_view("new")), -1) << c.path;
        EXPECT_EQ(errno, c.error) << c.path;
        EXPECT_EQ(platform::save_file_patched(c.path.string(), std::span(&patch, 1)), -1) << c.path;
        EXPECT_EQ(errno, c.error) << c.path;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"fifo", "folder", "loop", "plain"}));
}

TEST(FileSave, PatchesAreLaidOverTheOldContent) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "table";
    struct Case {
        const char* name;
        const char* old;  // null: no file
        std::vector<std::pair<std::uint64_t, std::string>> patches;
        std::string expected;
    };
    const Case cases[] = {
        {"a missing file is empty", nullptr, {{2, "ab"}}, std::string("\0\0ab", 4)},
        {"inside the old content", "0123456789", {{3, "xy"}}, "012xy56789"},
        {"over the old end", "0123", {{2, "abcd"}}, "01abcd"},
        {"a gap past the end fills with zeros", "01", {{4, "z"}}, std::string("01\0\0z", 5)},
        {"later patches win", "0123456789", {{1, "aaaa"}, {3, "b"}}, "0aaba56789"},
        {"an empty patch past the end lengthens nothing", "01", {{10, ""}}, "01"},
        {"no patches keep the old content", "keep", {}, "keep"},
    };
    for (const Case& c : cases) {
        std::error_code ec;
        fs::remove(target, ec);
        if (c.old != nullptr) qvr_test::write_file(target, c.old);
        std::vector<std::vector<std::uint8_t>> storage;
        std::vector<platform::FilePatch> patches;
        for (const auto& [offset, text] : c.patches) storage.push_back(bytes_of(text));
        for (std::size_t i = 0; i < c.patches.size(); ++i)
            patches.push_back({c.patches[i].first, std::span<const std::uint8_t>(storage[i])});
        ASSERT_EQ(platform::save_file_patched(target.string(), patches), 0) << c.name;
        EXPECT_EQ(qvr_test::read_file(target), c.expected) << c.name;
    }
    const std::vector<std::uint8_t> one = bytes_of("x");
    const platform::FilePatch beyond{UINT64_MAX, std::span<const std::uint8_t>(one)};
    EXPECT_EQ(platform::save_file_patched(target.string(), std::span(&beyond, 1)), -1);
    EXPECT_EQ(errno, EFBIG);
    EXPECT_EQ(qvr_test::read_file(target), "keep");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"table"}));
}

// A file another program finished is put in place of the target, also from another file
// system (the shared-memory folder is one where it exists), and a link target stays a link.
TEST(FileSave, AFinishedFileIsMovedIntoPlace) {
    qvr_test::TempDir dir;
    fs::create_directories(dir / "real");
    qvr_test::write_file(dir / "real" / "archive.tar", "old");
    fs::create_symlink("real/archive.tar", dir / "archive.tar");
    qvr_test::write_file(dir / "finished", "new");
    ASSERT_EQ(::chmod((dir / "finished").c_str(), 0640), 0);
    ASSERT_EQ(platform::move_into_place((dir / "finished").string(), (dir / "archive.tar").string()), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "archive.tar"));
    EXPECT_EQ(qvr_test::read_file(dir / "real" / "archive.tar"), "new");
    EXPECT_FALSE(fs::exists(dir / "finished"));

    const std::string elsewhere = fs::is_directory("/dev/shm") ? "/dev/shm" : dir.str();
    const fs::path other = fs::path(elsewhere) / ("qvr_finished_" + std::to_string(::getpid()));
    qvr_test::write_file(other, "from afar");
    ASSERT_EQ(::chmod(other.c_str(), 0640), 0);
    ASSERT_EQ(platform::move_into_place(other.string(), (dir / "copy.tar").string()), 0);
    EXPECT_EQ(qvr_test::read_file(dir / "copy.tar"), "from afar");
    EXPECT_EQ(mode_of(dir / "copy.tar"), 0640u);
    EXPECT_FALSE(fs::exists(other));

    EXPECT_EQ(platform::move_into_place((dir / "none").string(), (dir / "copy.tar").string()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(qvr_test::read_file(dir / "copy.tar"), "from afar");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"archive.tar", "copy.tar", "real"}));
}

// A file size limit stops the write half way: the old file stays whole, the temporary goes.
TEST(FileSaveFaults, AFullDiskByFileSizeLimitLeavesTheOldFile) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "values.bin";
    qvr_test::write_file(target, "old");
    EXPECT_EQ(run_client({"limit", "10000", "save", target.string(), "N", "50000", "1"}), result(EFBIG));
    EXPECT_EQ(qvr_test::read_file(target), "old");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"values.bin"}));
    EXPECT_EQ(run_client({"limit", "100000", "save", target.string(), "N", "50000", "1"}), result(0));
    EXPECT_TRUE(whole(qvr_test::read_file(target), 50000));
}

// A real full file system (a small tmpfs in a mount namespace of the child's own).
TEST(FileSaveFaults, AFullFileSystemLeavesTheOldFile) {
    qvr_test::TempDir dir;
    fs::create_directories(dir / "mnt");
    const std::string out = run_client({"fullfs", (dir / "mnt").string(), "64", std::to_string(256 * 1024)});
    if (out.rfind("unsupported", 0) == 0) GTEST_SKIP() << "no small file system can be mounted here: " << out;
    EXPECT_EQ(out, "content old\nentries 1\n" + result(ENOSPC));
}

// A folder the process may not write: nothing is made, the old file stays.
TEST(FileSaveFaults, AReadOnlyFolderRefusesTheSave) {
    qvr_test::TempDir dir;
    const fs::path folder = dir / "ro";
    qvr_test::write_file(folder / "config", "old");
    if (::geteuid() == 0) {
        // Root ignores permission bits: an ordinary user tries, in a folder only root may
        // write and outside the test root, which only root may enter.
        std::string outside = "/tmp/qvrsave.XXXXXX";
        ASSERT_NE(::mkdtemp(outside.data()), nullptr);
        struct Cleanup {
            std::string path;
            ~Cleanup() { fs::remove_all(path); }
        } cleanup{outside};
        fs::permissions(outside, fs::perms(0755));
        const fs::path target = fs::path(outside) / "config";
        qvr_test::write_file(target, "old");
        fs::permissions(target, fs::perms(0666));  // the file is writable, the folder is not
        EXPECT_EQ(run_client({"as-user", std::to_string(kNobody), "save", target.string(), "N", "10", "1"}),
                  result(EACCES));
        EXPECT_EQ(qvr_test::read_file(target), "old");
        EXPECT_EQ(entries(outside), (std::set<std::string>{"config"}));
    } else {
        fs::permissions(folder, fs::perms(0555));
        EXPECT_EQ(platform::save_file((folder / "config").string(), std::string_view("new")), -1);
        EXPECT_EQ(errno, EACCES);
        fs::permissions(folder, fs::perms(0755));
        EXPECT_EQ(qvr_test::read_file(folder / "config"), "old");
        EXPECT_EQ(entries(folder), (std::set<std::string>{"config"}));
    }
}

// Two processes save the same file as fast as they can while this one reads it: every read
// finds one whole file of one save, and no temporary is left.
TEST(FileSaveFaults, TwoProcessesSavingOneFileNeverTearIt) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "schema.xsd";
    constexpr std::size_t kSize = 256 * 1024;
    qvr_test::write_file(target, std::string(kSize, '0'));
    std::vector<qvr_test::ChildProcess> savers;
    for (const char* letters : {"abcdefghij", "ABCDEFGHIJ"})
        savers.push_back(qvr_test::ChildProcess::spawn(qvr_test::bin_path("file_save_client"),
                                                       {"save", target.string(), letters, std::to_string(kSize), "150"},
                                                       {}, true));
    std::set<char> seen;
    int reads = 0;
    while (savers[0].running() || savers[1].running()) {
        std::string content;
        ASSERT_EQ(platform::read_file(target.string(), content, kSize * 2), 0);
        ASSERT_TRUE(whole(content, kSize)) << "torn at read " << reads;
        seen.insert(content.front());
        ++reads;
        for (auto& saver : savers) saver.wait(std::chrono::milliseconds(0));
    }
    for (auto& saver : savers) {
        EXPECT_EQ(saver.wait_exit_code(std::chrono::seconds(60)), 0);
        EXPECT_EQ(saver.read_stdout(std::chrono::milliseconds(0)), result(0));
    }
    EXPECT_TRUE(whole(qvr_test::read_file(target), kSize));
    EXPECT_GT(seen.size(), 1u) << reads << " reads";
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"schema.xsd"}));
}

// A process killed while it saves, again and again: the file is always one whole save;
// what the killed process leaves behind is only its temporary, which later saves ignore.
TEST(FileSaveFaults, AProcessKilledMidSaveLeavesTheOldOrTheNewFile) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "config";
    constexpr std::size_t kSize = 4 << 20;
    for (int round = 0; round < 12; ++round) {
        auto saver = qvr_test::ChildProcess::spawn(qvr_test::bin_path("file_save_client"),
                                                   {"loop", target.string(), std::to_string(kSize)}, {}, true);
        ASSERT_NE(saver.read_stdout(std::chrono::seconds(30), "ready").find("ready"), std::string::npos);
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
        saver.kill(SIGKILL);
        saver.wait(std::chrono::seconds(30));
        const std::string content = qvr_test::read_file(target);
        ASSERT_TRUE(whole(content, kSize)) << "round " << round;
        EXPECT_TRUE(content.front() == 'A' || content.front() == 'B');
        for (const std::string& name : entries(dir.path()))
            EXPECT_TRUE(name == "config" || temporaries(dir.path(), "config").count(name) == 1) << name;
    }
    RecordProperty("temporaries_left", static_cast<int>(temporaries(dir.path(), "config").size()));
    ASSERT_EQ(platform::save_file(target.string(), std::string_view("after")), 0);
    EXPECT_EQ(qvr_test::read_file(target), "after");
    EXPECT_TRUE(temporaries(dir.path(), "config").empty());
}

// Saves killed between making their temporary and the rename, many times: each leaves its
// temporary, named by the target and its process, and the next save removes it (the next
// held save, then a save that finishes); a reader of the file removes those of later kills.
TEST(FileSaveFaults, TemporariesOfKilledSavesGoWithTheNextSaveOrRead) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "ai";
    qvr_test::write_file(target, "old");
    for (int round = 0; round < 30; ++round) {
        HeldSave held = hold_save(target);
        ASSERT_FALSE(held.temporary.empty()) << "round " << round;
        const std::string name = held.temporary.filename().string();
        EXPECT_EQ(name.rfind(".ai." + std::to_string(held.process.pid()) + ".", 0), 0u) << name;
        EXPECT_EQ(temporaries(dir.path(), "ai"), (std::set<std::string>{name})) << "round " << round;
        kill_and_reap(held.process);
        ASSERT_TRUE(fs::exists(held.temporary)) << name;
    }
    EXPECT_EQ(temporaries(dir.path(), "ai").size(), 1u);
    EXPECT_EQ(qvr_test::read_file(target), "old");
    ASSERT_EQ(platform::save_file(target.string(), std::string_view("new")), 0);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"ai"}));

    for (int round = 0; round < 6; ++round) {
        HeldSave held = hold_save(target);
        ASSERT_FALSE(held.temporary.empty()) << "round " << round;
        kill_and_reap(held.process);
        ASSERT_TRUE(fs::exists(held.temporary));
        platform::remove_dead_temporaries(target.string());
        EXPECT_FALSE(fs::exists(held.temporary)) << "round " << round;
    }
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"ai"}));
    EXPECT_EQ(qvr_test::read_file(target), "new");
}

// A writer that is alive keeps its temporary through other saves and reads of the same file,
// also one whose process id says nothing here (another pid namespace) while it holds its
// lock; once it is gone its temporary goes with the next save.
TEST(FileSaveFaults, ALiveWritersTemporarySurvivesOtherSavesAndReads) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "ai";
    HeldSave held = hold_save(target);
    ASSERT_FALSE(held.temporary.empty());
    struct stat before {};
    ASSERT_EQ(::stat(held.temporary.c_str(), &before), 0);

    // A writer of another pid namespace: its id runs nothing here, its lock is held.
    const fs::path foreign = dir / (".ai." + std::to_string(finished_process_id()) + ".Foreign1");
    qvr_test::write_file(foreign, "foreign");
    const platform::UniqueFd foreign_fd = platform::open_file(foreign.string(), O_RDWR);
    ASSERT_TRUE(foreign_fd.valid());
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;  // the whole file, whichever byte a writer locks
    ASSERT_EQ(::fcntl(foreign_fd.get(), F_OFD_SETLK, &lock), 0);

    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(platform::save_file(target.string(), std::string_view("mine")), 0);
        platform::remove_dead_temporaries(target.string());
    }
    struct stat after {};
    ASSERT_EQ(::stat(held.temporary.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, 1000);
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_EQ(qvr_test::read_file(target), "mine");

    kill_and_reap(held.process);
    ASSERT_EQ(platform::save_file(target.string(), std::string_view("again")), 0);
    EXPECT_FALSE(fs::exists(held.temporary));
    EXPECT_TRUE(fs::exists(foreign));
    lock.l_type = F_UNLCK;
    ASSERT_EQ(::fcntl(foreign_fd.get(), F_OFD_SETLK, &lock), 0);
    platform::remove_dead_temporaries(target.string());
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"ai"}));
}

// Only a regular file named exactly as a temporary of the target, whose writer is gone, is
// removed: nothing of another file, nothing only alike, nothing of a live process.
TEST(FileSave, OnlyDeadTemporariesOfTheTargetAreRemoved) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "config";
    const std::string dead = std::to_string(finished_process_id());
    const std::string alive = std::to_string(::getpid());
    const std::set<std::string> removed = {".config." + dead + ".abcdEFG9", ".config." + dead + ".00000000"};
    const std::set<std::string> kept = {
        ".config." + dead + ".abcdefg",    ".config." + dead + ".abcdefghi", ".config." + dead + ".abc-efgh",
        ".config.x" + dead + ".abcdefgh",  ".config..abcdefgh",             ".config.0.abcdefgh",
        ".configx." + dead + ".abcdefgh",  ".other." + dead + ".abcdefgh",  "config." + dead + ".abcdefgh",
        ".config.xml." + dead + ".abcdefgh", ".config." + alive + ".abcdefgh", "config.xml",
    };
    for (const std::string& name : removed) qvr_test::write_file(dir / name, "x");
    for (const std::string& name : kept) qvr_test::write_file(dir / name, "x");
    fs::create_directories(dir / (".config." + dead + ".folder00"));
    fs::create_symlink("config.xml", dir / (".config." + dead + ".linkTo00"));

    platform::remove_dead_temporaries(target.string());
    std::set<std::string> expected = kept;
    expected.insert({".config." + dead + ".folder00", ".config." + dead + ".linkTo00"});
    EXPECT_EQ(entries(dir.path()), expected);
    // A save of the target clears the same, and a save of "config.xml" its own.
    for (const std::string& name : removed) qvr_test::write_file(dir / name, "x");
    ASSERT_EQ(platform::save_file(target.string(), std::string_view("new")), 0);
    expected.insert("config");
    EXPECT_EQ(entries(dir.path()), expected);
    ASSERT_EQ(platform::save_file((dir / "config.xml").string(), std::string_view("<x/>")), 0);
    expected.erase(".config.xml." + dead + ".abcdefgh");
    EXPECT_EQ(entries(dir.path()), expected);
}

// Content written in pieces replaces the target only on commit; given up, it leaves the old
// file and no temporary.
TEST(FileSave, AStreamedSaveIsWholeOrNothing) {
    qvr_test::TempDir dir;
    const fs::path target = dir / "copy";
    qvr_test::write_file(target, "old");
    {
        platform::StreamedSave save;
        ASSERT_EQ(save.begin(target.string()), 0);
        ASSERT_EQ(save.write(bytes_of("first ")), 0);
        EXPECT_EQ(qvr_test::read_file(target), "old");
    }
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"copy"}));
    platform::StreamedSave save;
    EXPECT_EQ(save.write(bytes_of("x")), -1);
    EXPECT_EQ(errno, EBADF);
    ASSERT_EQ(save.begin(target.string()), 0);
    ASSERT_EQ(save.write(bytes_of("first ")), 0);
    ASSERT_EQ(save.write(bytes_of("second")), 0);
    ASSERT_EQ(save.commit(), 0);
    EXPECT_EQ(qvr_test::read_file(target), "first second");
    EXPECT_EQ(save.commit(), -1);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"copy"}));
    EXPECT_EQ(save.begin((dir / "missing" / "x").string()), -1);
    EXPECT_EQ(errno, ENOENT);
}
