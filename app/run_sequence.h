// The updater's run, from its mutexes to the outcome message.
#ifndef APP_RUN_SEQUENCE_H
#define APP_RUN_SEQUENCE_H

#include "package/update_result.h"

// Exit status of a run that stops silently because another copy of the
// updater holds its mutex (or the mutex cannot be created). It is no code of
// the install routine and none of the run's own reported outcomes.
const UpdateResult RESULT_ALREADY_RUNNING = -4;

// Takes the updater's mutex and the game's running mutex, finds the install
// folder, asks the user, installs the package, reports the outcome and
// returns it. Both mutexes stay held until the last message is dismissed.
UpdateResult RunUpdater();

#endif  // APP_RUN_SEQUENCE_H
