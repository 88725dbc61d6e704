#include "viewer/error_text.h"

#include <cstring>

#include "platform/last_error.h"
#include "qvr/link/link.h"

namespace viewer {
namespace {

// The system's own numbers first: they overlap the operating system's, and a data location
// leaves these.
const char* system_words(int code) {
    switch (code) {
        case platform::kErrorInvalidArgument:
            return "no reason given";
        case platform::kErrorFileNotFound:
            return "file not found";
        case platform::kErrorPathNotFound:
            return "folder not found";
        case platform::kErrorAccessDenied:
            return "access denied";
        case platform::kErrorNotEnoughMemory:
            return "not enough memory";
        case platform::kErrorInvalidData:
            return "the data is not valid, or access was refused";
        case platform::kErrorLockViolation:
            return "a part of the file is locked";
        case platform::kErrorHandleEof:
            return "end of file";
        case kErrorNotSupported:
            return "not supported for this location";
        case platform::kErrorInvalidParameter:
            return "a request was refused as not valid";
        case platform::kErrorInsufficientBuffer:
            return "the answer does not fit";
        case platform::kErrorNoData:
            return "no data";
        case platform::kErrorTimeout:
            return "timed out";
        case kErrorNoResult:
            return "the location gave no answer (no runs, or none could be read)";
        default:
            return nullptr;
    }
}

}  // namespace

std::string error_text(int code) {
    const char* words = system_words(code);
    const std::string text = words != nullptr ? words : std::strerror(code);
    return text + " (error " + std::to_string(code) + ")";
}

}  // namespace viewer
