// Where the game was installed, as its installer recorded it in the registry.
#ifndef APP_INSTALLED_FOLDER_H
#define APP_INSTALLED_FOLDER_H

#include <stddef.h>

// Room for HKEY_LOCAL_MACHINE's "Software\<maker>\<product>" key path.
const size_t KEY_PATH_CAPACITY = 4096;

// Reads the REG_SZ value "InstalledFolder" of HKEY_LOCAL_MACHINE's
// "Software\<maker>\<product>" into `folder` (at least MAX_PATH bytes) as a
// NUL-terminated string. 1 on success; 0 when the key or the value is missing,
// of another type, or does not fit in MAX_PATH bytes with its NUL; after 0
// the content of `folder` is undefined.
int GetInstalledFolder(char* folder, const char* maker, const char* product);

#endif  // APP_INSTALLED_FOLDER_H
