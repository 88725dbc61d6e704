#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "support/temp_dir.h"
#include "tslib/base64.h"
#include "tslib/filter.h"
#include "tslib/funopen.h"
#include "tslib/typed_mem.h"
#include "tslib_test_util.h"

namespace {

const int kAccounting = typed_mem_turn_on();

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

std::string encoded(const std::string& data) {
    Filter* enc = base64_encoder_make(nullptr);
    char* out = nullptr;
    const ssize_t n = filter_run(enc, data.data(), data.size(), 1, &out, "test_output");
    std::string text(out, static_cast<std::size_t>(n));
    typed_mem_release("test_output", out);
    enc->destroy(&enc);
    return text;
}

std::string read_all(std::FILE* fp) {
    std::string out;
    char buf[333];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) out.append(buf, n);
    return out;
}

// An underlying stream made of callbacks, to watch closes and inject failures.
struct Sink {
    std::string data;
    std::size_t pos = 0;
    int closes = 0;
    int fail_errno = 0;
};

std::FILE* sink_stream(Sink* sink) {
    return funopen_create(
        sink,
        [](void* arg, char* buf, std::size_t size) -> ssize_t {
            auto* s = static_cast<Sink*>(arg);
            if (s->fail_errno != 0) {
                errno = s->fail_errno;
                return -1;
            }
            const std::size_t n = std::min(size, s->data.size() - s->pos);
            std::memcpy(buf, s->data.data() + s->pos, n);
            s->pos += n;
            return static_cast<ssize_t>(n);
        },
        [](void* arg, const char* buf, std::size_t size) -> ssize_t {
            auto* s = static_cast<Sink*>(arg);
            if (s->fail_errno != 0) {
                errno = s->fail_errno;
                return -1;
            }
            s->data.append(buf, size);
            return static_cast<ssize_t>(size);
        },
        nullptr,
        [](void* arg) {
            ++static_cast<Sink*>(arg)->closes;
            return 0;
        });
}

// Writes every input byte `kRepeat` times, and a tail at the end, yet estimates one byte
// of output for any input.
struct RepeatFilter : Filter {
    static constexpr std::size_t kRepeat = 50;
    std::string pending;
    std::size_t taken = 0;

    RepeatFilter() : Filter{read, write, end, convert, destroy} {}
    static RepeatFilter* of(Filter* f) { return static_cast<RepeatFilter*>(f); }
    static ssize_t read(Filter* f, void* buf, std::size_t len) {
        RepeatFilter* r = of(f);
        const std::size_t n = std::min(len, r->pending.size() - r->taken);
        std::memcpy(buf, r->pending.data() + r->taken, n);
        r->taken += n;
        return static_cast<ssize_t>(n);
    }
    static ssize_t write(Filter* f, const void* data, std::size_t len) {
        for (std::size_t i = 0; i < len; ++i)
            of(f)->pending.append(kRepeat, static_cast<const char*>(data)[i]);
        return static_cast<ssize_t>(len);
    }
    static int end(Filter* f) {
        of(f)->pending += "<end>";
        return 0;
    }
    static std::size_t convert(Filter*, std::size_t, int) { return 1; }
    static void destroy(Filter** fp) { *fp = nullptr; }
};

TEST(FilterRun, AShortEstimateGrowsTheOutput) {
    const std::string data = random_bytes(3000, 5);  // several pieces of input
    std::string expected;
    for (const char c : data) expected.append(RepeatFilter::kRepeat, c);
    expected += "<end>";
    RepeatFilter f;
    char* out = nullptr;
    const ssize_t n = filter_run(&f, data.data(), data.size(), 1, &out, "test_output");
    ASSERT_EQ(n, static_cast<ssize_t>(expected.size()));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), expected);
    EXPECT_EQ(out[n], '\0');
    typed_mem_release("test_output", out);
    EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked";
}

class FilterStreamTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override { EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked"; }
    qvr_test::TempDir dir;
};

