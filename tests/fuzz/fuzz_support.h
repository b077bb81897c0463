// Host file helpers for the fuzzers. They use POSIX directly, not the stand-in,
// so that setting up and inspecting a folder is not counted among, or disturbed
// by, the calls under test.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

// A violated property: say which, and stop so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition, ...)                                                       \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition); \
      fprintf(stderr, __VA_ARGS__);                                                      \
      fprintf(stderr, "\n");                                                             \
      abort();                                                                           \
    }                                                                                    \
  } while (0)

namespace fuzz {

inline bool WriteWhole(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t moved = write(fd, bytes.data() + done, bytes.size() - done);
    if (moved <= 0) break;
    done += static_cast<size_t>(moved);
  }
  close(fd);
  return done == bytes.size();
}

inline std::string ReadWhole(const std::string& path) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat info;
  if (fstat(fd, &info) == 0) bytes.reserve(static_cast<size_t>(info.st_size));
  char block[65536];
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) > 0) bytes.append(block, static_cast<size_t>(got));
  close(fd);
  return bytes;
}

// Entries of a folder: name -> whether it is a regular file.
inline std::map<std::string, bool> ListFolder(const std::string& path) {
  std::map<std::string, bool> entries;
  DIR* dir = opendir(path.c_str());
  if (!dir) return entries;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    bool regular = lstat((path + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
    entries[name] = regular;
  }
  closedir(dir);
  return entries;
}

// Removes everything inside `path`, folders included, keeping `path` itself.
inline void EmptyFolder(const std::string& path) {
  for (const auto& entry : ListFolder(path)) {
    std::string inner = path + "/" + entry.first;
    if (entry.second) {
      unlink(inner.c_str());
    } else {
      chmod(inner.c_str(), 0700);
      EmptyFolder(inner);
      if (rmdir(inner.c_str()) != 0) unlink(inner.c_str());
    }
  }
}

// A private folder under /tmp, removed when the process exits normally.
inline const std::string& WorkRoot(const char* tag) {
  static std::string root;
  if (root.empty()) {
    std::string pattern = std::string("/tmp/") + tag + ".XXXXXX";
    char buffer[256];
    snprintf(buffer, sizeof buffer, "%s", pattern.c_str());
    if (!mkdtemp(buffer)) {
      perror("mkdtemp");
      abort();
    }
    root = buffer;
    atexit([] {
      EmptyFolder(root);
      rmdir(root.c_str());
    });
  }
  return root;
}

}  // namespace fuzz

#endif  // TESTS_FUZZ_FUZZ_SUPPORT_H
