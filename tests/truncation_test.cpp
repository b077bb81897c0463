// An executable whose package breaks off anywhere: the executable is cut at
// lengths from nothing to its full size, and each cut is installed into the
// same folder. The folder is put back between runs only where the run before
// wrote, and the executable only grows, so that neither is rebuilt per length.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/package.h"
#include "platform/standin_controls.h"
#include "tests/package_builder.h"
#include "tests/test_files.h"

namespace {

const DWORD kLocked = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
const std::string kOldList = std::string("old.arc\n") + '\0';

struct Entry {
  std::string name;
  std::string data;
  bool existed;  // a read-only, hidden file of that name is installed already
  std::string old_bytes;
};

// Empty entries where a cut at their start is a complete entry, the large one
// in the middle, and existing locked targets after it.
std::vector<Entry> Entries() {
  return {
      {"a.arc", PatternBytes(4501, 1), false, ""},
      {"empty.arc", "", false, ""},
      {"big.arc", PatternBytes(200 * 1024, 2), false, ""},
      {"b.arc", PatternBytes(961, 3), true, "old b.arc"},
      {"empty2.arc", "", true, "old empty2.arc"},
      {"c.arc", PatternBytes(1233, 4), true, "old c.arc"},
  };
}

std::string HostPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

class PackageTruncation : public ::testing::Test {
 protected:
  PackageTruncation() : exe_dir_("truncation_exe"), folder_("truncation"), entries_(Entries()) {}

  void SetUp() override {
    standin::Reset();
    PackageBuilder builder;
    for (const Entry& entry : entries_) builder.AddEntry(entry.name, entry.data);
    full_ = ExecutableWithPackage("", builder.Build());
    data_start_ = builder.DataStart();
    // Where each entry's data end, as the packer lays them out back to back.
    size_t end = data_start_;
    for (const Entry& entry : entries_) ends_.push_back(end += entry.data.size());
    ASSERT_EQ(end, full_.size());

    exe_path_ = exe_dir_.File("updater.exe");
    standin::SetModuleFileName(exe_path_.c_str());
    restored_.resize(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) Restore(i);
    ASSERT_TRUE(WriteFileBytes(List(), kOldList));
    ASSERT_EQ(stat(HostPath(List()).c_str(), &list_status_), 0);
  }

  std::string Target(size_t i) const { return folder_.File(entries_[i].name); }
  std::string List() const { return folder_.File("uninst.lst"); }

  // Entry i's target as it was before any run.
  void Restore(size_t i) {
    const Entry& entry = entries_[i];
    if (!entry.existed) {
      DeleteFileA(Target(i).c_str());
      return;
    }
    MakeWritable(Target(i));
    ASSERT_TRUE(WriteFileBytes(Target(i), entry.old_bytes));
    ASSERT_TRUE(SetFileAttributesA(Target(i).c_str(), kLocked));
    ASSERT_EQ(stat(HostPath(Target(i)).c_str(), &restored_[i]), 0);
  }

  // The entries that a cut at `length` installs whole: those that end at or
  // before it, once the directory is complete.
  size_t CompleteEntries(size_t length) const {
    if (length < data_start_) return 0;
    size_t complete = 0;
    while (complete < entries_.size() && ends_[complete] <= length) ++complete;
    return complete;
  }

  // Compared through POSIX, and untouched files by their status alone: the
  // check runs once per length, and a file whose inode, size, mode and times
  // are as they were has not been written, truncated or had its mode changed.
  ::testing::AssertionResult FolderAfter(size_t written, bool list_updated) {
    size_t expected_files = 1;  // the list
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& entry = entries_[i];
      struct stat now;
      const bool exists = stat(HostPath(Target(i)).c_str(), &now) == 0;
      if (i < written) {
        ++expected_files;
        if (!exists || !HoldsExactly(Target(i), entry.data)) {
          return ::testing::AssertionFailure() << entry.name << " was not written whole";
        }
        if (FileAttributes(Target(i)) & kLocked) {
          return ::testing::AssertionFailure() << entry.name << " is still locked";
        }
      } else if (entry.existed) {
        ++expected_files;
        if (!exists || !SameStatus(now, restored_[i]) || (FileAttributes(Target(i)) & kLocked) != kLocked) {
          return ::testing::AssertionFailure() << entry.name << " was touched";
        }
      } else if (exists) {
        return ::testing::AssertionFailure() << entry.name << " was written";
      }
    }
    if (list_updated) {
      std::string list = kOldList.substr(0, kOldList.size() - 1);
      for (const Entry& entry : entries_) list += entry.name + "\n";
      if (!HoldsExactly(List(), list + '\0'))
        return ::testing::AssertionFailure() << "the list was not updated";
    } else {
      struct stat now;
      if (stat(HostPath(List()).c_str(), &now) != 0 || !SameStatus(now, list_status_)) {
        return ::testing::AssertionFailure() << "the list was touched";
      }
    }
    size_t files = 0;
    if (DIR* dir = opendir(HostPath(folder_.path()).c_str())) {
      while (struct dirent* item = readdir(dir)) files += item->d_name[0] != '.';
      closedir(dir);
    }
    if (files != expected_files) return ::testing::AssertionFailure() << files << " files in the folder";
    return ::testing::AssertionSuccess();
  }

