// Directory listings against servers that never stop: endless full pages, pages that ignore
// the index, names too long, and listings right at the bounds. Every listing ends with its
// error after a bounded number of requests, through each of the three listing calls.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "qvr/requests/directory_pages.h"
#include "qvr/requests/remote_file_requests.h"
#include "requests_fixture.h"

namespace {

using qvr::requests::kDirectoryPageSize;
using qvr::requests::kListingNamesMax;
using qvr::requests::kListingPagesMax;
using requests_test::RequestTest;

// The index a "DF" request asks for.
size_t index_of(std::string_view request) {
    const std::string text(request.substr(0, request.find('\0')));
    return std::stoul(text.substr(text.rfind('\t') + 1));
}

// A page as a server fills it: names from `index` while the text and its NUL fit the page.
std::string page_of(const std::function<std::string(size_t)>& name, size_t total, size_t index) {
    std::string text = "0,";
    for (size_t i = index; i < total; ++i) {
        const std::string next = name(i);
        if (text.size() + next.size() + 2 > kDirectoryPageSize) break;
        if (text.size() > 2) text += ',';
        text += next;
    }
    return text + '\0';
}

std::string long_name(size_t i) {
    const std::string n = std::to_string(i);
    return std::string(255 - n.size(), 'n') + n;
}

std::string short_name(size_t i) {
    return "f" + std::to_string(i);
}

struct Hostile {
    const char* name;
    // Makes the handler: gets the number of the request (from 0) and the request.
    std::function<std::string(size_t call, std::string_view request)> answer;
    int error;
    size_t max_requests;  // one listing asks at most this many pages
};

void PrintTo(const Hostile& h, std::ostream* out) { *out << h.name; }

std::vector<Hostile> hostile_servers() {
    const std::string same = page_of(long_name, 1000, 0);
    const std::string other = page_of(long_name, 1000, 300);
    return {
        // Every page full of names never seen, whatever the index.
        {"EndlessFullPages",
         [](size_t call, std::string_view) { return page_of(long_name, SIZE_MAX, call * 1000); },
         platform::kErrorMoreData, static_cast<size_t>(kListingPagesMax)},
        // Every page padded past full, with one new name: only the bound on pages stops it.
        {"PaddedPagesOfOneName",
         [](size_t call, std::string_view) {
             std::string text = "0," + short_name(call);
             text.insert(0, kDirectoryPageSize - 200 - text.size(), '0');
             return text + '\0';
         },
         platform::kErrorMoreData, static_cast<size_t>(kListingPagesMax)},
        {"SamePageEveryTime", [same](size_t, std::string_view) { return same; }, platform::kErrorInvalidData, 2},
        {"TwoPagesInTurn", [same, other](size_t call, std::string_view) { return call % 2 == 0 ? same : other; },
         platform::kErrorInvalidData, 3},
        {"HugeName",
         [](size_t, std::string_view) { return "0,a," + std::string(300, 'h') + ",b" + std::string(1, '\0'); },
         platform::kErrorInvalidData, 1},
        {"MoreNamesThanAListingHolds",
         [](size_t, std::string_view request) { return page_of(short_name, SIZE_MAX, index_of(request)); },
         platform::kErrorMoreData, 20},
    };
}

class HostileListing : public RequestTest, public testing::WithParamInterface<Hostile> {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        server().dispatcher().set_handler("DF", [this](std::string_view request, uint32_t) {
            return GetParam().answer(calls_++, request);
        });
    }
    // Runs one listing and checks its end; `listing` returns its result.
    void expect_bounded(const char* what, const std::function<int()>& listing) {
        SCOPED_TRACE(what);
        calls_ = 0;
        server().dispatcher().clear_requests();
        capture_.clear();
        EXPECT_EQ(listing(), -1);
        EXPECT_EQ(platform::last_error(), GetParam().error);
        EXPECT_EQ(errno, GetParam().error);
        EXPECT_LE(server().dispatcher().request_count(), GetParam().max_requests);
        EXPECT_EQ(trace("Listing of QVR_CURRENT_CONFIG\\many ended after ").size(), 1u);
    }
    size_t calls_ = 0;
};

TEST_P(HostileListing, EndsWithItsErrorAfterABoundedNumberOfRequests) {
    expect_bounded("counting", [] { return link_ListDirectory(".", "QVR_CURRENT_CONFIG\\many", "*", 0, nullptr); });
    std::vector<char> slots(10 * kRemoteNameSlot);
    expect_bounded("into slots",
                   [&] { return link_ListDirectory(".", "QVR_CURRENT_CONFIG\\many", "*", 10, slots.data()); });
    std::vector<std::string> names;
    expect_bounded("into a vector",
                   [&] { return qvr::requests::list_directory(".", "QVR_CURRENT_CONFIG\\many", "*", names); });
    EXPECT_TRUE(names.empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, HostileListing, testing::ValuesIn(hostile_servers()),
                         [](const testing::TestParamInfo<Hostile>& param) { return std::string(param.param.name); });

TEST_F(RequestTest, AListingOfAsManyNamesAsItMayHoldArrivesWhole) {
    server().dispatcher().set_handler("DF", [](std::string_view request, uint32_t) {
        return page_of(short_name, kListingNamesMax, index_of(request));
    });
    std::vector<std::string> names;
    EXPECT_EQ(qvr::requests::list_directory(".", "QVR_CURRENT_CONFIG\\many", "*", names), kListingNamesMax);
    ASSERT_EQ(names.size(), static_cast<size_t>(kListingNamesMax));
    EXPECT_EQ(names.back(), short_name(kListingNamesMax - 1));
    const size_t pages = server().dispatcher().request_count();
    EXPECT_GT(pages, 5u);
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG\\many", "*", 0, nullptr), kListingNamesMax);
    EXPECT_EQ(server().dispatcher().request_count(), 2 * pages);
}

TEST_F(RequestTest, APageThatOverlapsTheOneBeforeStillMovesTheListingOn) {
    // A name added to the folder between two pages shows the last name of a page again on
    // the next one.
    server().dispatcher().set_handler("DF", [](std::string_view request, uint32_t) {
        const size_t index = index_of(request);
        return page_of(long_name, 800, index == 0 ? 0 : index - 1);
    });
    std::vector<std::string> names;
    EXPECT_GT(qvr::requests::list_directory(".", "QVR_CURRENT_CONFIG\\many", "*", names), 800);
    EXPECT_EQ(names.back(), long_name(799));
}

}  // namespace
