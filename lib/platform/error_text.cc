#include "platform/error_text.h"

#include <cstring>

#include "platform/last_error.h"

namespace platform {
namespace {

const char* system_text(int code) {
    switch (code) {
        case kErrorInvalidArgument: return "invalid argument";
        case kErrorFileNotFound: return "file not found";
        case kErrorPathNotFound: return "path not found";
        case kErrorAccessDenied: return "access denied";
        case kErrorNotEnoughMemory: return "not enough memory";
        case kErrorInvalidData: return "invalid data";
        case kErrorLockViolation: return "locked by another open file";
        case kErrorHandleEof: return "end of file";
        case kErrorBadNetPath: return "network path not found";
        case kErrorBadNetName: return "beyond the shared area";
        case kErrorFileExists: return "file exists";
        case kErrorInvalidParameter: return "invalid parameter";
        case kErrorBrokenPipe: return "broken pipe";
        case kErrorDiskFull: return "disk full";
        case kErrorInsufficientBuffer: return "buffer too small";
        case kErrorAlreadyExists: return "already exists";
        case kErrorNoData: return "no data";
        case kErrorMoreData: return "more data";
        case kErrorTimeout: return "timed out";
        case kErrorXmlParse: return "XML parse error";
        case kErrorWsaConnReset: return "connection reset";
        case kErrorWsaTimedOut: return "connection timed out";
        default: return nullptr;
    }
}

}  // namespace

std::string error_text(int code) {
    const char* text = system_text(code);
    return "error " + std::to_string(code) + ": " + (text != nullptr ? text : std::strerror(code));
}

}  // namespace platform
