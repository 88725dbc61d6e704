#pragma once
// What the stand-in server knows of its processors, devices, loggers, channel values and
// state, for the handlers of the configuration requests. Tests set it and read it back
// through `lock()`; the handlers hold the same lock for each request.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim_server {

struct ProcessorEntry {
    std::string name;
    std::string print_name;
    std::string channels = "AA:10";  // "XX:n"
    int run = 1;
    char type_letter = 'A';
    int state[2] = {0, 0};
    std::string state_text;
};

struct DeviceEntry {
    std::string name;
    int number = 1;
    std::string print_name;
    std::string ranges = "AI:8";  // per kind in kind order, blank-separated, "-" unused
    int state[2] = {0, 0};
    int value = 0;
    std::string state_text;
    std::string setup_text;
};

struct LoggerEntry {
    std::string kind;
    int number = 1;
    std::string description;
    std::string name;  // "TL," and "DL"/"EL" name
    bool enabled = true;
    int state[2] = {0, 0};
    int value = 0;
    std::string state_text;
};

struct ServerTables {
    std::vector<ProcessorEntry> processors;
    std::vector<DeviceEntry> devices;
    std::vector<LoggerEntry> loggers;
    std::map<std::string, std::string> channel_values;  // SV (UTF-16 units as bytes) and FV texts
    std::map<std::string, std::string> tag_channels;    // tag -> 4 bytes of prefix and u16 number
    int state_number = 0;                               // "BS"
    std::string state_text1, state_text2;
    bool enabled = true;       // "DS" / "ES"
    std::string zone = "UTC";  // "TS" answers with this TZ's zone record
    int32_t seconds = 0;       // "TS": 0 means now
    int16_t milliseconds = 0;
};

class RequestTables {
  public:
    // The tables under their lock, for as long as the guard lives.
    struct Guard {
        std::unique_lock<std::mutex> lock;
        ServerTables& tables;
        ServerTables* operator->() { return &tables; }
    };
    Guard lock() { return Guard{std::unique_lock(mutex_), tables_}; }

  private:
    std::mutex mutex_;
    ServerTables tables_;
};

}  // namespace sim_server
