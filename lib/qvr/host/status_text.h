#pragma once
// The current program's status text in the host's error table ("dm_errors"), mirrored to a
// channel of the system-error processor SYSER. Best effort: no failure reaches the caller,
// and the caller's error number survives. The ErrorTable's lock is released before any
// SYSER module lock is taken; never set a status text while holding a module lock.

// Finds or takes the entry of (type, name) and links its SYSER mirror channel.
void shm_RegisterStatusEntry(int type, const char* name);
// Formats the text (printf style) and, when it differs from the stored one (ignoring case),
// stores it, wakes the table's waiters and updates the mirror channel. An empty text clears.
void shm_SetStatusText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Clears the stored text (when not empty) and the mirror channel's state.
void shm_ClearStatusText();
