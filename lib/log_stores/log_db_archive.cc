#include "log_stores/log_db_data_acc.h"

// The archive of a logger database's old runs is not built yet: it reports that it did
// nothing, so no caller mistakes it for a finished archive.
CLogDbDataAcc::Result CLogDbDataAcc::ArchiveLoggers(std::u16string_view, int32_t, int32_t, std::u16string_view,
                                                    std::u16string_view, std::u16string_view, int32_t, double) {
    return ado::hr(0x80004001);  // E_NOTIMPL
}
