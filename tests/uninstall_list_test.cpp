#include "uninstall/uninstall_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_files.h"
#ifndef _WIN32
#include "platform/standin_controls.h"
#endif

namespace {

const size_t kCapacity = UNINSTALL_LIST_CAPACITY;
const std::string kNul(1, '\0');

// A list in the installer's format: the text, then its closing NUL.
std::string Listed(const std::string& text) { return text + kNul; }

// `length` bytes of "x" lines; the last line is cut to fit and keeps its
// line feed only when `end_with_line_feed`. Holds no name the cases add.
std::string Filler(size_t length, bool end_with_line_feed) {
  std::string text;
  text.reserve(length);
  while (text.size() < length) text += (text.size() % 64 == 63) ? '\n' : 'x';
  if (length > 0) text[length - 1] = end_with_line_feed ? '\n' : 'x';
  return text;
}

struct ListCase {
  std::string title;
  std::string before;  // the file's bytes
  std::vector<std::string> names;
  bool result;
  std::string after;  // the file's bytes afterwards
  bool exists = true;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;  // of the list before the call
  bool held_for_reading = false;             // another program reads it meanwhile
};

ListCase Case(const std::string& title, const std::string& before, const std::vector<std::string>& names,
              bool result, const std::string& after) {
  ListCase c;
  c.title = title;
  c.before = before;
  c.names = names;
  c.result = result;
  c.after = after;
  return c;
}

ListCase Unchanged(const std::string& title, const std::string& before,
                   const std::vector<std::string>& names) {
  return Case(title, before, names, false, before);
}

std::vector<ListCase> MergeCases() {
  std::vector<ListCase> cases = {
      // The format the installer writes.
      Case("list without lines, two names", Listed(""), {"a.arc", "b.arc"}, true, Listed("a.arc\nb.arc\n")),
      Case("no names: rewritten as it was", Listed("x.arc\ny.arc\n"), {}, true, Listed("x.arc\ny.arc\n")),
      Case("name already a line", Listed("a.arc\nb.arc\n"), {"b.arc"}, true, Listed("a.arc\nb.arc\n")),
      Case("name as the tail of a longer file name", Listed("data_a.arc\n"), {"a.arc"}, true,
           Listed("data_a.arc\n")),
      Case("name as the last part of a path", Listed("save\\a.arc\n"), {"a.arc"}, true,
           Listed("save\\a.arc\n")),
      Case("name twice in the names: added once, first place", Listed("x\n"), {"a.arc", "b.arc", "a.arc"},
           true, Listed("x\na.arc\nb.arc\n")),
      Case("name inside a name added before it", Listed(""), {"xa.arc", "a.arc"}, true, Listed("xa.arc\n")),
      Case("shorter name first: both added", Listed(""), {"a.arc", "xa.arc"}, true,
           Listed("a.arc\nxa.arc\n")),
      Case("letter case counts", Listed("A.ARC\n"), {"a.arc"}, true, Listed("A.ARC\na.arc\n")),
      Case("empty name adds nothing", Listed("x\n"), {""}, true, Listed("x\n")),
      Case("carriage returns kept, added lines end in a line feed alone", Listed("x.arc\r\ny.arc\r\n"),
           {"z.arc"}, true, Listed("x.arc\r\ny.arc\r\nz.arc\n")),
      Case("code page 932 names compared byte for byte", Listed("\x83\x5C.arc\n"),
           {"\x83\x5C.arc", "\x83\x5D.arc"}, true, Listed("\x83\x5C.arc\n\x83\x5D.arc\n")),

      // Files outside the format: nothing is lost, nothing read past.
      Case("empty file, a name", "", {"a.arc"}, true, Listed("a.arc\n")),
      Case("empty file, no names: gets its NUL", "", {}, true, Listed("")),
      Case("no closing NUL: all text, gets its NUL", "x.arc\n", {}, true, Listed("x.arc\n")),
      Case("no closing NUL, a name", "x.arc\n", {"a.arc"}, true, Listed("x.arc\na.arc\n")),
      Case("no closing NUL nor line feed, a name", "x.arc", {"a.arc"}, true, Listed("x.arc\na.arc\n")),
      Case("no closing NUL, its last byte is searched", "x.arc", {"x.arc"}, true, Listed("x.arc")),
      Case("last line without line feed is ended before the first name", Listed("x.arc"), {"a.arc", "b.arc"},
           true, Listed("x.arc\na.arc\nb.arc\n")),
      Case("last line without line feed stays so when nothing is added", Listed("x.arc"), {"x.arc"}, true,
           Listed("x.arc")),
      Unchanged("NUL inside the text", Listed("a.arc\n") + Listed("b.arc\n"), {"c.arc"}),
      Unchanged("NUL inside the text, none at the end", Listed("a.arc\n") + "b.arc\n", {}),
      Unchanged("two NULs only", Listed(kNul), {}),

      // Capacity: the file with what is added, NUL included.
      Case("full list, no names", Listed(Filler(kCapacity - 1, true)), {}, true,
           Listed(Filler(kCapacity - 1, true))),
      Case("full list, a name already present", Listed(Filler(kCapacity - 1, true)), {"xxx"}, true,
           Listed(Filler(kCapacity - 1, true))),
      Unchanged("full list, a name to add", Listed(Filler(kCapacity - 1, true)), {"a"}),
      Case("a name that exactly fills the capacity", Listed(Filler(kCapacity - 3, true)), {"a"}, true,
           Listed(Filler(kCapacity - 3, true) + "a\n")),
      Unchanged("a name one byte over the capacity", Listed(Filler(kCapacity - 2, true)), {"a"}),
      Unchanged("several names, the last one over", Listed(Filler(kCapacity - 4, true)), {"a", "b"}),
      Unchanged("file over the capacity", Listed(Filler(kCapacity, true)), {}),
      Unchanged("no closing NUL, no room for it", Filler(kCapacity, true), {}),
      Case("no closing NUL, just room for it", Filler(kCapacity - 1, true), {}, true,
           Listed(Filler(kCapacity - 1, true))),
      Case("the line feed that ends the last line counts, fits", Filler(kCapacity - 4, false), {"a"}, true,
           Listed(Filler(kCapacity - 4, false) + "\na\n")),
      Unchanged("the line feed that ends the last line counts, over", Filler(kCapacity - 3, false), {"a"}),
  };

  ListCase missing = Unchanged("missing list: not created", "", {"a.arc"});
  missing.exists = false;
  cases.push_back(missing);
  ListCase read_only = Unchanged("read-only list", Listed("x.arc\n"), {"a.arc"});
  read_only.attributes = FILE_ATTRIBUTE_READONLY;
  cases.push_back(read_only);
  ListCase held = Unchanged("list held open by another reader", Listed("x.arc\n"), {"a.arc"});
  held.held_for_reading = true;
  cases.push_back(held);
  return cases;
}

class UninstallListTest : public ::testing::Test {
 protected:
  UninstallListTest() : dir_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
  void SetUp() override { ResetStandIn(); }
  void TearDown() override { ExpectNoOpenFile(); }

