#include "package/entry_name.h"

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

EntryNameFault CheckEntryName(const char field[16]) {
  int length = 0;
  while (length < 16 && field[length] != '\0') ++length;
  if (length == 16) return ENTRY_NAME_NO_NUL;
  if (length == 0) return ENTRY_NAME_EMPTY;
  if (IsSeparator(field[0])) return ENTRY_NAME_ROOTED;
  for (int i = 0; i < length; ++i) {
    if (field[i] == ':') return ENTRY_NAME_COLON;
  }
  // Each part between separators must hold a byte other than a dot or a space:
  // such parts name the folder itself or its parent once the platform has
  // stripped trailing dots and spaces.
  int part_start = 0;
  for (int i = 0; i <= length; ++i) {
    if (i < length && !IsSeparator(field[i])) continue;
    if (i == part_start) return ENTRY_NAME_EMPTY_PART;
    bool ordinary = false;
    for (int j = part_start; j < i; ++j) {
      if (field[j] != '.' && field[j] != ' ') ordinary = true;
    }
    if (!ordinary) return ENTRY_NAME_DOTS_ONLY_PART;
    part_start = i + 1;
  }
  return ENTRY_NAME_OK;
}

bool IsSafeEntryName(const char field[16]) { return CheckEntryName(field) == ENTRY_NAME_OK; }
