#include "fileio/file_handle.h"

namespace {
// Sequential-scan caching; the archive attribute marks files that we create.
const DWORD kOpenFlags = FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_SEQUENTIAL_SCAN;
}  // namespace

bool FileHandle::Open(const char* name, DWORD access, DWORD share, DWORD disposition) {
  // An open object keeps its file; the named file is not touched.
  if (handle_ != INVALID_HANDLE_VALUE) return false;
  handle_ = CreateFileA(name, access, share, nullptr, disposition, kOpenFlags, nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

bool FileHandle::OpenRead(const char* name) {
  return Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

bool FileHandle::OpenWrite(const char* name) { return Open(name, GENERIC_WRITE, 0, CREATE_ALWAYS); }

void FileHandle::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

DWORD FileHandle::Read(void* buffer, DWORD count) {
  DWORD transferred = 0;
  return ReadFile(handle_, buffer, count, &transferred, nullptr) ? transferred : 0;
}

DWORD FileHandle::Write(const void* buffer, DWORD count) {
  DWORD transferred = 0;
  return WriteFile(handle_, buffer, count, &transferred, nullptr) ? transferred : 0;
}

bool FileHandle::Seek(DWORD position) {
  // Without a high part the distance is signed: 0x80000000 and above are refused.
  DWORD reached = SetFilePointer(handle_, static_cast<LONG>(position), nullptr, FILE_BEGIN);
  return reached != INVALID_SET_FILE_POINTER && reached == position;
}

DWORD FileHandle::GetSize() { return GetFileSize(handle_, nullptr); }
