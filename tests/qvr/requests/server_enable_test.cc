// "ES" on this machine with the host stand-in's process table: processors that run from the
// desktop must be in the table, or nothing is sent.
#include <gtest/gtest.h>

#include "host/runtime_host.h"
#include "platform/host_identity.h"
#include "platform/registry_key.h"
#include "qvr/requests/value_requests.h"
#include "qvr/settings/reg.h"
#include "requests_fixture.h"

namespace {

using requests_test::bytes;
using requests_test::RequestServer;
using requests_test::RequestTest;

class ServerEnable : public RequestTest {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                                platform::kKeyAllAccess, key),
                  0);
        ASSERT_EQ(key.set_string("Calculator From Desktop", "ON"), 0);
        auto t = server().tables.lock();
        t->processors.push_back({"CALC1", "Calculator", "CA:10", 1, 'A'});
        t->processors.push_back({"IDLE1", "Idle", "ID:1", 0, 'A'});  // no run flag: not asked about
    }
    std::string user() const { return platform::user_name().substr(0, 28); }
};

TEST_F(ServerEnable, ProcessorsInTheTableLetTheRequestGo) {
    sim_host::TableOptions options;
    options.standard_processes = false;
    options.receive = false;
    sim_host::RuntimeHost host(options);
    ASSERT_GE(host.add_process({"CALC1", "Calculator"}), 0);
    EXPECT_EQ(RequestES("."), 1);
    const auto sent = server().sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), bytes(("ES," + user()).c_str()));
    EXPECT_EQ(server().codes(), (std::vector<std::string>{"QP", "IP", "ES"}));
}

TEST_F(ServerEnable, AProcessorMissingFromTheTableSendsNothingWithErrnoZero) {
    sim_host::TableOptions options;
    options.standard_processes = false;
    options.receive = false;
    sim_host::RuntimeHost host(options);
    ASSERT_GE(host.add_process({"OTHER1", "Other"}), 0);
    errno = 77;
    EXPECT_EQ(RequestES("."), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(server().codes(), (std::vector<std::string>{"QP", "IP"}));
}

TEST_F(ServerEnable, AnotherMachineCannotStartDesktopProcessorsFromHere) {
    RequestServer plant((temp_.path() / "plant").string(), "plant5");
    ASSERT_EQ(plant.start(), 0);
    plant.tables.lock()->processors.push_back({"CALC1", "Calculator", "CA:10", 1, 'A'});
    // Its registry is out of reach, so no processor counts as enabled from the desktop.
    EXPECT_EQ(RequestES("plant5"), 1);
    EXPECT_EQ(plant.codes(), (std::vector<std::string>{"QP", "IP", "ES"}));
}

}  // namespace