  static void ResetStandIn() {
#ifndef _WIN32
    standin::Reset();
#endif
  }
  static void ExpectNoOpenFile() {
#ifndef _WIN32
    EXPECT_EQ(standin::OpenFileCount(), 0u) << "a handle leaked";
#endif
  }

  std::string ListPath() const { return dir_.File("uninst.lst"); }

  // Lays down the list as `c` has it before the call.
  void Prepare(const ListCase& c) {
    MakeWritable(ListPath());
    DeleteFileA(ListPath().c_str());
    if (!c.exists) return;
    ASSERT_TRUE(WriteFileBytes(ListPath(), c.before));
    if (c.attributes != FILE_ATTRIBUTE_NORMAL) {
      ASSERT_TRUE(SetFileAttributesA(ListPath().c_str(), c.attributes));
    }
  }

  bool Update(const std::string& folder, const std::vector<std::string>& names) {
    std::vector<const char*> pointers;
    for (const std::string& name : names) pointers.push_back(name.c_str());
    pointers.push_back(nullptr);
    return UpdateUninstallList(folder.c_str(), pointers.data());
  }

  // The list's bytes, compared in a form that names the first difference
  // rather than printing a mebibyte.
  void ExpectList(const std::string& expected) {
    bool exists = false;
    std::string actual = ReadFileBytes(ListPath(), &exists);
    ASSERT_TRUE(exists) << "the list is gone";
    ASSERT_EQ(actual.size(), expected.size()) << "list size";
    size_t first = 0;
    while (first < actual.size() && actual[first] == expected[first]) ++first;
    EXPECT_EQ(first, actual.size()) << "the list differs from byte " << first;
  }

