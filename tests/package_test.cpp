#include "package/package.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/package_builder.h"
#include "tests/test_files.h"
#ifndef _WIN32
#include "platform/standin_controls.h"
#endif

namespace {

const DWORD kArchive = FILE_ATTRIBUTE_ARCHIVE;
const DWORD kLocked = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// What a run returns when the probe could not even be started.
const UpdateResult kNotRun = 0x7FFFFFFF;

const std::string kA = PatternBytes(4501, 1);
const std::string kB = PatternBytes(961, 2);
const std::string kC = PatternBytes(12337, 3);



// ---- the executable that carries the package

#ifdef _WIN32
// The probe is named by ctest; else it is looked for beside this program.
std::string ProbePath() {
  for (int i = 1; i < __argc; ++i) {
    if (strncmp(__argv[i], "--", 2) != 0 && FileExists(__argv[i])) return __argv[i];
  }
  char own[MAX_PATH] = {};
  std::string path(own, GetModuleFileNameA(nullptr, own, MAX_PATH));
  return path.substr(0, path.find_last_of("\\/") + 1) + "apply_update_probe.exe";
}

// The program part of every fixture: the probe, which runs ApplyUpdate.
const std::string& ProgramImage() {
  static const std::string image = ReadFileBytes(ProbePath());
  return image;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

// The fixture runs as a process of its own; its exit code is the result.
UpdateResult RunExecutable(const std::string& path, const std::string& folder) {
  std::string program = FullPath(path);
  std::string command = "\"" + program + "\" \"" + folder + "\"";
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << program << ", error " << GetLastError();
    return kNotRun;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(kNotRun);
  if (!GetExitCodeProcess(process.hProcess, &code)) ADD_FAILURE() << "no exit code";
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<UpdateResult>(code);
}
#else
// On the host the image is never run, only read past: any bytes will do.
const std::string& ProgramImage() {
  static const std::string image = PatternBytes(49152, 5);
  return image;
}

std::string FullPath(const std::string& path) { return path; }

// The stand-in reports `path` as the running executable.
UpdateResult RunExecutable(const std::string& path, const std::string& folder) {
  standin::SetModuleFileName(path.c_str());
  unsigned open_before = standin::OpenFileCount();  // the test's own held files
  UpdateResult result = ApplyUpdate(folder.c_str());
  EXPECT_EQ(standin::OpenFileCount(), open_before) << "a file was left open";
  return result;
}
#endif

std::string NativePath(const std::string& path) {
  std::string native = path;
#ifndef _WIN32
  std::replace(native.begin(), native.end(), '\\', '/');
#endif
  return native;
}

// The attribute bits that the platform stores as set, tried together as the
// cases set them. Windows keeps all four. A Wine prefix keeps hidden and system
// in an extended attribute, which a read-only file cannot take, and reports
// the archive bit always (and names starting with a dot as hidden). Attributes
// are compared in the bits kept.
DWORD KeptAttributes() {
  static const DWORD kept = [] {
    ScratchDir scratch("attribute_probe");
    std::string file = scratch.File("probe.bin");
    DWORD result = 0;
    if (!WriteFileBytes(file, "x")) return result;
    SetFileAttributesA(file.c_str(), kLocked);
    DWORD locked = FileAttributes(file);
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DWORD normal = FileAttributes(file);
    SetFileAttributesA(file.c_str(), kArchive);
    DWORD archive = FileAttributes(file);
    result = locked & ~normal & kLocked;
    if ((archive & kArchive) && !(normal & kArchive) && !(locked & kArchive)) result |= kArchive;
    if (result != (kLocked | kArchive)) {
      printf("note: this platform keeps only the attribute bits 0x%lx\n", static_cast<unsigned long>(result));
    }
    return result;
  }();
  return kept;
}

// FILE_ATTRIBUTE_NORMAL stands for "none of the others".
DWORD Comparable(DWORD attributes) { return attributes & KeptAttributes(); }

// A file of the install folder; a name that ends in a backslash is a subfolder.
struct FileSpec {
  std::string name;
  std::string bytes;
  DWORD attributes = 0;    // before: set after writing; after: expected exactly (0: not checked)
  bool held_open = false;  // before: another program reads it meanwhile, sharing reads only
};

// One case's scratch folder: the executable "fixture.exe" beside the install
// folder "game", so that a file written outside the install folder shows too.
class InstallSite {
 public:
  explicit InstallSite(const std::string& name) : scratch_(name), folder_(scratch_.File("game")) {
    EXPECT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  }
  ~InstallSite() { ReleaseHeld(); }

  const std::string& folder() const { return folder_; }
  std::string File(const std::string& name) const { return folder_ + "\\" + name; }
  std::string Executable() const { return scratch_.File("fixture.exe"); }

  // Makes a folder inside the install folder whose path, as passed to
  // ApplyUpdate, is `length` bytes long, and installs into it from now on.
  void UseFolderOfLength(size_t length) {
    std::string base = FullPath(folder_) + "\\";
    ASSERT_LT(base.size(), length);
    folder_ = base + std::string(length - base.size(), 'L');
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }

  void Prepare(const std::vector<FileSpec>& before) {
    for (const FileSpec& file : before) {
      if (!file.name.empty() && file.name.back() == '\\') {
        ASSERT_TRUE(CreateDirectoryA(File(file.name).c_str(), nullptr)) << file.name;
        continue;
      }
      ASSERT_TRUE(WriteFileBytes(File(file.name), file.bytes)) << file.name;
      if (file.attributes) {
        ASSERT_TRUE(SetFileAttributesA(File(file.name).c_str(), file.attributes));
      }
      if (file.held_open) {
        HANDLE held = CreateFileA(File(file.name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << file.name;
        held_.push_back(held);
      }
    }
  }

  void ReleaseHeld() {
    for (HANDLE held : held_) CloseHandle(held);
    held_.clear();
  }

  // The executable: image + padding + `package`, or the image alone.
  void WriteExecutable(const std::string& package, bool appended = true) {
    std::string executable = appended ? ExecutableWithPackage(ProgramImage(), package) : ProgramImage();
    ASSERT_TRUE(WriteFileBytes(Executable(), executable)) << "cannot write the fixture";
  }

  // Runs ApplyUpdate on the executable written before.
  UpdateResult RunWritten() {
    UpdateResult result = RunExecutable(Executable(), folder_);
    ReleaseHeld();
    return result;
  }

  UpdateResult Run(const std::string& package, bool appended = true) {
    WriteExecutable(package, appended);
    return RunWritten();
  }

  // Every file in the scratch folder but the fixture, named relative to the
  // install folder, is one of `after`, with its bytes and attributes.
  void Expect(const std::vector<FileSpec>& after) const {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path install = fs::path(NativePath(FullPath(folder_)));
    std::vector<std::string> found, expected;
    for (auto it = fs::recursive_directory_iterator(fs::path(NativePath(scratch_.path())), error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (!it->is_regular_file()) continue;
      if (it->path().filename() == "fixture.exe" && it.depth() == 0) continue;
      std::string name = fs::relative(it->path(), install, error).generic_string();
      std::replace(name.begin(), name.end(), '/', '\\');
      found.push_back(name);
    }
    ASSERT_FALSE(error) << error.message();
    for (const FileSpec& file : after) {
      if (file.name.empty() || file.name.back() != '\\') {
        std::string name = file.name;
        std::replace(name.begin(), name.end(), '/', '\\');
        expected.push_back(name);
      }
    }
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected) << "the files afterwards";
    for (const FileSpec& file : after) {
      if (!file.name.empty() && file.name.back() == '\\') continue;
      EXPECT_TRUE(SameBytes(ReadFileBytes(File(file.name)), file.bytes)) << file.name;
      if (file.attributes) {
        EXPECT_EQ(Comparable(FileAttributes(File(file.name))), Comparable(file.attributes))
            << file.name << " attributes " << std::hex << FileAttributes(File(file.name));
      }
    }
  }

 private:
  ScratchDir scratch_;
  std::string folder_;
  std::vector<HANDLE> held_;
};

std::string CaseName(size_t index) {
  return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
         std::to_string(index);
}

std::vector<FileSpec> operator+(std::vector<FileSpec> first, const std::vector<FileSpec>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// What the install folder holds before most cases.
const std::string kOldList = List({"readme.txt"});
std::vector<FileSpec> Installed() {
  return {{"readme.txt", "keep me", kArchive}, {"uninst.lst", kOldList, kArchive}};
}
std::vector<FileSpec> InstalledWithoutList() { return {{"readme.txt", "keep me", kArchive}}; }
// The list after `names` were added to it.
FileSpec ListAfter(const std::vector<std::string>& names) {
  std::vector<std::string> lines = {"readme.txt"};
  lines.insert(lines.end(), names.begin(), names.end());
  return {"uninst.lst", List(lines), kArchive};
}

std::string ThreeEntries() {
  return PackageBuilder().AddEntry("a.arc", kA).AddEntry("b.arc", kB).AddEntry("c.arc", kC).Build();
}
std::vector<FileSpec> ThreeWritten() {
  return {{"a.arc", kA, kArchive}, {"b.arc", kB, kArchive}, {"c.arc", kC, kArchive}};
}

struct ApplyCase {
  std::string title;
  std::string package;  // appended at PACKAGE_OFFSET
  std::vector<FileSpec> before;
  UpdateResult result;
  std::vector<FileSpec> after;
  bool appended = true;  // false: the executable is the program image alone
};

std::vector<ApplyCase> ApplyCases() {
  std::vector<ApplyCase> cases;
  auto add = [&cases](const std::string& title, const std::string& package,
                      const std::vector<FileSpec>& before, UpdateResult result,
                      const std::vector<FileSpec>& after) {
    ApplyCase c;
    c.title = title;
    c.package = package;
    c.before = before;
    c.result = result;
    c.after = after;
    cases.push_back(c);
  };
  const std::vector<FileSpec> old_a = {{"a.arc", "old a", kLocked}};
  const std::vector<FileSpec> old_b = {{"b.arc", "old b", kLocked}};

  add("three entries back to back", ThreeEntries(), Installed(), RESULT_OK,
      InstalledWithoutList() + ThreeWritten() +
          std::vector<FileSpec>{ListAfter({"a.arc", "b.arc", "c.arc"})});
  add("no entries: the list is rewritten as it was", PackageBuilder().Build(), Installed(), RESULT_OK,
      Installed());
  add("no entries and no list", PackageBuilder().Build(), InstalledWithoutList(), UPDATE_E_UNINSTALL_LIST,
      InstalledWithoutList());
  {
    PackageBuilder sixteen;
    std::vector<FileSpec> written;
    std::vector<std::string> names;
    for (int i = 0; i < 16; ++i) {
      std::string name = "e" + std::to_string(10 + i) + ".arc";
      sixteen.AddEntry(name, PatternBytes(100 + i, 10 + i));
      written.push_back({name, PatternBytes(100 + i, 10 + i), kArchive});
      names.push_back(name);
    }
    add("sixteen entries", sixteen.Build(), Installed(), RESULT_OK,
        InstalledWithoutList() + written + std::vector<FileSpec>{ListAfter(names)});
    sixteen.AddEntry("e26.arc", "seventeenth");
    add("seventeen entries", sixteen.Build(),
        Installed() + std::vector<FileSpec>{{"e10.arc", "old", kArchive}}, UPDATE_E_TOO_MANY_ENTRIES,
        Installed() + std::vector<FileSpec>{{"e10.arc", "old", kArchive}});
  }
  add("count with its top bit set", PackageBuilder().AddEntry("a.arc", kA).SetEntryCount(0x80000001u).Build(),
      Installed(), UPDATE_E_TOO_MANY_ENTRIES, Installed());
  add("a foreign signature is not compared",
      PackageBuilder().SetSignature("NotAPackage!").AddEntry("a.arc", kA).Build(), Installed(), RESULT_OK,
      InstalledWithoutList() + std::vector<FileSpec>{{"a.arc", kA, kArchive}, ListAfter({"a.arc"})});

  // The package cannot be read: nothing is touched.
  add("padding only, no header", "", Installed() + old_a, UPDATE_E_BROKEN_PACKAGE, Installed() + old_a);
  add("header cut short", ThreeEntries().substr(0, 15), Installed() + old_a, UPDATE_E_BROKEN_PACKAGE,
      Installed() + old_a);
  add("directory cut short", ThreeEntries().substr(0, 16 + 32 + 16), Installed() + old_a,
      UPDATE_E_BROKEN_PACKAGE, Installed() + old_a);
  add("no data area at all", ThreeEntries().substr(0, 16 + 3 * 32), Installed() + old_a,
      UPDATE_E_BROKEN_PACKAGE, Installed() + old_a);
  {
    ApplyCase nothing_appended;
    nothing_appended.title = "executable with nothing appended";
    nothing_appended.appended = false;
    nothing_appended.before = Installed() + old_a;
    nothing_appended.result = UPDATE_E_BROKEN_PACKAGE;
    nothing_appended.after = Installed() + old_a;
    cases.push_back(nothing_appended);
  }

  // Entry k is broken: entries before it stay written, its target and the
  // list stay as they were.
  const std::vector<FileSpec> a_only = Installed() + std::vector<FileSpec>{{"a.arc", kA, kArchive}} + old_b;
  {
    PackageBuilder p;
    p.AddEntry("a.arc", kA);
    p.AddRecord("b.arc", p.AddData(kB), static_cast<uint32_t>(kB.size()) + 1);
    add("second entry runs one byte past the end", p.Build(), Installed() + old_b, UPDATE_E_BROKEN_PACKAGE,
        a_only);
  }
  {
    PackageBuilder p;
    p.AddEntry("a.arc", kA).AddRecord("b.arc", 0, 1).AddData(kB);
    // Records first, so that DataStart counts both.
    uint32_t data_start = p.DataStart();
    PackageBuilder at_2g;
    at_2g.AddEntry("a.arc", kA).AddRecord("b.arc", 0x80000000u - data_start, 1);
    add("second entry at 2 GiB", at_2g.Build(), Installed() + old_b, UPDATE_E_BROKEN_PACKAGE, a_only);
    // The 32-bit sum would wrap to the header's position and copy it.
    PackageBuilder wrapping;
    wrapping.AddEntry("a.arc", kA)
        .AddRecord("b.arc", static_cast<uint32_t>(0x100000000ull - data_start + PACKAGE_OFFSET), 16);
    add("offset that wraps past 32 bits", wrapping.Build(), Installed() + old_b, UPDATE_E_BROKEN_PACKAGE,
        a_only);
  }
  for (uint32_t huge : {0xFFFFFFF0u, 0x7FFFFFF0u, 0x40000000u}) {
    PackageBuilder p;
    p.AddEntry("a.arc", kA);
    p.AddRecord("b.arc", p.AddData(kB), huge);
    add("corrupt size " + std::to_string(huge), p.Build(), Installed() + old_b, UPDATE_E_BROKEN_PACKAGE,
        a_only);
  }

  // Targets: created, truncated, replaced whatever their attributes.
  add("empty entries create and truncate",
      PackageBuilder().AddEntry("e.arc", "").AddEntry("f.arc", "").Build(),
      Installed() + std::vector<FileSpec>{{"f.arc", "old f", kArchive}}, RESULT_OK,
      InstalledWithoutList() + std::vector<FileSpec>{{"e.arc", "", kArchive},
                                                     {"f.arc", "", kArchive},
                                                     ListAfter({"e.arc", "f.arc"})});
  add("read-only, hidden, system target replaced", PackageBuilder().AddEntry("a.arc", kA).Build(),
      Installed() + old_a, RESULT_OK,
      InstalledWithoutList() + std::vector<FileSpec>{{"a.arc", kA, kArchive}, ListAfter({"a.arc"})});
  add("folder parts and unusual but safe names",
      PackageBuilder()
          .AddEntry("sub\\x.arc", kA)
          .AddEntry("sub/y.arc", kB)
          .AddEntry("a..b.arc", kC)
          .AddEntry(".cfg", "cfg")
          .Build(),
      Installed() + std::vector<FileSpec>{{"sub\\", ""}}, RESULT_OK,
      InstalledWithoutList() +
          std::vector<FileSpec>{{"sub\\x.arc", kA, kArchive},
                                {"sub\\y.arc", kB, kArchive},
                                {"a..b.arc", kC, kArchive},
                                {".cfg", "cfg", kArchive},
                                ListAfter({"sub\\x.arc", "sub/y.arc", "a..b.arc", ".cfg"})});
  add("missing subfolder: no folder is created",
      PackageBuilder().AddEntry("a.arc", kA).AddEntry("nosub\\x.arc", kB).AddEntry("c.arc", kC).Build(),
      Installed(), UPDATE_E_CANNOT_WRITE, Installed() + std::vector<FileSpec>{{"a.arc", kA, kArchive}});
  add("target held open by another program", ThreeEntries(),
      Installed() + std::vector<FileSpec>{{"b.arc", "old b", kLocked, true}}, UPDATE_E_CANNOT_WRITE,
      Installed() +
          std::vector<FileSpec>{{"a.arc", kA, kArchive}, {"b.arc", "old b", FILE_ATTRIBUTE_NORMAL}});
  add("same name twice: the later data remain, one line",
      PackageBuilder().AddEntry("a.arc", kA).AddEntry("a.arc", kB).Build(), Installed(), RESULT_OK,
      InstalledWithoutList() + std::vector<FileSpec>{{"a.arc", kB, kArchive}, ListAfter({"a.arc"})});
  {
    // c's bytes come first, b lies inside a, gaps between and bytes after all.
    PackageBuilder p;
    p.AddData("gap one");
    uint32_t c_offset = p.AddData(kC);
    p.AddData("gap two");
    uint32_t a_offset = p.AddData(kA);
    p.AddData("trailing bytes");
    p.AddRecord("a.arc", a_offset, static_cast<uint32_t>(kA.size()))
        .AddRecord("b.arc", a_offset + 1000, 2000)
        .AddRecord("c.arc", c_offset, static_cast<uint32_t>(kC.size()));
    add("out of order, with gaps and shared bytes", p.Build(), Installed(), RESULT_OK,
        InstalledWithoutList() + std::vector<FileSpec>{{"a.arc", kA, kArchive},
                                                       {"b.arc", kA.substr(1000, 2000), kArchive},
                                                       {"c.arc", kC, kArchive},
                                                       ListAfter({"a.arc", "b.arc", "c.arc"})});
  }
  {
    PackageBuilder p;
    p.AddRecord("a.arc", p.AddData(kA), static_cast<uint32_t>(kA.size()), "\xFF\x01\x02\x03\x04\x05\x06\x07");
    add("reserved bytes are ignored", p.Build(), Installed(), RESULT_OK,
        InstalledWithoutList() + std::vector<FileSpec>{{"a.arc", kA, kArchive}, ListAfter({"a.arc"})});
  }
  add("read-only list", ThreeEntries(),
      InstalledWithoutList() + std::vector<FileSpec>{{"uninst.lst", kOldList, FILE_ATTRIBUTE_READONLY}},
      UPDATE_E_UNINSTALL_LIST,
      InstalledWithoutList() + ThreeWritten() +
          std::vector<FileSpec>{{"uninst.lst", kOldList, FILE_ATTRIBUTE_READONLY}});
  return cases;
}

class ApplyUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    standin::Reset();
#endif
  }
};

TEST_F(ApplyUpdateTest, CaseTable) {
  std::vector<ApplyCase> cases = ApplyCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const ApplyCase& c = cases[i];
    SCOPED_TRACE(c.title);
    InstallSite site(CaseName(i));
    site.Prepare(c.before);
    EXPECT_EQ(site.Run(c.package, c.appended), c.result);
    site.Expect(c.after);
  }
}

// Names that could leave the install folder, or that name no file, refuse the
// whole package before anything is written, the valid entry before them too.
TEST_F(ApplyUpdateTest, UnsafeNamesRefuseThePackage) {
  const std::string unsafe[] = {
      "abcdefghijklmnop",  // no NUL in the field
      "",
      "\\evil.arc",
      "/evil.arc",
      "C:evil.arc",
      "evil.arc:stream",
      "..\\evil.arc",
      "../evil.arc",
      "..",
      "sub\\..\\..\\e.arc",
      "...\\evil.arc",
      ". .\\evil.arc",
      ".\\evil.arc",
      " \\evil.arc",
      "sub\\..",
      "sub\\",         // names the folder itself
      "sub\\\\e.arc",  // an empty component
      "NUL",            // a device: nothing would be written, yet it would be listed
      "com1.arc",
  };
  const std::vector<FileSpec> before = Installed() + std::vector<FileSpec>{{"sub\\", ""}};
  for (size_t i = 0; i < sizeof unsafe / sizeof unsafe[0]; ++i) {
    SCOPED_TRACE("name \"" + unsafe[i] + "\"");
    InstallSite site(CaseName(i));
    site.Prepare(before);
    std::string package =
        PackageBuilder().AddEntry("ok.arc", kA).AddEntry(unsafe[i], kB).AddEntry("last.arc", kC).Build();
    EXPECT_EQ(site.Run(package), UPDATE_E_BROKEN_PACKAGE);
    site.Expect(before);
  }
}

// A target path that does not fit in MAX_PATH is refused, never cut: the cut
// path would name another file. The folder is 245 bytes, so a 13-byte name
// just fits (245 + 1 + 13 + NUL = 260) and a 14-byte one does not.
TEST_F(ApplyUpdateTest, TargetPathThatDoesNotFitIsNotCut) {
  InstallSite site(CaseName(0));
  site.UseFolderOfLength(245);
  site.Prepare(Installed());
  std::string package = PackageBuilder()
                            .AddEntry("abcdefghi.arc", kA)
                            .AddEntry("abcdefghij.arc", kB)
                            .AddEntry("c.arc", kC)
                            .Build();
  EXPECT_EQ(site.Run(package), UPDATE_E_CANNOT_WRITE);
  site.Expect(Installed() + std::vector<FileSpec>{{"abcdefghi.arc", kA, kArchive}});
}

#ifdef _WIN32
TEST(ApplyUpdateProbe, FitsBelowThePackageOffset) {
  ASSERT_FALSE(ProgramImage().empty()) << "probe not found at " << ProbePath();
  EXPECT_LT(ProgramImage().size(), PACKAGE_OFFSET) << "the probe cannot carry a package";
}
#else

// Platform failures injected in the stand-in, on a three-entry package. The
// counts of each call: CreateFileA 1 the executable, 2-4 the targets, 5-6 the
// list; ReadFile 1 header, 2 directory, 3-5 entries, 6 list; WriteFile 1-3
// entries, 4 list; SetFilePointer 1 header, 2-4 entries; GetFileSize 1 the
// executable, 2 the list.
TEST_F(ApplyUpdateTest, InjectedPlatformFailures) {
  struct FailureCase {
    const char* title;
    standin::Call call;
    unsigned nth;
    DWORD short_count;  // UINT32_MAX: plain failure
    bool fail_after_short;
    UpdateResult result;
    std::vector<FileSpec> after;
  };
  const std::vector<FileSpec> before = Installed() + std::vector<FileSpec>{{"b.arc", "old b", kLocked}};
  const std::vector<FileSpec> a_only = Installed() + std::vector<FileSpec>{{"a.arc", kA, kArchive}};
  const FileSpec b_untouched = {"b.arc", "old b", kLocked};
  const FailureCase failures[] = {
      {"executable cannot be opened", standin::CALL_CREATE_FILE, 1, UINT32_MAX, true, UPDATE_E_BROKEN_PACKAGE,
       before},
      {"size query fails", standin::CALL_GET_FILE_SIZE, 1, UINT32_MAX, true, UPDATE_E_BROKEN_PACKAGE, before},
      {"seek to the header fails", standin::CALL_SET_FILE_POINTER, 1, UINT32_MAX, true,
       UPDATE_E_BROKEN_PACKAGE, before},
      {"header read short", standin::CALL_READ_FILE, 1, 8, false, UPDATE_E_BROKEN_PACKAGE, before},
      {"directory read short", standin::CALL_READ_FILE, 2, 40, false, UPDATE_E_BROKEN_PACKAGE, before},
      {"seek to b fails", standin::CALL_SET_FILE_POINTER, 3, UINT32_MAX, true, UPDATE_E_BROKEN_PACKAGE,
       a_only + std::vector<FileSpec>{b_untouched}},
      {"read of b short", standin::CALL_READ_FILE, 4, 10, false, UPDATE_E_BROKEN_PACKAGE,
       a_only + std::vector<FileSpec>{b_untouched}},
      {"b cannot be created", standin::CALL_CREATE_FILE, 3, UINT32_MAX, true, UPDATE_E_CANNOT_WRITE,
       a_only + std::vector<FileSpec>{{"b.arc", "old b", FILE_ATTRIBUTE_NORMAL}}},
      {"write of b fails", standin::CALL_WRITE_FILE, 2, UINT32_MAX, true, UPDATE_E_CANNOT_WRITE,
       a_only + std::vector<FileSpec>{{"b.arc", "", kArchive}}},
      {"write of b short", standin::CALL_WRITE_FILE, 2, 100, false, UPDATE_E_CANNOT_WRITE,
       a_only + std::vector<FileSpec>{{"b.arc", kB.substr(0, 100), kArchive}}},
      {"write of b fails part-way", standin::CALL_WRITE_FILE, 2, 100, true, UPDATE_E_CANNOT_WRITE,
       a_only + std::vector<FileSpec>{{"b.arc", kB.substr(0, 100), kArchive}}},
      {"write of the list fails", standin::CALL_WRITE_FILE, 4, UINT32_MAX, true, UPDATE_E_UNINSTALL_LIST,
       Installed() + ThreeWritten()},
      {"write of the list short", standin::CALL_WRITE_FILE, 4, 5, false, UPDATE_E_UNINSTALL_LIST,
       Installed() + ThreeWritten()},
      {"size query of the list fails", standin::CALL_GET_FILE_SIZE, 2, UINT32_MAX, true,
       UPDATE_E_UNINSTALL_LIST, Installed() + ThreeWritten()},
  };
  for (size_t i = 0; i < sizeof failures / sizeof failures[0]; ++i) {
    const FailureCase& f = failures[i];
    SCOPED_TRACE(f.title);
    InstallSite site(CaseName(i));
    site.Prepare(before);
    site.WriteExecutable(ThreeEntries());
    // Counted from here: the fixture's own writes are done.
    standin::InjectShortTransfer(f.call, f.nth, f.short_count, f.fail_after_short);
    EXPECT_EQ(site.RunWritten(), f.result);
    site.Expect(f.after);
  }
}

// Each entry is one Read and one Write of its whole data; the directory is one
// Read; nothing is read twice.
TEST_F(ApplyUpdateTest, OneReadAndOneWritePerEntry) {
  InstallSite site(CaseName(0));
  site.Prepare(Installed());
  site.WriteExecutable(ThreeEntries());
  standin::Reset();  // count the call's own operations only
  EXPECT_EQ(site.RunWritten(), RESULT_OK);
  EXPECT_EQ(standin::CallCount(standin::CALL_READ_FILE), 2u + 3u + 1u) << "header, directory, entries, list";
  EXPECT_EQ(standin::CallCount(standin::CALL_WRITE_FILE), 3u + 1u) << "entries, list";
  EXPECT_EQ(standin::CallCount(standin::CALL_SET_FILE_POINTER), 1u + 3u) << "header, entries";
  EXPECT_EQ(standin::CallCount(standin::CALL_SET_FILE_ATTRIBUTES), 3u);
  EXPECT_EQ(standin::CallCount(standin::CALL_GET_MODULE_FILE_NAME), 1u);
}

// A path of MAX_PATH bytes or more comes back cut to 259 bytes. The cut path
// names a real package here: reading it would install the wrong files.
TEST_F(ApplyUpdateTest, OwnPathCutShortIsNotOpened) {
  InstallSite site(CaseName(0));
  site.Prepare(Installed());
  std::string directory = site.folder() + "\\..\\";
  std::string fitting = directory + std::string(MAX_PATH - 1 - directory.size(), 'p');
  ASSERT_EQ(fitting.size(), MAX_PATH - 1u);
  ASSERT_TRUE(WriteFileBytes(fitting, ExecutableWithPackage(ProgramImage(), ThreeEntries())));

  std::string longer = fitting + "x.exe";
  standin::Reset();
  EXPECT_EQ(RunExecutable(longer, site.folder()), UPDATE_E_BROKEN_PACKAGE);
  EXPECT_EQ(standin::CallCount(standin::CALL_CREATE_FILE), 0u) << "nothing may be opened";
  site.Expect(Installed() + std::vector<FileSpec>{{"..\\" + fitting.substr(directory.size()),
                                                   ExecutableWithPackage(ProgramImage(), ThreeEntries())}});

  // The same file under its own, fitting path is read.
  EXPECT_EQ(RunExecutable(fitting, site.folder()), RESULT_OK);
  EXPECT_TRUE(SameBytes(ReadFileBytes(site.File("a.arc")), kA));
}

// When the platform writes no path, "setup.exe" in the current folder is read.
TEST_F(ApplyUpdateTest, NoOwnPathReadsSetupExe) {
  struct RemoveOnExit {
    ~RemoveOnExit() {
      MakeWritable("setup.exe");
      DeleteFileA("setup.exe");
    }
  } remove_on_exit;
  InstallSite site(CaseName(0));
  site.Prepare(Installed());
  standin::SetModuleFileName(nullptr);
  DeleteFileA("setup.exe");
  EXPECT_EQ(ApplyUpdate(site.folder().c_str()), UPDATE_E_BROKEN_PACKAGE) << "no setup.exe yet";
  site.Expect(Installed());

  ASSERT_TRUE(WriteFileBytes("setup.exe", ExecutableWithPackage(ProgramImage(), ThreeEntries())));
  EXPECT_EQ(ApplyUpdate(site.folder().c_str()), RESULT_OK);
  site.Expect(InstalledWithoutList() + ThreeWritten() +
              std::vector<FileSpec>{ListAfter({"a.arc", "b.arc", "c.arc"})});
}

TEST_F(ApplyUpdateTest, MissingExecutable) {
  InstallSite site(CaseName(0));
  site.Prepare(Installed());
  EXPECT_EQ(RunExecutable(site.Executable(), site.folder()), UPDATE_E_BROKEN_PACKAGE);
  site.Expect(Installed());
}

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
size_t largest_allocation = 0;
void NoteAllocation(const volatile void*, size_t size) {
  largest_allocation = std::max(largest_allocation, size);
}
void NoteRelease(const volatile void*) {}

// A corrupt size is refused by the file's size before memory is asked for:
// no allocation during the call comes near it, and the entry is never read.
TEST_F(ApplyUpdateTest, CorruptSizeAsksForNoMemory) {
  static bool hooked = __sanitizer_install_malloc_and_free_hooks(NoteAllocation, NoteRelease) != 0;
  ASSERT_TRUE(hooked);
  for (uint32_t huge : {0xFFFFFFF0u, 0x7FFFFFF0u, 0x00100000u}) {
    SCOPED_TRACE(huge);
    InstallSite site(CaseName(huge & 0xF00000));
    site.Prepare(Installed());
    PackageBuilder p;
    p.AddEntry("a.arc", kA);
    p.AddRecord("b.arc", p.AddData(kB), huge);
    site.WriteExecutable(p.Build());
    unsigned reads_before = standin::CallCount(standin::CALL_READ_FILE);
    largest_allocation = 0;
    EXPECT_EQ(site.RunWritten(), UPDATE_E_BROKEN_PACKAGE);
    EXPECT_LE(largest_allocation, kA.size() + 4096) << "memory was asked for the corrupt entry";
    EXPECT_EQ(standin::CallCount(standin::CALL_READ_FILE) - reads_before, 3u) << "header, directory, a";
    site.Expect(Installed() + std::vector<FileSpec>{{"a.arc", kA, kArchive}});
  }
}
#endif

// Runs as its own ctest entry, under a heap whose allocations over 1 MiB fail
// (see package.cmake): an entry that lies inside the file but whose buffer
// cannot be had is refused, and nothing is read into the missing buffer.
TEST(ApplyUpdateHeapLimit, FailedAllocationIsABrokenPackage) {
  void* volatile probe = malloc(2u << 20);
  bool limited = probe == nullptr;
  free(probe);
  if (!limited) GTEST_SKIP() << "needs a heap that refuses 2 MiB (its own ctest entry)";

  standin::Reset();
  InstallSite site("ApplyUpdateHeapLimit");
  site.Prepare(Installed() + std::vector<FileSpec>{{"big.arc", "old big", kLocked}});
  const uint32_t big = (1u << 20) + 1;
  PackageBuilder p;
  p.AddEntry("a.arc", kA);
  p.AddRecord("big.arc", static_cast<uint32_t>(kA.size()), big);
  ASSERT_TRUE(WriteFileBytes(site.Executable(), ExecutableWithPackage(ProgramImage(), p.Build())));
  // The big entry's bytes, appended in pieces the test's own heap can hold.
  HANDLE file = CreateFileA(site.Executable().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetFilePointer(file, 0, nullptr, FILE_END);
  const std::string piece = PatternBytes(65536, 9);
  for (uint32_t done = 0; done < big; done += static_cast<uint32_t>(piece.size())) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr));
  }
  CloseHandle(file);

  unsigned reads_before = standin::CallCount(standin::CALL_READ_FILE);
  EXPECT_EQ(site.RunWritten(), UPDATE_E_BROKEN_PACKAGE);
  EXPECT_EQ(standin::CallCount(standin::CALL_READ_FILE) - reads_before, 3u) << "header, directory, a";
  site.Expect(Installed() + std::vector<FileSpec>{{"a.arc", kA, kArchive}, {"big.arc", "old big", kLocked}});
}
#endif

}  // namespace
