// File helpers shared by the tests of both builds. They go through the same
// Win32 calls as the product, so on Windows they exercise the real platform.
#ifndef TESTS_TEST_FILES_H
#define TESTS_TEST_FILES_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"

// The whole content of a file; `*exists` (when given) says whether it opened.
std::string ReadFileBytes(const std::string& path, bool* exists = nullptr);
// Creates or replaces a file with exactly these bytes; false when that failed.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
DWORD FileAttributes(const std::string& path);
// Makes a file plain again (not read-only), so that it can be removed.
void MakeWritable(const std::string& path);

// A fresh, empty folder for one test under the working folder's "scratch"
// folder, emptied again when the object goes out of scope.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // `name` inside the folder, joined with a backslash as the product joins paths.
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// A string of `size` bytes that differ from position to position, seeded so
// that two fixtures of the same size differ too.
std::string PatternBytes(size_t size, unsigned seed);

// An uninstall list holding these lines, each ended by a line feed, then its NUL.
std::string List(const std::vector<std::string>& lines);

// Equal bytes, or where they first differ (fixtures are too long to print).
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

#endif  // TESTS_TEST_FILES_H
