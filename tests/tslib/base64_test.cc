#include "tslib/base64.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tslib/typed_mem.h"
#include "tslib_test_util.h"

namespace {

const int kAccounting = typed_mem_turn_on();

constexpr const char* kOut = "test_output";

// Filters made here are destroyed on scope exit.
struct FilterHandle {
    Filter* f;
    explicit FilterHandle(Filter* filter) : f(filter) {}
    ~FilterHandle() {
        if (f != nullptr) f->destroy(&f);
    }
    FilterHandle(const FilterHandle&) = delete;
    FilterHandle& operator=(const FilterHandle&) = delete;
};

// Runs one filter over all of input; nullopt-like marker on failure.
struct RunResult {
    ssize_t length;
    int error;
    std::string text;
};

RunResult run(Filter* f, const std::string& input, int final = 1) {
    char* out = nullptr;
    errno = 0;
    const ssize_t r = filter_run(f, input.data(), input.size(), final, &out, kOut);
    RunResult result{r, errno, {}};
    if (r >= 0) {
        EXPECT_NE(out, nullptr);
        EXPECT_EQ(out[r], '\0') << "zero-terminated";
        result.text.assign(out, static_cast<std::size_t>(r));
        typed_mem_release(kOut, out);
    } else {
        EXPECT_EQ(out, nullptr);
    }
    return result;
}

std::string encode(const std::string& data, const char* alphabet = nullptr) {
    FilterHandle enc(base64_encoder_make(alphabet));
    EXPECT_NE(enc.f, nullptr);
    return run(enc.f, data).text;
}

RunResult decode(const std::string& text, int strict, const char* alphabet = nullptr) {
    FilterHandle dec(base64_decoder_make(alphabet, strict));
    EXPECT_NE(dec.f, nullptr);
    return run(dec.f, text);
}

// Independent straightforward encoder to compare large outputs with.
std::string reference_encode(const std::string& data) {
    static const char* sym = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(data[i]) << 16) |
                           (static_cast<unsigned char>(data[i + 1]) << 8) |
                           static_cast<unsigned char>(data[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += sym[(v >> s) & 63];
    }
    if (data.size() - i == 1) {
        const unsigned v = static_cast<unsigned char>(data[i]) << 16;
        out += sym[(v >> 18) & 63];
        out += sym[(v >> 12) & 63];
        out += "==";
    } else if (data.size() - i == 2) {
        const unsigned v =
            (static_cast<unsigned char>(data[i]) << 16) | (static_cast<unsigned char>(data[i + 1]) << 8);
        out += sym[(v >> 18) & 63];
        out += sym[(v >> 12) & 63];
        out += sym[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

class Base64Test : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override { EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked"; }
};

TEST_F(Base64Test, Rfc4648VectorsBothWays) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(encode(plain), coded) << plain;
        EXPECT_EQ(decode(coded, 1).text, plain) << coded;
        EXPECT_EQ(decode(coded, 0).text, plain) << coded;
    }
}

TEST_F(Base64Test, OutputDoesNotDependOnHowTheInputIsSplit) {
    const std::string data = random_bytes(40, 7);
    const std::string expected = reference_encode(data);
    for (std::size_t cut1 = 0; cut1 <= data.size(); cut1 += 3) {
        for (std::size_t cut2 = cut1; cut2 <= data.size(); ++cut2) {
            FilterHandle enc(base64_encoder_make(nullptr));
            FilterHandle dec(base64_decoder_make(nullptr, 1));
            std::string coded, plain;
            char buf[7];
            auto pump = [&](Filter* f, std::string& into) {
                for (ssize_t n; (n = f->read(f, buf, sizeof buf)) > 0;) into.append(buf, n);
            };
            for (auto [from, to] :
                 {std::pair{std::size_t{0}, cut1}, std::pair{cut1, cut2}, std::pair{cut2, data.size()}}) {
                ASSERT_EQ(enc.f->write(enc.f, data.data() + from, to - from),
                          static_cast<ssize_t>(to - from));
                pump(enc.f, coded);
            }
            ASSERT_EQ(enc.f->end(enc.f), 0);
            pump(enc.f, coded);
            ASSERT_EQ(coded, expected) << cut1 << "," << cut2;
            for (auto [from, to] :
                 {std::pair{std::size_t{0}, cut1}, std::pair{cut1, cut2}, std::pair{cut2, coded.size()}}) {
                ASSERT_EQ(dec.f->write(dec.f, coded.data() + from, to - from),
                          static_cast<ssize_t>(to - from));
                pump(dec.f, plain);
            }
            ASSERT_EQ(dec.f->end(dec.f), 0);
            pump(dec.f, plain);
            ASSERT_EQ(plain, data) << cut1 << "," << cut2;
        }
    }
}

TEST_F(Base64Test, StrictDecoderRefusesWhatTheLenientOneSkips) {
    EXPECT_EQ(decode("Zm9v YmFy", 0).text, "foobar");
    EXPECT_EQ(decode("Zm9v\r\nYmFy\n", 0).text, "foobar");
    const RunResult strict = decode("Zm9v YmFy", 1);
    EXPECT_EQ(strict.length, -1);
    EXPECT_EQ(strict.error, EINVAL);
    EXPECT_EQ(decode("!!!!", 0).text, "") << "nothing but junk decodes to nothing";

    FilterHandle dec(base64_decoder_make(nullptr, 1));
    errno = 0;
    EXPECT_EQ(dec.f->write(dec.f, "Zm9v*", 5), 4) << "bytes before the bad one are consumed";
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(dec.f->write(dec.f, "*", 1), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Base64Test, PadsAreSkippedAndShortGroupsCompletedAtTheEnd) {
    const std::pair<const char*, std::string> cases[] = {
        {"Zg", "f"},  // two symbols without pad
        {"Z", "d"},   // a single leftover symbol still gives a byte
        {"Zm8", "fo"}, {"Zm=8=", "fo"}, {"====", ""},
    };
    for (const auto& [coded, plain] : cases) {
        EXPECT_EQ(decode(coded, 1).text, plain) << coded;
    }
}

TEST_F(Base64Test, CustomAlphabets) {
    const char* url = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.";
    const std::string data("\xfb\xff\xfe", 3);
    EXPECT_EQ(encode(data), "+//+");
    EXPECT_EQ(encode(data, url), "-__-");
    EXPECT_EQ(encode("f", url), "Zg..");
    EXPECT_EQ(decode("-__-", 1, url).text, data);
    EXPECT_EQ(decode("Zg..", 1, url).text, "f");
    EXPECT_EQ(decode("+//+", 1, url).length, -1) << "'+' is not in this alphabet";
    EXPECT_EQ(decode("Zg==", 1, url).length, -1) << "'=' is not this alphabet's pad";
}

TEST_F(Base64Test, AlphabetsMustHave65DistinctCharacters) {
    const std::string standard = kBase64Alphabet;
    std::string repeated = standard;
    repeated[10] = repeated[20];
    std::string pad_repeats = standard;
    pad_repeats[64] = 'A';
    const std::string bad[] = {standard.substr(0, 64), standard + "!", repeated, pad_repeats, ""};
    for (const std::string& alphabet : bad) {
        errno = 0;
        EXPECT_EQ(base64_encoder_make(alphabet.c_str()), nullptr) << alphabet;
        EXPECT_EQ(errno, EINVAL);
        errno = 0;
        EXPECT_EQ(base64_decoder_make(alphabet.c_str(), 0), nullptr) << alphabet;
        EXPECT_EQ(errno, EINVAL);
    }
}

TEST_F(Base64Test, WritingAfterEndFailsWithEpipe) {
    for (Filter* raw : {base64_encoder_make(nullptr), base64_decoder_make(nullptr, 1)}) {
        FilterHandle f(raw);
        ASSERT_EQ(f.f->write(f.f, "QQ", 2), 2);
        ASSERT_EQ(f.f->end(f.f), 0);
        errno = 0;
        EXPECT_EQ(f.f->write(f.f, "QQ", 2), -1);
        EXPECT_EQ(errno, EPIPE);
        char buf[8];
        EXPECT_GT(f.f->read(f.f, buf, sizeof buf), 0) << "output pending before the end stays";
    }
}

TEST_F(Base64Test, FilterRunAcrossPieceBoundaries) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1023}, std::size_t{1024},
                                   std::size_t{1025}, std::size_t{1} << 20}) {
        SCOPED_TRACE(size);
        const std::string data = random_bytes(size, static_cast<unsigned>(size));
        const std::string coded = encode(data);
        ASSERT_EQ(coded, reference_encode(data));
        EXPECT_EQ(decode(coded, 1).text, data);
        EXPECT_EQ(decode(coded, 0).text, data);
    }
}

