#pragma once
// What the configuration store tests share: a configuration tree with its switches, the
// message sink's reports, channel records and file bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/records/channel_record.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/config_testing.h"
#include "qvr/testing/settings_testing.h"
#include "qvr/diag/sink.h"
#include "qvr/testing/sink_testing.h"
#include "support/temp_dir.h"

namespace cfg_test {

namespace fs = std::filesystem;

inline void set_switch(const std::string& name, const std::string& value) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

inline void remove_switch(const std::string& name) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                            platform::kKeyAllAccess, key),
              0);
    key.delete_value(name);
}

inline void set_edition(const std::string& name) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kMakerKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("ProductName", name), 0);
    qvr::reset_product_settings_for_test();
}

// The message sink's reports while the object lives.
class SinkCapture {
  public:
    SinkCapture() {
        qvr::set_sink_capture([this](const qvr::SinkEntry& e) {
            std::lock_guard lock(mutex_);
            messages_.push_back(e.message);
        });
    }
    ~SinkCapture() { qvr::set_sink_capture({}); }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::string last() {
        std::lock_guard lock(mutex_);
        return messages_.empty() ? std::string() : messages_.back();
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
};

// <root>/CURRENT_CONFIG (QVR_CURRENT_CONFIG) with device folders below it. The audit switch
// is off unless a test turns it on, and the switch warnings start afresh.
class ConfigTree : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(config_);
        setenv("QVR_CURRENT_CONFIG", config_.c_str(), 1);
        setenv("QVR_BIN", (dir_ / "BIN").c_str(), 1);
        qvr::reset_audit_for_test();
        audit_SetEnabled(0);
        qvr::cfg::reset_switch_warnings_for_test();
    }
    std::string device(const std::string& name) {
        fs::create_directories(config_ / name);
        return (config_ / name).string();
    }
    // The audit switch as the configuration folder's own record holds it.
    void turn_audit_on() {
        qvr_test::write_file(config_ / "config", std::string("\x01\x01", 2));
        qvr::reset_audit_for_test();
    }
    std::vector<std::string> audit_lines() {
        std::vector<std::string> lines;
        const std::string text = qvr_test::read_file(config_ / qvr::kAuditFileName);
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                lines.push_back(text.substr(at));
                break;
            }
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

    qvr_test::TempDir dir_;
    fs::path config_ = dir_ / "CURRENT_CONFIG";
    SinkCapture sink_;
};

// An audit line without its date, time and user: what follows the third TAB.
inline std::string audit_entry(const std::string& line) {
    std::size_t at = 0;
    for (int i = 0; i < 3 && at != std::string::npos; ++i) at = line.find('\t', at == 0 ? 0 : at + 1);
    return at == std::string::npos ? line : line.substr(at + 1);
}

inline std::string file_bytes(const fs::path& path) {
    return fs::exists(path) ? qvr_test::read_file(path) : std::string();
}

inline qvr::ChannelRecord channel(qvr::ChannelKind kind, const char* tag, bool enabled = true) {
    qvr::ChannelRecord r{};
    r.head.Type = kind;
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    qvr::split_text(r, qvr::ChannelText::Description, std::string("about ") + tag);
    r.head.Flags.set(qvr::AnalogFlag::Enable, enabled);
    if (!qvr::is_digital(kind)) qvr::split_text(r, qvr::ChannelText::Units, "degC");
    return r;
}

}  // namespace cfg_test
