#include "log_stores/mysql/base64_text.h"

#include <cstring>

#include "tslib/base64.h"
#include "tslib/filter.h"
#include "tslib/typed_mem.h"

namespace log_stores {
namespace {

constexpr std::string_view kSymbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char* kMemType = "Base64Text";

std::string run_filter(Filter* filter, std::string_view input) {
    if (filter == nullptr) return {};
    char* out = nullptr;
    const ssize_t n = filter_run(filter, input.data(), input.size(), 1, &out, kMemType);
    filter->destroy(&filter);
    std::string result;
    if (n > 0 && out != nullptr) result.assign(out, static_cast<std::size_t>(n));
    if (out != nullptr) typed_mem_release(kMemType, out);
    return result;
}

}  // namespace

std::string Base64DecodeText(std::string_view text) {
    std::size_t end = 0;
    while (end < text.size() && kSymbols.find(text[end]) != std::string_view::npos) ++end;
    // A lone last symbol carries fewer than 8 bits: no byte.
    std::string_view symbols = text.substr(0, end);
    if (symbols.size() % 4 == 1) symbols.remove_suffix(1);
    return run_filter(base64_decoder_make(nullptr, 1), symbols);
}

std::string Base64EncodeText(std::string_view bytes) {
    return run_filter(base64_encoder_make(nullptr), bytes);
}

}  // namespace log_stores
