// Timestamps of the steps of every transfer, for the benchmark's build only
// (-DUPDATER_PHASE_LOG=ON). The shipped updater is built without them and writes nothing.
#pragma once

#ifdef UPDATER_PHASE_LOG
// Appends "<phase> <microseconds>" to merovast-phases.log beside the updater.
void MarkPhase(const char* phase);
#else
inline void MarkPhase(const char*) {}
#endif
