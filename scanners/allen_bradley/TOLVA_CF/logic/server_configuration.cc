#include <cstdio>

#include "TOLVA_CF/logic/printout.h"
#include "platform/last_error.h"

namespace tolva::cf {

namespace {

class ServerConfiguration final : public ConfigurationSource {
  public:
    int read_device_settings(std::string_view, std::string_view, StoredDeviceSettings&) override {
        return unavailable();
    }
    int read_channels(std::string_view, std::string_view, int, int, std::span<qvr::ChannelRecord>) override {
        return unavailable();
    }

  private:
    static int unavailable() {
        std::fprintf(stderr, "TOLVA_CF: printing without records needs the configuration server, "
                             "which this library cannot reach yet\n");
        return platform::fail(platform::kErrorInvalidParameter);
    }
};

}  // namespace

ConfigurationSource& server_configuration() {
    static ServerConfiguration server;
    return server;
}

}  // namespace tolva::cf
