// The test that a package entry's name stays inside the install folder. The
// updater applies it before it builds a target path, and the packer applies the
// same test so that it never ships a package the updater would refuse.
#ifndef PACKAGE_ENTRY_NAME_H
#define PACKAGE_ENTRY_NAME_H

// Why a name field is refused; 0 when it is accepted.
enum EntryNameFault {
  ENTRY_NAME_OK = 0,
  ENTRY_NAME_NO_NUL = 1,          // the 16 bytes hold no NUL
  ENTRY_NAME_EMPTY = 2,           // the field starts with its NUL
  ENTRY_NAME_ROOTED = 3,          // starts with a backslash or a slash
  ENTRY_NAME_COLON = 4,           // a drive, or an alternate stream
  ENTRY_NAME_EMPTY_PART = 5,      // two separators in a row, or one at the end
  ENTRY_NAME_DOTS_ONLY_PART = 6,  // a part made only of dots and spaces, like ".."
  ENTRY_NAME_DEVICE = 7,          // a part that names a device, like "NUL" or "com1.arc"
};

// Examines the bytes up to the field's first NUL one by one, without regard to
// double-byte characters: a code page 932 trail byte 0x5C counts as a
// backslash, which can only refuse more, never less.
EntryNameFault CheckEntryName(const char field[16]);

// True when CheckEntryName accepts the field.
bool IsSafeEntryName(const char field[16]);

#endif  // PACKAGE_ENTRY_NAME_H
