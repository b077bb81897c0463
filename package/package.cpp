#include "package/package.h"

#include <stdlib.h>
#include <string.h>

#include "fileio/file_handle.h"
#include "fileio/path_join.h"
#include "package/entry_name.h"
#include "platform/win32.h"
#include "uninstall/uninstall_list.h"

namespace {

const char kFallbackOwnName[] = "setup.exe";
const DWORD kDirectoryStart = PACKAGE_OFFSET + sizeof(PackFileHeader);

// Writes one entry; the executable's size bounds every entry before memory is
// asked for it, so a corrupt size cannot request more than the file holds.
UpdateResult InstallEntry(FileHandle& package, DWORD package_size, DWORD data_start,
                          const PackFileEntry& entry, const char* folder) {
  if (package_size < data_start || entry.offset > package_size - data_start) return UPDATE_E_BROKEN_PACKAGE;
  DWORD position = data_start + entry.offset;
  if (entry.size > package_size - position) return UPDATE_E_BROKEN_PACKAGE;
  if (!package.Seek(position)) return UPDATE_E_BROKEN_PACKAGE;

  // malloc(0) may answer null; an empty entry still needs a buffer to pass.
  void* data = malloc(entry.size ? entry.size : 1);
  if (!data) return UPDATE_E_BROKEN_PACKAGE;
  if (package.Read(data, entry.size) != entry.size) {
    free(data);
    return UPDATE_E_BROKEN_PACKAGE;
  }

  // A path that does not fit is refused whole: a cut one would name another file.
  char target_path[MAX_PATH];
  if (!JoinPath(target_path, sizeof target_path, folder, entry.name)) {
    free(data);
    return UPDATE_E_CANNOT_WRITE;
  }
  // Read-only, hidden and system files could not be replaced otherwise. The
  // target may not exist yet, so the result says nothing.
  SetFileAttributesA(target_path, FILE_ATTRIBUTE_NORMAL);
  FileHandle target;
  UpdateResult result = UPDATE_E_CANNOT_WRITE;
  if (target.OpenWrite(target_path) && target.Write(data, entry.size) == entry.size) result = RESULT_OK;
  target.Close();
  free(data);
  return result;
}

}  // namespace

UpdateResult ApplyUpdate(const char* folder) {
  // Should the platform write nothing, a file of this name in the current
  // folder is read instead.
  char own_path[MAX_PATH];
  memset(own_path, 0, sizeof own_path);
  memcpy(own_path, kFallbackOwnName, sizeof kFallbackOwnName);
  // A full buffer means the path was cut: it would name another file.
  if (GetModuleFileNameA(nullptr, own_path, MAX_PATH) >= MAX_PATH) return UPDATE_E_BROKEN_PACKAGE;
  own_path[MAX_PATH - 1] = '\0';

  FileHandle package;
  if (!package.OpenRead(own_path)) return UPDATE_E_BROKEN_PACKAGE;
  // Without a size no entry can be bounded; INVALID_FILE_SIZE is taken as failure.
  DWORD package_size = package.GetSize();
  if (package_size < PACKAGE_OFFSET || package_size == INVALID_FILE_SIZE) return UPDATE_E_BROKEN_PACKAGE;

  PackFileHeader header;
  if (!package.Seek(PACKAGE_OFFSET) || package.Read(&header, sizeof header) != sizeof header) {
    return UPDATE_E_BROKEN_PACKAGE;
  }
  // The signature is the packer's mark only and is not compared.
  if (header.entry_count > MAX_PACKAGE_ENTRIES) return UPDATE_E_TOO_MANY_ENTRIES;

  const DWORD count = header.entry_count;
  const DWORD directory_size = count * sizeof(PackFileEntry);
  // One byte at least: malloc(0) may answer null for an empty directory.
  PackFileEntry* directory = static_cast<PackFileEntry*>(malloc(directory_size ? directory_size : 1));
  const char** names = static_cast<const char**>(malloc((count + 1) * sizeof(const char*)));
  UpdateResult result = UPDATE_E_BROKEN_PACKAGE;
  if (directory && names && package.Read(directory, directory_size) == directory_size) {
    names[count] = nullptr;
    // Every name is checked before anything is written: a name that could
    // leave the install folder refuses the whole package.
    bool names_safe = true;
    for (DWORD i = 0; i < count && names_safe; ++i) names_safe = IsSafeEntryName(directory[i].name);
    if (names_safe) {
      const DWORD data_start = kDirectoryStart + directory_size;
      result = RESULT_OK;
      for (DWORD i = 0; i < count && result == RESULT_OK; ++i) {
        result = InstallEntry(package, package_size, data_start, directory[i], folder);
        // A name joins the list only once its file is written and closed.
        if (result == RESULT_OK) names[i] = directory[i].name;
      }
      if (result == RESULT_OK && !UpdateUninstallList(folder, names)) result = UPDATE_E_UNINSTALL_LIST;
    }
  }
  free(names);
  free(directory);
  package.Close();
  return result;
}
