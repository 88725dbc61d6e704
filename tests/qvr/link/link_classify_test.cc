// Which server strings name this machine, and which transport each kind of string takes.
#include <gtest/gtest.h>

#include <string>

#include "platform/host_identity.h"
#include "qvr/link/link.h"

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

struct Case {
    std::string server;
    int local;
    ServerKind kind;
    int remote;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << '"' << c.server.substr(0, 60) << (c.server.size() > 60 ? "...\"" : "\"");
}

class Classify : public testing::TestWithParam<Case> {};

TEST_P(Classify, LocalKindAndRemote) {
    const Case& c = GetParam();
    EXPECT_EQ(link_IsLocalServer(c.server.c_str()), c.local);
    EXPECT_EQ(link_GetServerKind(c.server.c_str()), c.kind);
    EXPECT_EQ(link_IsRemoteServer(c.server.c_str()), c.remote);
}

const std::string kLongHost = std::string(40, 'h');

INSTANTIATE_TEST_SUITE_P(
    Table, Classify,
    testing::Values(Case{"", 1, 1, 0}, Case{".", 1, 1, 0}, Case{"LOCALHOST", 1, 1, 0}, Case{"127.0.0.1", 1, 1, 0},
                    Case{platform::computer_name(), 1, 1, 0}, Case{lower(platform::computer_name()), 1, 1, 0},
                    Case{platform::short_host_name(), 1, 1, 0}, Case{"http://localhost/", 1, 1, 0},
                    Case{"http://LocalHost:8080/service", 1, 1, 0},
                    Case{"PROVIDER=sqlite;Data Source=x", 0, 3, 1}, Case{"provider=x", 0, 3, 1},
                    Case{"C:\\data", 0, 3, 1}, Case{"\\\\other\\share", 0, 3, 1},
                    Case{"/var/lib/quorvane/x", 0, 3, 1}, Case{"other", 0, 1, 0},
                    Case{"tcp://other:5000", 0, 2, 1}, Case{"tcp://127.0.0.2:5000", 0, 2, 1},
                    Case{"tcp://" + kLongHost + ".plant.example.com:5000", 0, 2, 1},
                    Case{"https://server/x", 0, 4, 1}, Case{"http://127.0.0.2/", 0, 4, 1},
                    Case{"file:///data/run", 0, 3, 1}, Case{"tcp:///nohost", 0, 1, 0},
                    Case{"127.0.0.2", 0, 1, 0}, Case{std::string(1284, 'a'), 0, 1, 0},
                    Case{"tcp://" + std::string(1290, 'a'), 0, 1, 0}));

TEST(Classify, NullIsLocalAndThePipe) {
    EXPECT_EQ(link_IsLocalServer(nullptr), 1);
    EXPECT_EQ(link_GetServerKind(nullptr), 1);
    EXPECT_EQ(link_IsRemoteServer(nullptr), 0);
}

struct PathCase {
    std::string path;
    int local;
};

class LocalPath : public testing::TestWithParam<PathCase> {};

TEST_P(LocalPath, OnlyAnotherMachinesUncPathIsRemote) {
    EXPECT_EQ(link_IsLocalPath(GetParam().path.c_str()), GetParam().local) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Table, LocalPath,
                         testing::Values(PathCase{"/var/lib/x", 1}, PathCase{"C:\\data", 1},
                                         PathCase{"\\\\other\\share\\x", 0}, PathCase{"\\\\.\\share", 1},
                                         PathCase{"\\\\localhost\\share", 1},
                                         PathCase{"\\\\" + lower(platform::computer_name()) + "\\c$", 1},
                                         PathCase{"\\\\other", 1}, PathCase{"", 1},
                                         PathCase{"\\\\" + std::string(300, 'a') + "\\x", 0}));

}  // namespace
