// The benchmark's own tool, against the host stand-in:
//   bench_tool make DIR COUNT SIZE   DIR/src/eNN.arc (COUNT files of SIZE bytes),
//                                    DIR/updater.exe carrying the same files as
//                                    its package, DIR/uninst.lst
//   bench_tool apply EXE FOLDER      ApplyUpdate(FOLDER) with EXE as the running
//                                    executable; prints the call's seconds, exit
//                                    status 0 on RESULT_OK
//   bench_tool list-file FOLDER      FOLDER/uninst.lst of 1,000,000 bytes
//   bench_tool list-once FOLDER      one UpdateUninstallList with 16 names the
//                                    list lacks (for its peak memory)
//   bench_tool list-time FOLDER REPS times that call REPS times, the list
//                                    rewritten before each; prints ms
//   bench_tool idle                  nothing: the process's own floor
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/package.h"
#include "platform/standin_controls.h"
#include "uninstall/uninstall_list.h"

namespace {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t moved = write(fd, p, size);
    if (moved <= 0) return false;
    p += moved;
    size -= static_cast<size_t>(moved);
  }
  return true;
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data, size);
  return close(fd) == 0 && ok;
}

// Bytes that differ from file to file and do not compress to nothing.
void Fill(std::vector<char>& block, unsigned seed) {
  uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (char& c : block) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
}

int Make(const std::string& dir, unsigned count, size_t size) {
  const std::string src = dir + "/src";
  mkdir(dir.c_str(), 0755);
  mkdir(src.c_str(), 0755);
  int exe = open((dir + "/updater.exe").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (exe < 0) return 2;
  std::vector<char> zeros(PACKAGE_OFFSET, 0);
  PackFileHeader header;
  memcpy(header.signature, PACKAGE_SIGNATURE, sizeof header.signature);
  header.entry_count = count;
  std::vector<PackFileEntry> directory(count);
  for (unsigned i = 0; i < count; ++i) {
    memset(&directory[i], 0, sizeof directory[i]);
    snprintf(directory[i].name, sizeof directory[i].name, "e%02u.arc", i);
    directory[i].offset = static_cast<uint32_t>(i * size);
    directory[i].size = static_cast<uint32_t>(size);
  }
  bool ok = WriteAll(exe, zeros.data(), zeros.size()) && WriteAll(exe, &header, sizeof header) &&
            WriteAll(exe, directory.data(), count * sizeof(PackFileEntry));
  std::vector<char> data(size);
  for (unsigned i = 0; i < count && ok; ++i) {
    Fill(data, i + 1);
    ok = WriteAll(exe, data.data(), size) && WriteFile(src + "/" + directory[i].name, data.data(), size);
  }
  const char list[] = "readme.txt\n";
  ok = close(exe) == 0 && ok && WriteFile(dir + "/uninst.lst", list, sizeof list);  // with its NUL
  return ok ? 0 : 2;
}

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Prints the call's own time in seconds, without the process's start.
int Apply(const char* exe, const char* folder) {
  standin::SetModuleFileName(exe);
  double start = Now();
  UpdateResult result = ApplyUpdate(folder);
  printf("%.6f\n", Now() - start);
  if (result != RESULT_OK) fprintf(stderr, "ApplyUpdate: 0x%08x\n", static_cast<unsigned>(result));
  return result == RESULT_OK ? 0 : 1;
}

// Lines like an installed game's, 1,000,000 bytes with the closing NUL.
std::string ListText() {
  std::string text;
  for (unsigned i = 0; text.size() < 1000000 - 1; ++i) {
    char line[64];
    snprintf(line, sizeof line, "data\\archive%06u.arc\n", i);
    text += line;
  }
  text.resize(1000000 - 1);
  text.back() = '\n';
  text += '\0';
  return text;
}

// Sixteen names that the list lacks, so each is searched for and appended.
const char* const kNames[] = {"patch0.arc",  "patch1.arc",  "patch2.arc",  "patch3.arc",  "patch4.arc",
                              "patch5.arc",  "patch6.arc",  "patch7.arc",  "patch8.arc",  "patch9.arc",
                              "patch10.arc", "patch11.arc", "patch12.arc", "patch13.arc", "patch14.arc",
                              "patch15.arc", nullptr};

int ListOnce(const std::string& folder) { return UpdateUninstallList(folder.c_str(), kNames) ? 0 : 1; }

int ListTime(const std::string& folder, int reps) {
  const std::string text = ListText();
  size_t expected_size = text.size();
  for (const char* const* name = kNames; *name; ++name) expected_size += strlen(*name) + 1;
  const std::string path = folder + "/uninst.lst";
  std::vector<double> times;
  for (int rep = 0; rep < reps; ++rep) {
    if (!WriteFile(path, text.data(), text.size())) return 2;
    double start = Now();
    bool ok = UpdateUninstallList(folder.c_str(), kNames);
    times.push_back(Now() - start);
    struct stat info;
    if (!ok || stat(path.c_str(), &info) != 0 || static_cast<size_t>(info.st_size) != expected_size) {
      fprintf(stderr, "UpdateUninstallList did not add the names\n");
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  printf("%.3f %.3f\n", times[times.size() / 2] * 1e3, times[0] * 1e3);  // median and best, ms
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "make" && argc == 5) return Make(argv[2], atoi(argv[3]), strtoul(argv[4], nullptr, 10));
  if (mode == "apply" && argc == 4) return Apply(argv[2], argv[3]);
  if (mode == "list-file" && argc == 3) {
    const std::string text = ListText();
    return WriteFile(std::string(argv[2]) + "/uninst.lst", text.data(), text.size()) ? 0 : 2;
  }
  if (mode == "list-once" && argc == 3) return ListOnce(argv[2]);
  if (mode == "list-time" && argc == 4) return ListTime(argv[2], atoi(argv[3]));
  if (mode == "idle") return 0;  // the process's own floor of time and memory
  fprintf(stderr,
          "usage: bench_tool make DIR COUNT SIZE | apply EXE FOLDER | list-file FOLDER | list-once FOLDER |\n"
          "       list-time FOLDER REPS | idle\n");
  return 2;
}
