#include "package/entry_name.h"

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

static char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device, not a file, for CON, PRN, AUX, NUL, COM1-9 and
// LPT1-9, whatever extension follows and whatever spaces end the stem: such a
// name would write to a port, or "install" nothing and still be listed.
static bool NamesDevice(const char* part, int length) {
  int stem = 0;
  while (stem < length && part[stem] != '.') ++stem;
  while (stem > 0 && part[stem - 1] == ' ') --stem;
  char upper[4];
  if (stem != 3 && stem != 4) return false;
  for (int i = 0; i < 3; ++i) upper[i] = Upper(part[i]);
  static const char kThreeLetters[][4] = {"CON", "PRN", "AUX", "NUL"};
  if (stem == 3) {
    for (const char* device : kThreeLetters) {
      if (upper[0] == device[0] && upper[1] == device[1] && upper[2] == device[2]) return true;
    }
    return false;
  }
  bool port = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
              (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
  return port && part[3] >= '1' && part[3] <= '9';
}

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
    if (NamesDevice(field + part_start, i - part_start)) return ENTRY_NAME_DEVICE;
    part_start = i + 1;
  }
  return ENTRY_NAME_OK;
}

bool IsSafeEntryName(const char field[16]) { return CheckEntryName(field) == ENTRY_NAME_OK; }
