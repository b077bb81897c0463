#include "uninstall/uninstall_list.h"

#include <stdlib.h>
#include <string.h>

#include "fileio/file_handle.h"
#include "fileio/path_join.h"
#include "platform/win32.h"

namespace {

const char kListName[] = "uninst.lst";

// Puts the file back as it was read: it has been truncated by the failed
// rewrite, and the buffer still holds its bytes up to `original_size`.
void RestoreList(FileHandle& list, const char* path, char* buffer, DWORD original_size,
                 size_t original_text_length) {
  list.Close();
  // The only byte the merge overwrote is the NUL that ended the text.
  buffer[original_text_length] = '\0';
  if (!list.OpenWrite(path)) return;
  list.Write(buffer, original_size);
  list.Close();
}

}  // namespace

bool UpdateUninstallList(const char* folder, const char* const* names) {
  char path[MAX_PATH];
  if (!JoinPath(path, sizeof path, folder, kListName)) return false;

  FileHandle list;
  if (!list.OpenRead(path)) return false;
  // A failed query reads as INVALID_FILE_SIZE, which is over the capacity too.
  DWORD size = list.GetSize();
  if (size == INVALID_FILE_SIZE || size > UNINSTALL_LIST_CAPACITY) return false;

  char* buffer = static_cast<char*>(malloc(UNINSTALL_LIST_CAPACITY));
  if (!buffer) return false;
  if (list.Read(buffer, size) != size) {
    free(buffer);
    return false;
  }
  list.Close();

  // The text is everything before the closing NUL. A file without one is all
  // text and gets its NUL on rewrite; a NUL anywhere else is not a list we can
  // rewrite without dropping what follows it.
  size_t text_length = size;
  if (size > 0 && buffer[size - 1] == '\0') text_length = size - 1;
  if (memchr(buffer, '\0', text_length) != nullptr || text_length + 1 > UNINSTALL_LIST_CAPACITY) {
    free(buffer);
    return false;
  }
  const size_t original_text_length = text_length;
  buffer[text_length] = '\0';

  for (const char* const* name = names; *name; ++name) {
    if (strstr(buffer, *name) != nullptr) continue;
    // A last line without its line feed is ended first, so that the name
    // starts a line of its own instead of extending it.
    size_t line_feed = text_length > 0 && buffer[text_length - 1] != '\n' ? 1 : 0;
    size_t name_length = strlen(*name);
    if (name_length + line_feed + 2 > UNINSTALL_LIST_CAPACITY - text_length) {
      free(buffer);
      return false;
    }
    if (line_feed) buffer[text_length++] = '\n';
    memcpy(buffer + text_length, *name, name_length);
    text_length += name_length;
    buffer[text_length++] = '\n';
    buffer[text_length] = '\0';
  }

  if (!list.OpenWrite(path)) {
    free(buffer);
    return false;
  }
  DWORD total = static_cast<DWORD>(text_length + 1);
  bool result = list.Write(buffer, total) == total;
  list.Close();
  // The open emptied the file; a write that failed part-way would leave the
  // uninstaller a cut list.
  if (!result) RestoreList(list, path, buffer, size, original_text_length);
  free(buffer);
  return result;
}
