// Base64 filters on arbitrary input: decoding never fails on what encoding produced, the
// lenient decoder equals the strict one on the input stripped of foreign characters, and
// how the input is split across writes does not change the result.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tslib/base64.h"
#include "tslib/filter.h"
#include "tslib/typed_mem.h"

namespace {

constexpr const char* kMtype = "fuzz";

struct Output {
    bool ok;
    std::string bytes;
};

Output run_whole(Filter* f, const std::string& in) {
    char* out = nullptr;
    const ssize_t n = filter_run(f, in.data(), in.size(), 1, &out, kMtype);
    f->destroy(&f);
    if (n < 0) {
        if (out != nullptr) std::abort();
        return {false, {}};
    }
    if (out[n] != '\0') std::abort();
    Output result{true, std::string(out, static_cast<std::size_t>(n))};
    typed_mem_release(kMtype, out);
    return result;
}

// Writes in pieces of a given length, reading the output in small pieces too.
Output run_split(Filter* f, const std::string& in, std::size_t piece) {
    std::string out;
    char buf[5];
    auto pump = [&] {
        for (ssize_t n; (n = f->read(f, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    };
    bool ok = true;
    for (std::size_t at = 0; at < in.size() && ok;) {
        const std::size_t n = std::min(piece, in.size() - at);
        const ssize_t r = f->write(f, in.data() + at, n);
        if (r <= 0)
            ok = false;
        else
            at += static_cast<std::size_t>(r);
        pump();
    }
    if (ok && f->end(f) != 0) ok = false;
    pump();
    f->destroy(&f);
    return {ok, ok ? out : std::string()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 37;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Round trip.
    const Output coded = run_whole(base64_encoder_make(nullptr), input);
    if (!coded.ok) std::abort();
    if (coded.bytes.size() != (input.size() + 2) / 3 * 4) std::abort();
    for (const int strict : {0, 1}) {
        const Output back = run_whole(base64_decoder_make(nullptr, strict), coded.bytes);
        if (!back.ok || back.bytes != input) std::abort();
        const Output split = run_split(base64_decoder_make(nullptr, strict), coded.bytes, piece);
        if (!split.ok || split.bytes != input) std::abort();
    }
    const Output split_coded = run_split(base64_encoder_make(nullptr), input, piece);
    if (!split_coded.ok || split_coded.bytes != coded.bytes) std::abort();

    // Arbitrary text as base64.
    std::string clean;
    bool foreign = false;
    for (const char c : input) {
        if (std::strchr(kBase64Alphabet, c) != nullptr && c != '\0') {
            clean += c;
        } else {
            foreign = true;
        }
    }
    const Output lenient = run_whole(base64_decoder_make(nullptr, 0), input);
    const Output strict = run_whole(base64_decoder_make(nullptr, 1), clean);
    if (!lenient.ok || !strict.ok || lenient.bytes != strict.bytes) std::abort();
    if (lenient.bytes.size() > (input.size() * 3 + 3) / 4) std::abort();
    const Output strict_raw = run_whole(base64_decoder_make(nullptr, 1), input);
    if (strict_raw.ok == foreign) std::abort();
    const Output lenient_split = run_split(base64_decoder_make(nullptr, 0), input, piece);
    if (!lenient_split.ok || lenient_split.bytes != lenient.bytes) std::abort();
    return 0;
}
