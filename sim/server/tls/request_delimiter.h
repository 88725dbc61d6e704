#pragma once
// Where a request ends on the TLS stream, which carries no length: the text to its NUL, then
// the data its code carries. "WF" the byte count of its second field, right after the tab
// that ends its ninth field; "HF" and "FF" the data size of their first field after the NUL;
// "CF" the record size of its third field, right after the comma that ends its fourth field
// (no NUL); "SV" UTF-16LE text after the comma that ends its third field, up to its 2-byte NUL.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sim_server {

struct RequestExtent {
    enum class State { need_more, complete, invalid };
    State state = State::need_more;
    size_t length = 0;  // complete: the bytes of the request
};

// Looks at the bytes received so far (the request starts at the first). A request longer
// than `limit` is invalid.
RequestExtent delimit_request(std::string_view bytes, size_t limit);

}  // namespace sim_server
