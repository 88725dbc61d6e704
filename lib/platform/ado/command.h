#pragma once
// A statement with positional '?' parameters, run on a connection.
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/variant.h"

namespace ado {

class Connection;

// ADO's parameter type numbers that the stores use.
enum ParameterType : int { kParamInteger = 3, kParamDouble = 5, kParamDate = 7, kParamBigInt = 20,
                           kParamWChar = 130, kParamTimeStamp = 135, kParamVarWChar = 202 };

class Command {
  public:
    void set_active_connection(std::shared_ptr<Connection> connection) { connection_ = std::move(connection); }
    void set_command_text(std::u16string text) { text_ = std::move(text); }
    // A date value may come as an OLE date double; it is rounded to the nearest second. A
    // wide text longer than `size` (when size > 0) is refused when the command runs.
    void append_parameter(int type, int size, const Variant& value);
    void clear_parameters() { params_.clear(); }
    // The affected-row count (-1 when none applies).
    int64_t execute();

  private:
    struct Parameter {
        int type = 0;
        int size = 0;
        Variant value;
    };
    std::shared_ptr<Connection> connection_;
    std::u16string text_;
    std::vector<Parameter> params_;
};

}  // namespace ado
