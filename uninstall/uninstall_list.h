// The install folder's "uninst.lst": text lines, then one NUL as the last byte.
#ifndef UNINSTALL_UNINSTALL_LIST_H
#define UNINSTALL_UNINSTALL_LIST_H

#include <stddef.h>

// The list with everything one call adds to it, NUL included, fits in this.
const size_t UNINSTALL_LIST_CAPACITY = 1048576;

// Appends each of `names` (ended by a null pointer) that the list's text does
// not contain yet, as a line of its own, and rewrites the list. True when the
// list was rewritten in full; on false the file holds the bytes it held.
bool UpdateUninstallList(const char* folder, const char* const* names);

#endif  // UNINSTALL_UNINSTALL_LIST_H
