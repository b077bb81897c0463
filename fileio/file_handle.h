// FileHandle: owns at most one open platform file and closes it when it goes
// out of scope. One platform call per operation; results are plain values.
#ifndef FILEIO_FILE_HANDLE_H
#define FILEIO_FILE_HANDLE_H

#include "platform/win32.h"

class FileHandle {
 public:
  FileHandle() : handle_(INVALID_HANDLE_VALUE) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens an existing file for reading; others may read it meanwhile.
  bool OpenRead(const char* name);
  // Creates the file, or truncates an existing one, for writing without sharing.
  bool OpenWrite(const char* name);
  void Close();
  // Bytes transferred, or 0 when the platform reports failure.
  DWORD Read(void* buffer, DWORD count);
  DWORD Write(const void* buffer, DWORD count);
  // True only when the position is now exactly `position` (below 2 GiB).
  bool Seek(DWORD position);
  // The low 32 bits of the size; INVALID_FILE_SIZE (0xFFFFFFFF) on failure.
  DWORD GetSize();

 private:
  bool Open(const char* name, DWORD access, DWORD share, DWORD disposition);

  HANDLE handle_;
};

#endif  // FILEIO_FILE_HANDLE_H
