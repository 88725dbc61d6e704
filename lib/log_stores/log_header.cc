#include "log_stores/log_header.h"

namespace log_stores {
namespace {
bool same_time(const TimeStamp& a, const TimeStamp& b) {
    return a.seconds == b.seconds && a.milliseconds == b.milliseconds && a.microseconds == b.microseconds;
}
}  // namespace

bool operator==(const LogHeader& a, const LogHeader& b) {
    return a.endOfData == b.endOfData && a.formatTag == b.formatTag && a.blockCount == b.blockCount &&
           a.recordCount == b.recordCount && same_time(a.start, b.start) && same_time(a.stop, b.stop) &&
           a.dataStart == b.dataStart && a.recordSize == b.recordSize && a.blocks == b.blocks &&
           a.tagColumns == b.tagColumns && a.sigChange == b.sigChange && a.triggerPrefix == b.triggerPrefix &&
           a.triggerNumber == b.triggerNumber && a.lagPrefix == b.lagPrefix && a.lagNumber == b.lagNumber &&
           a.carried8 == b.carried8 && a.carried32 == b.carried32 && a.carried16 == b.carried16 &&
           a.extendedLength == b.extendedLength && a.extendedOffset == b.extendedOffset &&
           a.timeZone == b.timeZone;
}

}  // namespace log_stores
