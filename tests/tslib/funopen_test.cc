#include "tslib/funopen.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tslib/typed_mem.h"
#include "tslib_test_util.h"

namespace {

const int kAccounting = typed_mem_turn_on();

// A seekable in-memory device behind a callback stream, with switchable failures.
struct Device {
    std::string data;
    std::size_t pos = 0;
    int read_errno = 0;   // non-zero: reads fail with it
    int write_errno = 0;  // non-zero: writes fail with it
    int close_errno = 0;  // non-zero: close fails with it
    bool seek_silent_failure = false;
    int closes = 0;
    int reads = 0;
};

ssize_t device_read(void* arg, char* buf, std::size_t size) {
    auto* d = static_cast<Device*>(arg);
    ++d->reads;
    if (d->read_errno != 0) {
        errno = d->read_errno;
        return -1;
    }
    const std::size_t n = std::min(size, d->data.size() - std::min(d->pos, d->data.size()));
    std::memcpy(buf, d->data.data() + d->pos, n);
    d->pos += n;
    return static_cast<ssize_t>(n);
}

ssize_t device_write(void* arg, const char* buf, std::size_t size) {
    auto* d = static_cast<Device*>(arg);
    if (d->write_errno != 0) {
        errno = d->write_errno;
        return -1;
    }
    if (d->pos > d->data.size()) d->data.resize(d->pos);
    d->data.replace(d->pos, std::min(size, d->data.size() - d->pos), buf, size);
    d->pos += size;
    return static_cast<ssize_t>(size);
}

std::int64_t device_seek(void* arg, std::int64_t offset, int whence) {
    auto* d = static_cast<Device*>(arg);
    if (d->seek_silent_failure) return -1;
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? static_cast<std::int64_t>(d->pos)
                                                   : static_cast<std::int64_t>(d->data.size());
    if (base + offset < 0) {
        errno = EINVAL;
        return -1;
    }
    d->pos = static_cast<std::size_t>(base + offset);
    return base + offset;
}

int device_close(void* arg) {
    auto* d = static_cast<Device*>(arg);
    ++d->closes;
    if (d->close_errno != 0) {
        errno = d->close_errno;
        return -1;
    }
    return 0;
}

class CallbackStreamTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override {
        EXPECT_EQ(tslib_test::live_blocks().count("funopen.filepd"), 0u) << "stream record leaked";
    }
    Device dev;
};

TEST_F(CallbackStreamTest, ReadsWritesSeeksAndCloses) {
    dev.data = "hello world";
    std::FILE* fp = funopen_create(&dev, device_read, device_write, device_seek, device_close);
    ASSERT_NE(fp, nullptr);
    char buf[16] = {};
    ASSERT_EQ(std::fread(buf, 1, 5, fp), 5u);
    EXPECT_STREQ(buf, "hello");
    ASSERT_EQ(std::fseek(fp, 6, SEEK_SET), 0);
    EXPECT_EQ(std::ftell(fp), 6);
    ASSERT_NE(std::fgets(buf, sizeof buf, fp), nullptr);
    EXPECT_STREQ(buf, "world");
    ASSERT_EQ(std::fseek(fp, 0, SEEK_END), 0);
    ASSERT_EQ(std::fprintf(fp, "%c%d", '!', 42), 3);
    ASSERT_EQ(std::fflush(fp), 0);
    EXPECT_EQ(dev.data, "hello world!42");
    std::rewind(fp);
    EXPECT_EQ(std::fgetc(fp), 'h');
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_EQ(dev.closes, 1);
}