TEST_F(FilterStreamTest, ReadingThroughADecoderEndsInEndOfFileNotError) {
    const std::string data = random_bytes(100000, 3);
    const std::string path = dir / "coded.txt";
    qvr_test::write_file(path, encoded(data));
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    std::FILE* fp = filter_stream_open(base64_decoder_make(nullptr, 1), file, 0, "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(read_all(fp), data);
    EXPECT_TRUE(std::feof(fp));
    EXPECT_FALSE(std::ferror(fp));
    EXPECT_EQ(std::fgetc(fp), EOF);
    EXPECT_FALSE(std::ferror(fp));
    EXPECT_EQ(std::fclose(fp), 0);
}

TEST_F(FilterStreamTest, EmptyOrJunkInputReadsAsEndOfFile) {
    for (const char* input : {"", "!!!\n"}) {
        Sink sink;
        sink.data = input;
        std::FILE* fp = filter_stream_open(base64_decoder_make(nullptr, 0), sink_stream(&sink), 0, "r");
        ASSERT_NE(fp, nullptr);
        EXPECT_EQ(std::fgetc(fp), EOF) << '"' << input << '"';
        EXPECT_TRUE(std::feof(fp));
        EXPECT_FALSE(std::ferror(fp));
        EXPECT_EQ(std::fclose(fp), 0);
        EXPECT_EQ(sink.closes, 1);
    }
}

TEST_F(FilterStreamTest, ReadErrorsOfTheUnderlyingStreamOrTheFilterAreErrors) {
    Sink sink;
    sink.fail_errno = EIO;
    std::FILE* fp = filter_stream_open(base64_decoder_make(nullptr, 1), sink_stream(&sink), 0, "r");
    errno = 0;
    EXPECT_EQ(std::fgetc(fp), EOF);
    EXPECT_TRUE(std::ferror(fp));
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(std::fclose(fp), 0);

    Sink bad;
    bad.data = "Zm9v YmFy";
    fp = filter_stream_open(base64_decoder_make(nullptr, 1), sink_stream(&bad), 0, "r");
    char buf[16];
    errno = 0;
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, fp), 3u) << "the part before the blank";
    EXPECT_TRUE(std::ferror(fp));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(std::fclose(fp), 0);
}

TEST_F(FilterStreamTest, WritingThroughAnEncoderCompletesTheLastGroupOnClose) {
    const std::string data = random_bytes(5001, 4);
    const std::string path = dir / "out.txt";
    std::FILE* file = std::fopen(path.c_str(), "w+");
    ASSERT_NE(file, nullptr);
    std::FILE* fp = filter_stream_open(base64_encoder_make(nullptr), file, kFilterNoCloseStream, "w");
    ASSERT_NE(fp, nullptr);
    for (std::size_t at = 0; at < data.size(); at += 77) {
        const std::size_t n = std::min<std::size_t>(77, data.size() - at);
        ASSERT_EQ(std::fwrite(data.data() + at, 1, n, fp), n);
    }
    EXPECT_EQ(std::fclose(fp), 0);
    // The underlying file is still open and holds everything.
    std::rewind(file);
    EXPECT_EQ(read_all(file), encoded(data));
    EXPECT_EQ(std::fclose(file), 0);
}

TEST_F(FilterStreamTest, FlagsKeepTheUnderlyingStreamAndTheFilter) {
    Sink sink;
    std::FILE* under = sink_stream(&sink);
    std::FILE* fp = filter_stream_open(base64_encoder_make(nullptr), under, 0, "w");
    ASSERT_EQ(std::fputs("f", fp), 1);
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_EQ(sink.closes, 1) << "closed with the filter stream";
    EXPECT_EQ(sink.data, "Zg==");

    Sink kept;
    under = sink_stream(&kept);
    Filter* enc = base64_encoder_make(nullptr);
    fp = filter_stream_open(enc, under, kFilterNoCloseStream | kFilterNoDestroyFilter, "w");
    ASSERT_EQ(std::fputs("fo", fp), 1);
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_EQ(kept.closes, 0);
    EXPECT_EQ(tslib_test::live_blocks()["base64_encoder"].count, 1u) << "the filter survives";
    errno = 0;
    EXPECT_EQ(enc->write(enc, "x", 1), -1) << "it was ended by the close";
    EXPECT_EQ(errno, EPIPE);
    enc->destroy(&enc);
    EXPECT_EQ(enc, nullptr);
    EXPECT_EQ(std::fclose(under), 0);
    EXPECT_EQ(kept.data, "Zm8=");
}

TEST_F(FilterStreamTest, UnderlyingWriteFailureReachesTheCaller) {
    Sink sink;
    std::FILE* fp = filter_stream_open(base64_encoder_make(nullptr), sink_stream(&sink), 0, "w");
    ASSERT_EQ(std::fputs("data", fp), 1);
    sink.fail_errno = ENOSPC;
    errno = 0;
    EXPECT_EQ(std::fclose(fp), EOF);
    EXPECT_EQ(sink.closes, 1);
}

TEST_F(FilterStreamTest, OnlyReadOrWriteModes) {
    Sink sink;
    std::FILE* under = sink_stream(&sink);
    Filter* enc = base64_encoder_make(nullptr);
    for (const char* mode : {"r+", "a", "rw", "", "w+"}) {
        errno = 0;
        EXPECT_EQ(filter_stream_open(enc, under, 0, mode), nullptr) << mode;
        EXPECT_EQ(errno, EINVAL);
    }
    errno = 0;
    EXPECT_EQ(filter_stream_open(enc, nullptr, 0, "r"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    enc->destroy(&enc);
    EXPECT_EQ(std::fclose(under), 0);
}

}  // namespace
