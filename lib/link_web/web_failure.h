#pragma once
// What a failed SendRequest call reports: the trace text and the error number.
#include <cstdint>

struct soap;

namespace link_web {

// The HTTP status (300..599) a failed call ended with, or 0.
int http_status_of(const soap* ctx);

// Writes the failure's trace text and returns its error number. `recorded` is an error code
// recorded during the call (0: none); `timed_out` says the call ran out of its time.
int report_failure(soap* ctx, int recorded, bool timed_out);

}  // namespace link_web
