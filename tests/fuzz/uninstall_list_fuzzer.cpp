// UpdateUninstallList on arbitrary list files and names. On true the file must
// hold the old text, the added lines and one NUL, as the model works it out;
// on false it must hold exactly the bytes it held. No other file may appear,
// and no handle may stay open. Some inputs make one platform call fail on the
// way, which must give false and leave the file as it was.
//
// Input: five header bytes, the list's own bytes, then the names.
//   byte 0  bits 0-1  3: filler before the list's bytes, which brings the file
//                     near the capacity (see byte 1); else none
//           bits 2-4  a platform call that fails (kinds of Injection)
//           bit 5     the list is read-only
//           bit 6     there is no list
//           bit 7     the folder is long: 248 bytes, the longest whose list
//                     path fits in 260 (byte 1 even), or 249 (byte 1 odd)
//   byte 1  bit 0 the long folder's length; bit 1 the filler's kind: lines
//           that end 74 to 200 bytes below the capacity (0), or an unended
//           line from 40 bytes below the capacity to 23 above it (1); bits
//           2-7 the filler's length within that range
//   byte 2  the injection's parameter (length of a short transfer)
//   byte 3-4  the number of list bytes that follow (little-endian)
//   then the names, separated by NUL bytes (the first 16, as many as a
//   package has entries)
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/standin_controls.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/list_model.h"
#include "uninstall/uninstall_list.h"

namespace {

const size_t kMaxNames = 16;

enum Injection {
  INJECT_NONE,
  INJECT_SIZE_QUERY = 4,  // GetFileSize fails
  INJECT_SHORT_READ,      // the read delivers fewer bytes than the file holds
  INJECT_OPEN_WRITE,      // the second CreateFileA, the rewrite, fails
  INJECT_SHORT_WRITE,     // the rewrite stores fewer bytes, or fails after some
};

struct Folders {
  std::string root;
  std::string paths[3];  // short, 248 bytes, 249 bytes
};

const Folders& GetFolders() {
  static Folders folders;
  if (folders.root.empty()) {
    folders.root = fuzz::WorkRoot("uninstall_list_fuzzer");
    folders.paths[0] = folders.root + "/folder";
    folders.paths[1] = folders.root + "/" + std::string(248 - folders.root.size() - 1, 'M');
    folders.paths[2] = folders.root + "/" + std::string(249 - folders.root.size() - 1, 'N');
    for (const std::string& path : folders.paths) mkdir(path.c_str(), 0700);
  }
  return folders;
}

// Lines of 'x', 64 bytes each with their line feed, cut to `length`; the last
// byte is a line feed or not as asked. `room_after` bytes are reserved for
// what the caller appends.
std::string Filler(size_t length, bool end_with_line_feed, size_t room_after) {
  static std::string lines;
  if (lines.empty()) {
    lines.assign(UNINSTALL_LIST_CAPACITY + 64, 'x');
    for (size_t i = 63; i < lines.size(); i += 64) lines[i] = '\n';
  }
  std::string text;
  text.reserve(length + room_after);
  text.assign(lines, 0, length);
  if (length > 0) text[length - 1] = end_with_line_feed ? '\n' : 'x';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Folders& folders = GetFolders();
  uint8_t header[5] = {0, 0, 0, 0, 0};
  for (size_t i = 0; i < sizeof header && i < size; ++i) header[i] = data[i];
  const char* rest = reinterpret_cast<const char*>(data) + (size < 5 ? size : 5);
  size_t rest_size = size < 5 ? 0 : size - 5;

  size_t list_length = header[3] | static_cast<size_t>(header[4]) << 8;
  if (list_length > rest_size) list_length = rest_size;
  std::string list_bytes;
  if ((header[0] & 3) == 3) {
    const size_t fine = header[1] >> 2;
    list_bytes = (header[1] & 2) ? Filler(UNINSTALL_LIST_CAPACITY - 40 + fine, false, list_length)
                                 : Filler(UNINSTALL_LIST_CAPACITY - 200 + 2 * fine, true, list_length);
  }
  list_bytes.append(rest, list_length);

  std::vector<std::string> names;
  std::string names_area(rest + list_length, rest_size - list_length);
  size_t start = 0;
  while (names.size() < kMaxNames && start <= names_area.size()) {
    size_t end = names_area.find('\0', start);
    if (end == std::string::npos) end = names_area.size();
    names.push_back(names_area.substr(start, end - start));
    start = end + 1;
  }
  // An input with no bytes for names gives an empty array.
  if (names_area.empty()) names.clear();
  std::vector<const char*> name_pointers;
  for (const std::string& name : names) name_pointers.push_back(name.c_str());
  name_pointers.push_back(nullptr);

  const int folder_index = (header[0] & 0x80) ? 1 + (header[1] & 1) : 0;
  const std::string& folder = folders.paths[folder_index];
  const std::string path = folder + "/uninst.lst";
  const bool exists = (header[0] & 0x40) == 0;
  const bool read_only = (header[0] & 0x20) != 0;
  const int injection = (header[0] >> 2) & 7;

  for (const std::string& each : folders.paths) fuzz::EmptyFolder(each);
  standin::Reset();
  if (exists) {
    FUZZ_CHECK(fuzz::WriteWhole(path, list_bytes), "cannot write the list");
    if (read_only) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }

  // What the call must do, without any injected failure.
  std::string updated;
  bool expected = exists && !read_only && folder.size() + 1 + 10 + 1 <= MAX_PATH &&
                  ModelListUpdate(list_bytes, names, UNINSTALL_LIST_CAPACITY, &updated);

  const unsigned parameter = header[2];
  switch (injection) {
    case INJECT_SIZE_QUERY:
      standin::InjectFailure(standin::CALL_GET_FILE_SIZE, 1);
      expected = false;
      break;
    case INJECT_SHORT_READ:
      // A file of no bytes has nothing to cut short.
      if (!list_bytes.empty()) {
        standin::InjectShortTransfer(standin::CALL_READ_FILE, 1, parameter % list_bytes.size(), false);
        expected = false;
      }
      break;
    case INJECT_OPEN_WRITE:
      standin::InjectFailure(standin::CALL_CREATE_FILE, 2);
      expected = false;
      break;
    case INJECT_SHORT_WRITE:
      if (expected) {
        standin::InjectShortTransfer(standin::CALL_WRITE_FILE, 1, (parameter >> 1) % updated.size(),
                                     (parameter & 1) != 0);
        expected = false;
      }
      break;
    default:
      break;
  }

  const bool result = UpdateUninstallList(folder.c_str(), name_pointers.data());

  FUZZ_CHECK(result == expected, "result %d, expected %d", result, expected);
  FUZZ_CHECK(standin::OpenFileCount() == 0, "%u files left open", standin::OpenFileCount());
  for (int i = 0; i < 3; ++i) {
    const size_t count = fuzz::ListFolder(folders.paths[i]).size();
    FUZZ_CHECK(count == (i == folder_index && exists ? 1u : 0u), "%zu files in folder %d", count, i);
  }
  if (exists) {
    const std::string after = fuzz::ReadWhole(path);
    const std::string& wanted = result ? updated : list_bytes;
    FUZZ_CHECK(after == wanted, "the list holds %zu bytes where %zu were expected", after.size(),
               wanted.size());
    const bool still_read_only = (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
    FUZZ_CHECK(still_read_only == read_only, "the read-only attribute changed");
  }
  return 0;
}
