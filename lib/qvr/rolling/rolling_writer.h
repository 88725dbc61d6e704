#pragma once

namespace qvr::rolling {

// True between rf_StartWriter and rf_StopWriter; the file state belongs to the thread then.
bool writer_running();
// Stops a running writer (its result dropped).
void stop_writer_for_reset();

}  // namespace qvr::rolling
