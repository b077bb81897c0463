#include "tests/test_files.h"

#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

namespace {

std::filesystem::path NativePath(const std::string& path) {
  std::string native = path;
#ifndef _WIN32
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
#endif
  return std::filesystem::path(native);
}

void RemoveTree(const std::string& path) {
  std::error_code error;
  std::filesystem::path root = NativePath(path);
  if (!std::filesystem::exists(root, error)) return;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, error);
  }
  std::filesystem::remove_all(root, error);
}

}  // namespace

std::string ReadFileBytes(const std::string& path, bool* exists) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (exists) *exists = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char block[65536];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
    done += written;
  }
  CloseHandle(file);
  return ok;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD FileAttributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

void MakeWritable(const std::string& path) { SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL); }

ScratchDir::ScratchDir(const std::string& name) : path_("scratch\\" + name) {
  CreateDirectoryA("scratch", nullptr);
  RemoveTree(path_);
  if (!CreateDirectoryA(path_.c_str(), nullptr)) ADD_FAILURE() << "cannot create " << path_;
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

std::string PatternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string List(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text + std::string(1, '\0');
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t first = 0;
  while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) ++first;
  return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected, first difference at byte " << first;
}