  ScratchDir dir_;
};

TEST_F(UninstallListTest, MergeTable) {
  for (const ListCase& c : MergeCases()) {
    SCOPED_TRACE(c.title);
    Prepare(c);
    ResetStandIn();  // count the call's own reads and writes only
    HANDLE reader = INVALID_HANDLE_VALUE;
    if (c.held_for_reading) {
      reader = CreateFileA(ListPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(Update(dir_.path(), c.names), c.result);
#ifndef _WIN32
    // The whole list in one read and one write, and no write at all when the
    // list was refused before the rewrite.
    EXPECT_LE(standin::CallCount(standin::CALL_READ_FILE), 1u);
    EXPECT_EQ(standin::CallCount(standin::CALL_WRITE_FILE), c.result ? 1u : 0u);
#endif
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    if (c.exists) {
      ExpectList(c.after);
      EXPECT_EQ(FileAttributes(ListPath()) & FILE_ATTRIBUTE_READONLY, c.attributes & FILE_ATTRIBUTE_READONLY);
    } else {
      EXPECT_FALSE(FileExists(ListPath())) << "the list must never be created";
    }
    ExpectNoOpenFile();
  }
}

#ifndef _WIN32
// The longest folder whose list path fits in MAX_PATH is 248 bytes. One byte
// more must not cut the path: a cut one would name "uninst.ls", another file.
TEST_F(UninstallListTest, FolderTooLongForThePathIsRefused) {
  const std::string prefix = dir_.path() + "\\";
  const std::string fits = prefix + std::string(248 - prefix.size(), 'f');
  const std::string too_long = prefix + std::string(249 - prefix.size(), 'g');
  ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(too_long.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(fits + "\\uninst.lst", Listed("")));
  ASSERT_TRUE(WriteFileBytes(too_long + "\\uninst.lst", Listed("")));
  ASSERT_TRUE(WriteFileBytes(too_long + "\\uninst.ls", Listed("")));

  standin::Reset();
  EXPECT_FALSE(Update(too_long, {"a.arc"}));
  EXPECT_EQ(standin::CallCount(standin::CALL_CREATE_FILE), 0u) << "nothing may be opened";
  EXPECT_EQ(ReadFileBytes(too_long + "\\uninst.lst"), Listed(""));
  EXPECT_EQ(ReadFileBytes(too_long + "\\uninst.ls"), Listed(""));

  EXPECT_TRUE(Update(fits, {"a.arc"}));
  EXPECT_EQ(ReadFileBytes(fits + "\\uninst.lst"), Listed("a.arc\n"));
}

// Failures of the platform's reads and writes, injected in the stand-in. The
// rewrite empties the file first, so after a failed or short write the list
// must be put back byte for byte; a failed read must not lead to any write.
TEST_F(UninstallListTest, FailedTransfersLeaveTheListAsItWas) {
  struct Injection {
    standin::Call call;
    unsigned nth;
    DWORD short_count;  // UINT32_MAX: plain failure
    bool fail_after_short;
  };
  struct FailureCase {
    const char* title;
    std::vector<Injection> injections;
    unsigned writes;   // WriteFile calls expected
    bool needs_bytes;  // a read of nothing cannot be told from a failed one
  };
  const FailureCase failures[] = {
      {"size query fails", {{standin::CALL_GET_FILE_SIZE, 1, UINT32_MAX, true}}, 0, false},
      {"read fails", {{standin::CALL_READ_FILE, 1, UINT32_MAX, true}}, 0, true},
      {"short read", {{standin::CALL_READ_FILE, 1, 2, false}}, 0, true},
      {"open for writing fails", {{standin::CALL_CREATE_FILE, 2, UINT32_MAX, true}}, 0, false},
      {"write fails", {{standin::CALL_WRITE_FILE, 1, UINT32_MAX, true}}, 2, false},
      {"short write", {{standin::CALL_WRITE_FILE, 1, 3, false}}, 2, false},
      {"write fails after some bytes", {{standin::CALL_WRITE_FILE, 1, 3, true}}, 2, false},
      // Nothing more can be done then; the answer stays false.
      {"short write, then the repair cannot open the list",
       {{standin::CALL_WRITE_FILE, 1, 3, false}, {standin::CALL_CREATE_FILE, 3, UINT32_MAX, true}},
       1,
       false},
  };
  // Originals in and out of the format: each must come back exactly.
  const std::string originals[] = {Listed("x.arc\ny.arc\n"), "x.arc\ny.arc", ""};
  for (const FailureCase& failure : failures) {
    for (const std::string& original : originals) {
      if (failure.needs_bytes && original.empty()) continue;
      SCOPED_TRACE(std::string(failure.title) + ", list of " + std::to_string(original.size()) + " bytes");
      ASSERT_TRUE(WriteFileBytes(ListPath(), original));
      standin::Reset();
      for (const Injection& i : failure.injections) {
        standin::InjectShortTransfer(i.call, i.nth, i.short_count, i.fail_after_short);
      }
      EXPECT_FALSE(Update(dir_.path(), {"a.arc", "b.arc"}));
      EXPECT_EQ(standin::CallCount(standin::CALL_WRITE_FILE), failure.writes);
      bool cut_without_repair = failure.injections.size() > 1;
      if (!cut_without_repair) {
        EXPECT_EQ(ReadFileBytes(ListPath()), original);
      }
      EXPECT_EQ(standin::OpenFileCount(), 0u);
    }
  }
}

#endif

}  // namespace
