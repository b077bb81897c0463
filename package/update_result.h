// The outcome of a run: 0, the run's own negative codes, or the install
// routine's failure codes. It becomes the process exit status unchanged.
#ifndef PACKAGE_UPDATE_RESULT_H
#define PACKAGE_UPDATE_RESULT_H

#include <stdint.h>

typedef int32_t UpdateResult;

const UpdateResult RESULT_OK = 0;
const UpdateResult RESULT_NOT_INSTALLED = -1;
const UpdateResult RESULT_GAME_RUNNING = -2;
const UpdateResult RESULT_DECLINED = -3;
const UpdateResult UPDATE_E_BROKEN_PACKAGE = static_cast<UpdateResult>(0x80000001u);
const UpdateResult UPDATE_E_TOO_MANY_ENTRIES = static_cast<UpdateResult>(0x80000002u);
const UpdateResult UPDATE_E_CANNOT_WRITE = static_cast<UpdateResult>(0x80000003u);
const UpdateResult UPDATE_E_UNINSTALL_LIST = static_cast<UpdateResult>(0x80000004u);

#endif  // PACKAGE_UPDATE_RESULT_H