  static bool SameStatus(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mode == b.st_mode &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
  }

  bool HoldsExactly(const std::string& path, const std::string& bytes) {
    buffer_.resize(bytes.size() + 1);
    const int fd = open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t got = 0;
    ssize_t moved;
    while (got < buffer_.size() && (moved = read(fd, &buffer_[got], buffer_.size() - got)) > 0) got += moved;
    close(fd);
    return got == bytes.size() && memcmp(buffer_.data(), bytes.data(), got) == 0;
  }

  ScratchDir exe_dir_;
  ScratchDir folder_;
  std::vector<Entry> entries_;
  std::string full_;
  size_t data_start_ = 0;
  std::vector<size_t> ends_;
  std::string exe_path_;
  std::vector<struct stat> restored_;  // each existing target as restored
  struct stat list_status_;
  std::vector<char> buffer_;
};

// Lengths that a cut cannot tell apart lie between two boundaries: the end of
// the stand-in program, of the header, of the directory and of each entry.
// Every length within kNear of a boundary is checked, and every kStride-th
// one between, which leaves out most of the program's and the large entry's
// identical lengths; UPDATER_EVERY_LENGTH=1 checks all of them (slow).
TEST_F(PackageTruncation, CutAnywhere) {
  const size_t kNear = 256;
  const size_t kStride = 61;
  const bool every_length = getenv("UPDATER_EVERY_LENGTH") != nullptr;
  std::vector<size_t> boundaries = {0, PACKAGE_OFFSET, PACKAGE_OFFSET + sizeof(PackFileHeader), data_start_};
  boundaries.insert(boundaries.end(), ends_.begin(), ends_.end());
  std::sort(boundaries.begin(), boundaries.end());

  const int exe = open(HostPath(exe_path_).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  ASSERT_GE(exe, 0);
  size_t exe_size = 0;
  size_t dirty = 0;  // entries the previous run wrote
  size_t checked = 0;
  for (size_t length = 0; length <= full_.size(); ++length) {
    const size_t next = *std::lower_bound(boundaries.begin(), boundaries.end(), length);
    const size_t previous = *(std::upper_bound(boundaries.begin(), boundaries.end(), length) - 1);
    if (!every_length && length - previous > kNear && next - length > kNear && length % kStride != 0)
      continue;
    ++checked;
    // The executable only grows: append what the previous length lacked.
    ASSERT_EQ(pwrite(exe, &full_[exe_size], length - exe_size, static_cast<off_t>(exe_size)),
              static_cast<ssize_t>(length - exe_size));
    exe_size = length;
    for (size_t i = 0; i < dirty; ++i) Restore(i);

    const UpdateResult result = ApplyUpdate(folder_.path().c_str());

    const bool whole = length == full_.size();
    const size_t written = CompleteEntries(length);
    ASSERT_EQ(result, whole ? RESULT_OK : UPDATE_E_BROKEN_PACKAGE) << "cut at " << length;
    ASSERT_EQ(standin::OpenFileCount(), 0u) << "cut at " << length;
    ASSERT_TRUE(FolderAfter(written, whole)) << "cut at " << length << ", " << written << " entries whole";
    dirty = written;
  }
  close(exe);
  printf("%zu of %zu lengths checked\n", checked, full_.size() + 1);
}

}  // namespace
