#pragma once
// A configuration-access test: this machine's product tree under the test folder, and a
// stand-in server on another machine's pipe ("plant2\pipe\quorvane") whose product tree is
// that machine's share as the RemoteMachines entry maps it here.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/link_fixture.h"
#include "platform/registry_key.h"
#include "platform/remote_path.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/config_remote_testing.h"
#include "qvr/testing/link_testing.h"
#include "qvr/testing/settings_testing.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "support/temp_dir.h"

namespace config_remote_test {

namespace fs = std::filesystem;

inline constexpr std::size_t kRecord = 216;
inline constexpr std::size_t kHeader = 8;

// Bytes that differ at every position and between seeds.
inline std::string pattern(std::size_t size, int seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + i / 251 + seed * 31 + 1) & 0xFF);
    return out;
}

inline void set_machine_string(const char* key_path, const std::string& name, const std::string& value) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, key_path,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

class ConfigAccessTest : public testing::Test {
  protected:
    void SetUp() override {
        qvr::link_testing::reset_table();
        link_test::switch_trace_on("CfgRemote");
        unsetenv("QVR_CURRENT_CONFIG");
        set_machine_string(kProductKey, "Root:", (temp_.path() / "local").string());
        qvr::reset_product_settings_for_test();
        const fs::path mount = temp_.path() / "mnt" / "plant2";
        set_machine_string(platform::kRemoteMachinesKey, "PLANT2", mount.string());
        tree_ = std::make_unique<sim_server::ProductTree>((mount / reg_GetProductName()).string());
        stand_in_ = std::make_unique<link_test::StandIn>("plant2");
        sim_server::add_request_handlers(stand_in_->dispatcher, tables_, *tree_);
        ASSERT_EQ(stand_in_->front.start(), 0);
        const char* local = env_GetProductFolder("QVR_CURRENT_CONFIG");
        ASSERT_NE(local, nullptr);
        local_config_ = local;
        fs::create_directories(local_config_);
    }
    void TearDown() override {
        qvr::config_remote_testing::set_requests_for_every_server(false);
        qvr::link_testing::reset_table();
        stand_in_.reset();
        trace_Destroy();
    }

    // Every server, the pipe one too, served by requests and their fallbacks.
    void by_requests() { qvr::config_remote_testing::set_requests_for_every_server(true); }
    sim_server::Dispatcher& dispatcher() { return stand_in_->dispatcher; }
    void fail_next(const char* code, const std::string& reply) {
        dispatcher().script_reply(code, reply + std::string(1, '\0'));
    }
    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (const auto& r : stand_in_->dispatcher.requests()) out.push_back(r.bytes);
        return out;
    }
    std::vector<std::string> sent_codes() const {
        std::vector<std::string> out;
        for (const auto& r : stand_in_->dispatcher.requests()) out.push_back(r.bytes.substr(0, 2));
        return out;
    }
    fs::path remote_config() const { return tree_->folder("QVR_CURRENT_CONFIG"); }
    const fs::path& local_config() const { return local_config_; }

    // A device folder with a channel table of `count` records, "config" (AutoEnable and a
    // record), "saveconfig" and an extra file.
    static void make_device(const fs::path& config, const std::string& device, int count,
                            std::size_t config_size, std::size_t extra_size, int seed = 1) {
        const fs::path d = config / device;
        qvr_test::write_file(d / "ai", std::string(kHeader, '\0') + pattern(count * kRecord, seed));
        qvr_test::write_file(d / "config", std::string(1, '\1') + pattern(config_size, seed + 1));
        qvr_test::write_file(d / "saveconfig", std::string("\1\0\x10\x0e\0\0", 6));  // outputs, rate 3600
        qvr_test::write_file(d / "dev.extra", pattern(extra_size, seed + 2));
    }

    qvr_test::TempDir temp_;
    qvr_test::DebugCapture capture_;
    sim_server::RequestTables tables_;
    std::unique_ptr<sim_server::ProductTree> tree_;
    std::unique_ptr<link_test::StandIn> stand_in_;
    fs::path local_config_;
};

}  // namespace config_remote_test
