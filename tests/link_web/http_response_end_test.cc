// Where the web transport takes an HTTP response to end: fed a byte at a time, a response
// ends exactly at its last byte, or never when its headers tell no end it understands.
#include "link_web/http_response_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kNever = std::string::npos;

struct EndCase {
    const char* name;
    std::string stream;
    size_t end;  // bytes up to and including the last of the response, or kNever
};

std::string head(const std::string& headers) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n" + headers + "\r\n";
}

std::vector<EndCase> cases() {
    const std::string chunked = head("Transfer-Encoding: chunked\r\n");
    const std::string trailer_end = chunked + "3;x=y\r\nabc\r\nA\r\n0123456789\r\n0\r\nX-Sum: 1\r\n\r\n";
    const std::string length5 = head("Content-Length: 5\r\n") + "hello";
    return {
        {"Length", length5 + "junk", length5.size()},
        {"LengthZero", head("content-length:   0  \r\n"), head("content-length:   0  \r\n").size()},
        {"Chunks", chunked + "5\r\nhello\r\n0\r\n\r\nmore", chunked.size() + 15},
        {"ChunksWithExtensionsAndTrailer", trailer_end + "x", trailer_end.size()},
        {"ChunkedLastOfCodings", head("Transfer-Encoding: gzip, chunked\r\n") + "1\r\nz\r\n0\r\n\r\n",
         head("Transfer-Encoding: gzip, chunked\r\n").size() + 11},
        {"ChunkedWinsOverLength", head("Content-Length: 2\r\nTransfer-Encoding: chunked\r\n") + "1\r\nz\r\n0\r\n\r\n",
         head("Content-Length: 2\r\nTransfer-Encoding: chunked\r\n").size() + 11},
        {"InterimResponseFirst", "HTTP/1.1 100 Continue\r\n\r\n" + length5, 25 + length5.size()},
        {"NoContent", "HTTP/1.1 204 No Content\r\n\r\nrest", 27},
        {"BareLineFeeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok!", 37},
        {"LongHeaderBeforeTheLength", head("X-Long: " + std::string(10000, 'l') + "\r\nContent-Length: 1\r\n") + "1",
         head("X-Long: " + std::string(10000, 'l') + "\r\nContent-Length: 1\r\n").size() + 1},
        {"ToTheClose", head("Connection: close\r\n") + "everything", kNever},
        {"OtherLastCoding", head("Transfer-Encoding: chunked, gzip\r\n") + "1\r\nz\r\n0\r\n\r\n", kNever},
        {"ConflictingLengths", head("Content-Length: 5\r\nContent-Length: 6\r\n") + "hello!", kNever},
        {"LengthNoNumber", head("Content-Length: 5x\r\n") + "hello", kNever},
        {"LengthLineCut", head("Content-Length: " + std::string(300, ' ') + "5\r\n") + "hello", kNever},
        {"ChunkSizeNoNumber", chunked + "5g\r\nhello\r\n0\r\n\r\n", kNever},
        {"ChunkSizeTooLarge", chunked + "10000000000000000\r\n", kNever},
        {"ChunkWithoutItsLineEnd", chunked + "5\r\nhelloX\r\n0\r\n\r\n", kNever},
        {"NoStatusLine", "<html>\r\n\r\n", kNever},
        {"SwitchingProtocols", "HTTP/1.1 101 Switching\r\nContent-Length: 0\r\n\r\n", kNever},
    };
}

class ResponseEnd : public testing::TestWithParam<EndCase> {};

TEST_P(ResponseEnd, ComesAtTheLastByteOfTheResponse) {
    const EndCase& c = GetParam();
    link_web::HttpResponseEnd end;
    size_t ended = kNever;
    for (size_t i = 0; i < c.stream.size(); ++i) {
        end.feed(std::string_view(c.stream).substr(i, 1));
        if (end.complete() && ended == kNever) ended = i + 1;
    }
    EXPECT_EQ(ended, c.end);
    link_web::HttpResponseEnd whole;
    whole.feed(c.stream);
    EXPECT_EQ(whole.complete(), c.end != kNever);
    // A new response starts from nothing.
    whole.reset();
    EXPECT_FALSE(whole.complete());
    whole.feed(head("Content-Length: 1\r\n"));
    EXPECT_FALSE(whole.complete());
    whole.feed("x");
    EXPECT_TRUE(whole.complete());
}

INSTANTIATE_TEST_SUITE_P(Table, ResponseEnd, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<EndCase>& param) { return std::string(param.param.name); });

}  // namespace
