#pragma once
// A script for the recording ODBC driver and the log it writes, in a folder of the test.
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace log_stores_test {

class RecordingScript {
  public:
    explicit RecordingScript(const std::string& script) {
        std::ofstream(dir_ / "script.txt") << script;
    }
    // "Provider=MSDASQL;Driver=<recorder>;Script=...;Log=..."
    std::string connection_string() const {
        return "Provider=MSDASQL;Driver=" RECORDER_DRIVER ";Script=" + (dir_ / "script.txt").string() +
               ";Log=" + (dir_ / "log.txt").string();
    }
    std::string log() const {
        std::ifstream in(dir_ / "log.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool has_unexpected() const { return log().find("UNEXPECTED") != std::string::npos; }

  private:
    qvr_test::TempDir dir_;
};

}  // namespace log_stores_test
