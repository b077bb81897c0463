#include "app/installed_folder.h"

#include "fileio/path_join.h"
#include "platform/win32.h"

int GetInstalledFolder(char* folder, const char* maker, const char* product) {
  if (!folder || !maker || !product) return 0;
  char key_path[KEY_PATH_CAPACITY];
  if (!JoinPath(key_path, sizeof key_path, "Software", maker) ||
      !JoinPath(key_path, sizeof key_path, key_path, product)) {
    return 0;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD type = REG_NONE;
  DWORD size = MAX_PATH;
  LSTATUS status =
      RegQueryValueExA(key, "InstalledFolder", nullptr, &type, reinterpret_cast<LPBYTE>(folder), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ || size > MAX_PATH) return 0;
  // The registry keeps whatever bytes the writer stored, with or without a
  // terminating NUL. Add one when there is room; a value that fills the
  // buffer without one is not a path we can use.
  if (size == 0 || folder[size - 1] != '\0') {
    if (size == MAX_PATH) return 0;
    folder[size] = '\0';
  }
  return 1;
}
