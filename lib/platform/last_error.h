#pragma once
// The reason for a failure travels in errno and in a thread-local last-error value, always
// set together. Numbers that the system defines itself, or that cross to peers, keep the
// numbering they have always had (the constants below); plain operating-system failures
// carry the Linux errno.
namespace platform {

inline constexpr int kErrorInvalidArgument = 0;  // "invalid argument" in the runtime library
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorInvalidData = 13;
inline constexpr int kErrorLockViolation = 33;  // a byte range another open file holds
inline constexpr int kErrorHandleEof = 38;
inline constexpr int kErrorBadNetPath = 53;
inline constexpr int kErrorBadNetName = 67;  // index or range beyond a shared area
inline constexpr int kErrorFileExists = 80;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorBrokenPipe = 109;
inline constexpr int kErrorDiskFull = 112;
inline constexpr int kErrorInsufficientBuffer = 122;
inline constexpr int kErrorAlreadyExists = 183;
inline constexpr int kErrorNoData = 232;
inline constexpr int kErrorMoreData = 234;
inline constexpr int kErrorTimeout = 1460;
inline constexpr int kErrorXmlParse = 1465;
inline constexpr int kErrorWsaConnReset = 10054;
inline constexpr int kErrorWsaTimedOut = 10060;

// Sets errno and the thread's last-error value to `code`.
void set_last_error(int code) noexcept;
// The thread's last-error value.
int last_error() noexcept;
// Sets both to `code` and returns -1, for `return platform::fail(code);`.
int fail(int code) noexcept;
// Sets both from the current errno (after a failed system call) and returns -1.
int fail_from_errno() noexcept;

}  // namespace platform
