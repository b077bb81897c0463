// The update package appended to the updater's own executable, and the
// routine that installs it.
#ifndef PACKAGE_PACKAGE_H
#define PACKAGE_PACKAGE_H

#include <stdint.h>

#include "package/update_result.h"

// The image ends before this file offset; the package starts at it.
const uint32_t PACKAGE_OFFSET = 65536;
const uint32_t MAX_PACKAGE_ENTRIES = 16;
// Written by the packer; the reader does not compare it.
const char PACKAGE_SIGNATURE[] = "PackFile    ";

// All integers little-endian, as the i686 target stores them.
struct PackFileHeader {
  char signature[12];
  uint32_t entry_count;
};

struct PackFileEntry {
  char name[16];    // code page 932, ended by a NUL inside the field
  uint32_t offset;  // from the start of the data area
  uint32_t size;
  char reserved[8];
};

static_assert(sizeof(PackFileHeader) == 16, "the header is 16 bytes on disk");
static_assert(sizeof(PackFileEntry) == 32, "a directory record is 32 bytes on disk");

// Writes every entry of the running executable's package into `folder` and
// adds their names to the folder's uninstall list.
UpdateResult ApplyUpdate(const char* folder);

#endif  // PACKAGE_PACKAGE_H
