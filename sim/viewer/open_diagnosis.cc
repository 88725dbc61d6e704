#include "viewer/open_diagnosis.h"

#include <vector>

#include "log_stores/log_factory.h"
#include "log_stores/log_location.h"

namespace viewer {

std::string database_open_reason(const std::string& location) {
    std::string connection = location;
    std::size_t size = 0;
    log_stores::GetLoggerNameFromLocation(connection, &size, nullptr);
    if (size <= 1) return {};
    std::vector<char> logger(size + 1, '\0');
    if (log_stores::GetLoggerNameFromLocation(connection, &size, logger.data()) != 1) return {};
    auto collection = log_stores::CreateLogCollection(location.c_str());
    if (!collection) return "no back end for this provider in this build";
    if (collection->Open(connection.c_str(), "", logger.data(), "", log_stores::kGenericRead) == 0) return {};
    std::string reason;
    for (const char* text : {collection->GetErrorContext(), collection->GetErrorText()}) {
        if (text == nullptr || *text == '\0') continue;
        if (!reason.empty()) reason += ": ";
        reason += text;
    }
    return reason;
}

}  // namespace viewer