TEST_F(Base64Test, FilterRunWithoutFinalLeavesThePartialGroupPending) {
    FilterHandle enc(base64_encoder_make(nullptr));
    const RunResult r = run(enc.f, "foob", 0);
    EXPECT_EQ(r.text, "Zm9v");
    ASSERT_EQ(enc.f->end(enc.f), 0);
    char buf[8] = {};
    EXPECT_EQ(enc.f->read(enc.f, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "Yg==");
}

TEST_F(Base64Test, ConvertEstimates) {
    FilterHandle enc(base64_encoder_make(nullptr));
    FilterHandle dec(base64_decoder_make(nullptr, 0));
    struct Case {
        Filter* f;
        std::size_t in;
        int forward;
        std::size_t out;
    } cases[] = {
        {enc.f, 3, 1, 4}, {enc.f, 1, 1, 2}, {enc.f, 0, 1, 0}, {enc.f, 4, 0, 3},
        {dec.f, 4, 1, 3}, {dec.f, 1, 1, 1}, {dec.f, 3, 0, 4}, {dec.f, 1024, 0, 1366},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.f->convert(c.f, c.in, c.forward), c.out) << c.in << " " << c.forward;
    }
    EXPECT_GT(enc.f->convert(enc.f, SIZE_MAX, 1), 0u) << "no wrap-around";
}

TEST_F(Base64Test, FiltersAreAllocatedUnderTheirNames) {
    FilterHandle enc(base64_encoder_make(nullptr));
    FilterHandle dec(base64_decoder_make(nullptr, 0));
    auto live = tslib_test::live_blocks();
    EXPECT_EQ(live["base64_encoder"].count, 1u);
    EXPECT_EQ(live["base64_decoder"].count, 1u);
}

}  // namespace