TEST_F(CallbackStreamTest, WithoutReadOrWriteFunctionThereIsNoStream) {
    errno = 0;
    EXPECT_EQ(funopen_create(&dev, nullptr, nullptr, device_seek, device_close), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(CallbackStreamTest, OneWayStreamsRefuseTheOtherDirection) {
    dev.data = "abc";
    std::FILE* in = funopen_create(&dev, device_read, nullptr, nullptr, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(std::fputc('x', in), EOF);
    EXPECT_TRUE(std::ferror(in));
    std::clearerr(in);
    EXPECT_EQ(std::fgetc(in), 'a');
    EXPECT_EQ(std::fclose(in), 0);

    std::FILE* out = funopen_create(&dev, nullptr, device_write, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::fgetc(out), EOF);
    EXPECT_TRUE(std::ferror(out));
    EXPECT_EQ(std::fclose(out), 0);
    EXPECT_EQ(dev.data, "abc");
}

TEST_F(CallbackStreamTest, SeekingWithoutSeekFunctionFailsWithEspipe) {
    dev.data = "abc";
    std::FILE* fp = funopen_create(&dev, device_read, nullptr, nullptr, device_close);
    errno = 0;
    EXPECT_EQ(std::fseek(fp, 1, SEEK_SET), -1);
    EXPECT_EQ(errno, ESPIPE);
    errno = 0;
    EXPECT_EQ(std::ftell(fp), -1);
    EXPECT_EQ(errno, ESPIPE);
    EXPECT_EQ(std::fgetc(fp), 'a') << "the stream still reads";
    EXPECT_EQ(std::fclose(fp), 0);
}

TEST_F(CallbackStreamTest, SeekFailureWithoutReasonReportsEinval) {
    std::FILE* fp = funopen_create(&dev, device_read, nullptr, device_seek, nullptr);
    dev.seek_silent_failure = true;
    errno = 0;
    EXPECT_EQ(std::fseek(fp, 1, SEEK_SET), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(std::fclose(fp), 0);
}

TEST_F(CallbackStreamTest, EndOfFileAndReadErrorsAreSeparateAndClearable) {
    dev.data = "x";
    std::FILE* fp = funopen_create(&dev, device_read, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::fgetc(fp), 'x');
    EXPECT_EQ(std::fgetc(fp), EOF);
    EXPECT_TRUE(std::feof(fp));
    EXPECT_FALSE(std::ferror(fp));

    dev.read_errno = EIO;
    std::clearerr(fp);
    errno = 0;
    EXPECT_EQ(std::fgetc(fp), EOF);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(std::ferror(fp));
    EXPECT_FALSE(std::feof(fp));
    std::clearerr(fp);
    EXPECT_FALSE(std::ferror(fp));
    EXPECT_FALSE(std::feof(fp));
    EXPECT_EQ(std::fclose(fp), 0);
}

TEST_F(CallbackStreamTest, AReadReportingMoreThanTheBufferHoldsIsAnError) {
    std::FILE* fp = funopen_create(
        &dev,
        [](void* arg, char* buf, std::size_t size) -> ssize_t {
            ++static_cast<Device*>(arg)->reads;
            std::memset(buf, 'z', size);
            return static_cast<ssize_t>(size + 1);
        },
        nullptr, nullptr, device_close);
    ASSERT_NE(fp, nullptr);
    char buf[8];
    errno = 0;
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, fp), 0u);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(std::ferror(fp));
    EXPECT_FALSE(std::feof(fp));
    EXPECT_EQ(dev.reads, 1);
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_EQ(dev.closes, 1);
}

TEST_F(CallbackStreamTest, WriteAndCloseErrorsReachTheCaller) {
    std::FILE* fp = funopen_create(&dev, nullptr, device_write, nullptr, device_close);
    ASSERT_EQ(std::fputs("pending", fp), 1);
    dev.write_errno = ENOSPC;
    errno = 0;
    EXPECT_EQ(std::fflush(fp), EOF);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(std::ferror(fp));
    dev.write_errno = 0;
    dev.close_errno = EIO;
    errno = 0;
    EXPECT_EQ(std::fclose(fp), EOF);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(dev.closes, 1);
}

TEST_F(CallbackStreamTest, CloseWritesPendingOutputFirst) {
    std::FILE* fp = funopen_create(&dev, nullptr, device_write, nullptr, device_close);
    ASSERT_EQ(std::fputs("tail", fp), 1);
    EXPECT_EQ(dev.data, "") << "still buffered";
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_EQ(dev.data, "tail");
}

TEST_F(CallbackStreamTest, LongFormattedWritesArriveWhole) {
    std::FILE* fp = funopen_create(&dev, nullptr, device_write, nullptr, nullptr);
    for (const std::size_t length : {std::size_t{210}, std::size_t{20000}, std::size_t{1} << 20}) {
        dev.data.clear();
        dev.pos = 0;
        const std::string text(length, 'q');
        ASSERT_EQ(std::fprintf(fp, "[%s]", text.c_str()), static_cast<int>(length + 2));
        ASSERT_EQ(std::fflush(fp), 0);
        EXPECT_EQ(dev.data, "[" + text + "]");
    }
    EXPECT_EQ(std::fclose(fp), 0);
}

TEST(PlainStreams, StandardStreamsAreUntouched) {
    std::FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(std::fputs("plain", fp), 1);
    ASSERT_EQ(std::fseek(fp, 1, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(fp), 'l');
    EXPECT_EQ(std::fclose(fp), 0);
}

}  // namespace
