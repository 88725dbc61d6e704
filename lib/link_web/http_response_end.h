#pragma once
// Where an HTTP response ends, followed as its bytes arrive: after its headers, by its
// Content-Length or at its last chunk and the trailer after it; interim (1xx) responses are
// passed over. A response whose headers tell no end (read to the close) or tell it in a way
// that is not understood never ends here, so its reader waits as before. Only the current
// line's first bytes are kept.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace link_web {

class HttpResponseEnd {
  public:
    // A new response starts with the next byte.
    void reset();
    // The next bytes of the stream.
    void feed(std::string_view bytes);
    // The whole response has arrived; bytes fed afterwards are not its own.
    bool complete() const { return state_ == State::complete; }

  private:
    enum class State { status_line, headers, body, chunk_size, chunk_data, chunk_end, trailer, open_ended, complete };
    void end_of_line();
    void end_of_headers();
    void header(std::string_view line);
    void chunk_size_line(std::string_view line);

    State state_ = State::status_line;
    std::string line_;       // the current line's first bytes
    bool line_cut_ = false;  // it was longer than what is kept
    int status_ = 0;
    bool transfer_coded_ = false;
    bool chunked_ = false;  // its last transfer coding is chunked
    bool length_known_ = false;
    bool length_unclear_ = false;  // conflicting, malformed or cut
    uint64_t length_ = 0;
    uint64_t remaining_ = 0;  // of the body or the current chunk
};

}  // namespace link_web
