// Printing without records through the library loaded with dlopen: the configuration comes
// from the stand-in server over TLS, by its bulk requests and by the file-request fallback.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TOLVA_CF/logic/recording_print_target.h"
#include "platform/registry_key.h"
#include "printout_pages.h"
#include "qvr/settings/reg.h"
#include "server/dispatcher.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "server/request_tables.h"
#include "server/tls/tls_front.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace {

using namespace tolva_cf_test;
using qvr::ChannelRecord;
using tolva::cf::RecordingPrintTarget;

class PrintFromServerTest : public testing::Test {
  protected:
    void SetUp() override {
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                                platform::kKeyAllAccess, key),
                  0);
        ASSERT_EQ(key.set_string("TlsCAFile", qvr_test::certificates().path("ca.crt")), 0);

        tree_ = std::make_unique<sim_server::ProductTree>((dir_ / "server").string());
        sim_server::add_request_handlers(dispatcher_, tables_, *tree_);
        sim_server::TlsFrontOptions options;
        options.certificate_file = qvr_test::certificates().path("good.crt");
        options.key_file = qvr_test::certificates().path("good.key");
        front_ = std::make_unique<sim_server::TlsFront>(dispatcher_, options);
        ASSERT_EQ(front_->start(), 0);

        void* handle = library();
        ASSERT_NE(handle, nullptr) << dlerror();
        print_all = reinterpret_cast<PrintAllConfigFn>(dlsym(handle, kPrintAllConfigSymbol));
        print_config = reinterpret_cast<PrintConfigFn>(dlsym(handle, kPrintConfigSymbol));
        ASSERT_TRUE(print_all && print_config);

        device = host_device(5);
        set_kind(device, 0, "A1", 3);
        set_kind(device, 1, "D1", 1);
        config.ScanRate = 1500;
        std::memcpy(config.Comm.CommPort, "COM3", 4);
        analog = {plain_analog("T1"), plain_analog("T2", false), plain_analog("T3")};
        digital = {digital_channel("DOOR_1")};
        const std::string folder = tree_->folder("QVR_CURRENT_CONFIG") + "/PRESS_LINE";
        qvr_test::write_file(folder + "/config",
                             std::string(1, '\1') + std::string(reinterpret_cast<const char*>(&config), sizeof config));
        qvr_test::write_file(folder + "/saveconfig", std::string("\1\0\xe2\x04\0\0", 6));  // rate 1250
        qvr_test::write_file(folder + "/ai", table_file(analog));
        qvr_test::write_file(folder + "/di", table_file(digital));
    }
    void TearDown() override { front_.reset(); }

    // Loaded once and kept, as the configuration program keeps it: the library's open
    // server links and TLS context live as long as the process.
    static void* library() {
        static void* const handle = dlopen(qvr_test::bin_path("TOLVA_CF.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        return handle;
    }

    static std::string table_file(const std::vector<ChannelRecord>& records) {
        return std::string(8, '\0') +
               std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof records[0]);
    }
    // The same job with every record given, as the server holds them.
    Pages given_pages() {
        const ChannelRecord* tables[5] = {analog.data(), digital.data(), nullptr, nullptr, nullptr};
        RecordingPrintTarget printer;
        EXPECT_EQ(print_all(&printer.target(), front_->url().c_str(), &device, 1, 1, 0, 1250, &config, tables), 0);
        return printer.pages;
    }
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& r : dispatcher_.requests()) {
            EXPECT_EQ(r.transport, "tls");
            out.push_back(r.bytes.substr(0, 2));
        }
        return out;
    }
    static int count(const std::vector<std::string>& codes, const char* code) {
        return static_cast<int>(std::count(codes.begin(), codes.end(), code));
    }

    PrintAllConfigFn print_all = nullptr;
    PrintConfigFn print_config = nullptr;
    tolva::HostDeviceRecord device{};
    tolva::DeviceConfigRecord config{};
    std::vector<ChannelRecord> analog;
    std::vector<ChannelRecord> digital;

    qvr_test::TempDir dir_;
    sim_server::Dispatcher dispatcher_;
    sim_server::RequestTables tables_;
    std::unique_ptr<sim_server::ProductTree> tree_;
    std::unique_ptr<sim_server::TlsFront> front_;
};

TEST_F(PrintFromServerTest, PrintAllConfigWithoutRecordsPrintsWhatTheServerHolds) {
    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(&printer.target(), front_->url().c_str(), &device, 0, 0, 0, 0, nullptr, nullptr), 0);
    const auto sent = codes();
    EXPECT_EQ(count(sent, "GF"), 1);
    EXPECT_EQ(count(sent, "IF"), 2);
    ASSERT_EQ(printer.pages.size(), 2u);
    EXPECT_EQ(printer.pages, given_pages());
    EXPECT_EQ(printer.pages[0].at(3), fmt("        AUTOSAVE       [%s]", "Y") +
                                          fmt("                    BY TAG  [%s]       SAVE RATE %02d(min) %02d(sec) "
                                              "%03d(ms)",
                                              "N", 0, 1, 250));
}

TEST_F(PrintFromServerTest, RefusedBulkRequestsFallBackToFileRequests) {
    dispatcher_.script_reply("GF", std::string("-1,5", 5));
    dispatcher_.script_reply("IF", std::string("-1,5", 5));
    dispatcher_.script_reply("IF", std::string("-1,5", 5));
    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(&printer.target(), front_->url().c_str(), &device, 0, 0, 0, 0, nullptr, nullptr), 0);
    EXPECT_GT(count(codes(), "RF"), 3);
    dispatcher_.clear_requests();
    EXPECT_EQ(printer.pages, given_pages());
}

TEST_F(PrintFromServerTest, AFailedReadPrintsNothing) {
    dispatcher_.script_reply("IF", std::string("-1,1465,table locked", 21));
    RecordingPrintTarget printer;
    EXPECT_EQ(print_config(&printer.target(), front_->url().c_str(), &device, 0, 1, 3, nullptr, nullptr), -1);
    EXPECT_TRUE(printer.pages.empty());
    EXPECT_EQ(count(codes(), "RF"), 0);

    RecordingPrintTarget range;
    ASSERT_EQ(print_config(&range.target(), front_->url().c_str(), &device, 0, 3, 3, nullptr, nullptr), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A13", "T3"));
    EXPECT_EQ(range.pages, Pages{expected});
}

}  // namespace
