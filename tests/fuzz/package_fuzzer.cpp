// ApplyUpdate on arbitrary packages. The running executable is a stand-in
// program followed by the input; the install folder lies in a sandbox folder
// of its own. Every run is compared with a model of the install worked out on
// the input bytes alone: the result, every file of the install folder (bytes
// and attributes), the uninstall list, nothing else in the sandbox, and no
// handle left open.
//
// Input: one control byte, then the bytes that follow the stand-in program.
//   bit 0     the install folder's path is long: a 14-byte name just fits
//             within 260 bytes, a 15-byte one does not
//   bits 1-3  the uninstall list before the run (kListPresets)
//   bit 4     the uninstall list is read-only
//   bit 5     a read-only, hidden "a.arc" is in the install folder already
//   bits 6-7  the stand-in program: 65,536 zero bytes (0, 1), 65,520 (2), 1,000 (3)
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "package/package.h"
#include "platform/standin_controls.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/list_model.h"
#include "uninstall/uninstall_list.h"

namespace {

const char kListName[] = "uninst.lst";
const char kOldArchive[] = "a.arc";
const std::string kOldArchiveBytes = "bytes of the installed a.arc";

// The list presets: the installer's format and the malformed files the
// updater must survive. A null text means the folder has no list.
struct ListPreset {
  const char* bytes;
  size_t size;
};
const ListPreset kListPresets[8] = {
    {"old.arc\nb\n\0", 11},  // the installer's format
    {"\0", 1},               // a list without lines
    {"", 0},                 // an empty file
    {"no-nul.arc\n", 11},    // no closing NUL
    {"a\0b\0", 4},           // a NUL before the last byte
    {"tail.arc\0", 9},       // the last line has no line feed
    {nullptr, 0},            // no list at all
    {"x\r\nold.arc\r\n\0", 13},
};

const size_t kPrefixSizes[4] = {PACKAGE_OFFSET, PACKAGE_OFFSET, PACKAGE_OFFSET - 16, 1000};

struct FileState {
  std::string bytes;
  bool read_only;
  bool hidden;
};
typedef std::map<std::string, FileState> Folder;

struct Expected {
  UpdateResult result;
  Folder folder;
  bool entry_wrote_list;  // an entry is itself named "uninst.lst"
};

uint32_t U32At(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A name that stays inside the install folder: NUL-ended within its field,
// not empty, relative, no colon, and no part made only of dots and spaces
// (an empty part included).
bool NameIsSafe(const std::string& field) {
  size_t end = field.find('\0');
  if (end == std::string::npos || end == 0 || IsSeparator(field[0])) return false;
  std::string name = field.substr(0, end);
  if (name.find(':') != std::string::npos) return false;
  size_t start = 0;
  while (true) {
    size_t stop = start;
    while (stop < name.size() && !IsSeparator(name[stop])) ++stop;
    if (name.find_first_not_of(". ", start) >= stop) return false;
    if (stop == name.size()) return true;
    start = stop + 1;
  }
}

// The install, from the executable's bytes and the folder before the run.
Expected Model(const std::string& exe, const std::string& folder_path, const Folder& before) {
  Expected expected = {UPDATE_E_BROKEN_PACKAGE, before, false};
  const uint64_t size = exe.size();
  if (size < PACKAGE_OFFSET + 16) return expected;
  const uint32_t count = U32At(exe, PACKAGE_OFFSET + 12);
  if (count > MAX_PACKAGE_ENTRIES) {
    expected.result = UPDATE_E_TOO_MANY_ENTRIES;
    return expected;
  }
  const uint64_t data_start = PACKAGE_OFFSET + 16 + 32ull * count;
  if (size < data_start) return expected;
  for (uint32_t i = 0; i < count; ++i) {
    if (!NameIsSafe(exe.substr(PACKAGE_OFFSET + 16 + 32 * i, 16))) return expected;
  }
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t record = PACKAGE_OFFSET + 16 + 32 * i;
    const uint64_t start = data_start + U32At(exe, record + 16);
    const uint64_t length = U32At(exe, record + 20);
    if (start + length > size) return expected;  // still BROKEN_PACKAGE
    std::string name = exe.substr(record, 16);
    name.resize(name.find('\0'));
    // No folder is ever created and the sandbox has no subfolders, so a name
    // with a folder part cannot be created; neither can a path over 260 bytes.
    if (folder_path.size() + 1 + name.size() + 1 > MAX_PATH ||
        name.find_first_of("\\/") != std::string::npos) {
      expected.result = UPDATE_E_CANNOT_WRITE;
      return expected;
    }
    expected.folder[name] = FileState{exe.substr(start, length), false, false};
    if (name == kListName) expected.entry_wrote_list = true;
    names.push_back(name);
  }
  expected.result = UPDATE_E_UNINSTALL_LIST;
  auto list = expected.folder.find(kListName);
  std::string updated;
  if (list != expected.folder.end() && !list->second.read_only &&
      ModelListUpdate(list->second.bytes, names, UNINSTALL_LIST_CAPACITY, &updated)) {
    list->second.bytes = updated;
    expected.result = RESULT_OK;
  }
  return expected;
}

struct Sandbox {
  std::string exe;
  std::string root;
  std::string folders[2];  // short, long
};

const Sandbox& GetSandbox() {
  static Sandbox sandbox;
  if (sandbox.exe.empty()) {
    const std::string& work = fuzz::WorkRoot("package_fuzzer");
    sandbox.exe = work + "/updater.exe";
    sandbox.root = work + "/sandbox";
    mkdir(sandbox.root.c_str(), 0700);
    sandbox.folders[0] = sandbox.root + "/folder";
    // 244 bytes: with a backslash, a 14-byte name and the NUL, 260.
    const size_t long_length = MAX_PATH - 1 - 14 - 1;
    sandbox.folders[1] = sandbox.root + "/" + std::string(long_length - sandbox.root.size() - 1, 'L');
    for (const std::string& folder : sandbox.folders) mkdir(folder.c_str(), 0700);
  }
  return sandbox;
}

void Place(const std::string& folder, const std::string& name, const FileState& file) {
  std::string path = folder + "/" + name;
  FUZZ_CHECK(fuzz::WriteWhole(path, file.bytes), "cannot prepare %s", path.c_str());
  DWORD attributes =
      (file.read_only ? FILE_ATTRIBUTE_READONLY : 0) | (file.hidden ? FILE_ATTRIBUTE_HIDDEN : 0);
  if (attributes) SetFileAttributesA(path.c_str(), attributes);
}

bool IsUpdateResult(UpdateResult result) {
  return result == RESULT_OK || result == UPDATE_E_BROKEN_PACKAGE || result == UPDATE_E_TOO_MANY_ENTRIES ||
         result == UPDATE_E_CANNOT_WRITE || result == UPDATE_E_UNINSTALL_LIST;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Sandbox& sandbox = GetSandbox();
  const uint8_t control = size > 0 ? data[0] : 0;
  const std::string body(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
  const int chosen = control & 1;
  const std::string& folder = sandbox.folders[chosen];
  const ListPreset& preset = kListPresets[(control >> 1) & 7];
  const std::string exe = std::string(kPrefixSizes[control >> 6], '\0') + body;

  Folder before;
  if (preset.bytes)
    before[kListName] = FileState{std::string(preset.bytes, preset.size), (control & 0x10) != 0, false};
  if (control & 0x20) before[kOldArchive] = FileState{kOldArchiveBytes, true, true};
  const Expected expected = Model(exe, folder, before);

  for (const std::string& each : sandbox.folders) fuzz::EmptyFolder(each);
  standin::Reset();
  standin::SetModuleFileName(sandbox.exe.c_str());
  FUZZ_CHECK(fuzz::WriteWhole(sandbox.exe, exe), "cannot write %s", sandbox.exe.c_str());
  for (const auto& file : before) Place(folder, file.first, file.second);

  const UpdateResult result = ApplyUpdate(folder.c_str());

  FUZZ_CHECK(IsUpdateResult(result), "result 0x%08x", static_cast<unsigned>(result));
  FUZZ_CHECK(result == expected.result, "result 0x%08x, expected 0x%08x", static_cast<unsigned>(result),
             static_cast<unsigned>(expected.result));
  FUZZ_CHECK(standin::OpenFileCount() == 0, "%u files left open", standin::OpenFileCount());

  // Nothing but the two install folders in the sandbox, nothing in the other one.
  const std::map<std::string, bool> top = fuzz::ListFolder(sandbox.root);
  FUZZ_CHECK(top.size() == 2, "%zu entries in the sandbox", top.size());
  for (const auto& entry : top) {
    FUZZ_CHECK(!entry.second && (sandbox.root + "/" + entry.first == sandbox.folders[0] ||
                                 sandbox.root + "/" + entry.first == sandbox.folders[1]),
               "stray %s in the sandbox", entry.first.c_str());
  }
  FUZZ_CHECK(fuzz::ListFolder(sandbox.folders[1 - chosen]).empty(), "the other folder was written");

  // The install folder holds exactly the expected files, byte for byte.
  const std::map<std::string, bool> files = fuzz::ListFolder(folder);
  FUZZ_CHECK(files.size() == expected.folder.size(), "%zu files where %zu were expected", files.size(),
             expected.folder.size());
  for (const auto& file : expected.folder) {
    const std::string path = folder + "/" + file.first;
    auto found = files.find(file.first);
    FUZZ_CHECK(found != files.end() && found->second, "%s missing", file.first.c_str());
    const std::string bytes = fuzz::ReadWhole(path);
    FUZZ_CHECK(bytes == file.second.bytes, "%s holds %zu bytes, not the %zu expected", file.first.c_str(),
               bytes.size(), file.second.bytes.size());
    const DWORD attributes = GetFileAttributesA(path.c_str());
    FUZZ_CHECK(((attributes & FILE_ATTRIBUTE_READONLY) != 0) == file.second.read_only &&
                   ((attributes & FILE_ATTRIBUTE_HIDDEN) != 0) == file.second.hidden,
               "%s has attributes 0x%x", file.first.c_str(), static_cast<unsigned>(attributes));
  }
  // Said once more without the model: unless an entry is itself named
  // "uninst.lst", the list changes only on success (a failed list update puts
  // its bytes back).
  auto list = before.find(kListName);
  if (list != before.end() && result != RESULT_OK && !expected.entry_wrote_list) {
    FUZZ_CHECK(fuzz::ReadWhole(folder + "/" + kListName) == list->second.bytes, "the list changed");
  }
  return 0;
}
