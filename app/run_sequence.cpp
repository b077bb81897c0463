#include "app/run_sequence.h"

#include "app/installed_folder.h"
#include "app/messages.h"
#include "app/product.h"
#include "package/package.h"
#include "platform/win32.h"

namespace {

// Both mutexes are held here: from the folder lookup to the install.
UpdateResult AskAndUpdate() {
  char folder[MAX_PATH];
  if (!GetInstalledFolder(folder, MAKER_NAME, PRODUCT_NAME)) return RESULT_NOT_INSTALLED;
  // No is the default button, so that a stray Enter does not start an update.
  if (MessageBoxA(nullptr, TEXT_CONFIRM_UPDATE, PRODUCT_NAME, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
      IDYES) {
    return RESULT_DECLINED;
  }
  return ApplyUpdate(folder);
}

}  // namespace

UpdateResult RunUpdater() {
  UpdateResult result = RESULT_ALREADY_RUNNING;
  HANDLE game_mutex = nullptr;
  HANDLE own_mutex = CreateMutexA(nullptr, TRUE, UPDATER_MUTEX_NAME);
  // The last-error value tells a mutex we made from one that already existed
  // or could not be made; a null handle stops the run as well.
  if (GetLastError() == 0 && own_mutex) {
    game_mutex = CreateMutexA(nullptr, TRUE, GAME_MUTEX_NAME);
    if (GetLastError() != 0 || !game_mutex) {
      result = RESULT_GAME_RUNNING;
    } else {
      result = AskAndUpdate();
    }
    // Shown while both mutexes are still held: nothing of the game may start
    // before the user has read the outcome.
    ReportOutcome(result);
  }
  if (game_mutex) CloseHandle(game_mutex);
  if (own_mutex) CloseHandle(own_mutex);
  return result;
}
