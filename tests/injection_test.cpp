// Every platform call of an update made to fail in turn, in every position in
// which the update makes it, and every read and write cut short: the result is
// the one that the failing step calls for, no handle stays open, and the
// uninstall list holds either its old bytes or the fully updated ones.
#include <gtest/gtest.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "package/package.h"
#include "platform/standin_controls.h"
#include "tests/package_builder.h"
#include "tests/test_files.h"

namespace {

const DWORD kLocked = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
// Longer than any short transfer below, like every other transfer of the run.
const std::string kOldList = std::string("old.arc\nreadme.txt\n") + '\0';
const std::string kUpdatedList = std::string("old.arc\nreadme.txt\na.arc\nb.arc\nc.arc\n") + '\0';

struct Entry {
  std::string name;
  std::string data;
  bool existed;  // installed before, read-only and hidden, with other bytes
};

const std::vector<Entry>& Entries() {
  static const std::vector<Entry> entries = {
      {"a.arc", PatternBytes(4501, 1), false},
      {"b.arc", PatternBytes(961, 2), true},
      {"c.arc", PatternBytes(12337, 3), false},
  };
  return entries;
}
const std::string kOldB = "old b.arc";

// What a call of the update is for, and so what its failure must lead to.
enum Step {
  STEP_PACKAGE,     // finding, opening, sizing or reading the header and directory
  STEP_ENTRY_READ,  // positioning on or reading entry k
  STEP_ATTRIBUTES,  // clearing entry k's target's attributes
  STEP_TARGET_OPEN,
  STEP_TARGET_WRITE,
  STEP_LIST,  // anything of the uninstall list
};
struct Role {
  Step step;
  size_t entry;
};

// The calls of one clean update, kind by kind, in the order they are made.
std::map<standin::Call, std::vector<Role>> CallRoles() {
  const size_t n = Entries().size();
  std::map<standin::Call, std::vector<Role>> roles;
  auto per_entry = [n](Step step) {
    std::vector<Role> list;
    for (size_t k = 0; k < n; ++k) list.push_back({step, k});
    return list;
  };
  auto join = [](std::vector<Role> a, const std::vector<Role>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Role package = {STEP_PACKAGE, 0};
  const Role list = {STEP_LIST, 0};
  roles[standin::CALL_GET_MODULE_FILE_NAME] = {package};
  // The executable; each target; the list read, then rewritten.
  roles[standin::CALL_CREATE_FILE] = join(join({package}, per_entry(STEP_TARGET_OPEN)), {list, list});
  roles[standin::CALL_GET_FILE_SIZE] = {package, list};
  // The header, then each entry.
  roles[standin::CALL_SET_FILE_POINTER] = join({package}, per_entry(STEP_ENTRY_READ));
  // The header, the directory, each entry, the list.
  roles[standin::CALL_READ_FILE] = join(join({package, package}, per_entry(STEP_ENTRY_READ)), {list});
  roles[standin::CALL_SET_FILE_ATTRIBUTES] = per_entry(STEP_ATTRIBUTES);
  roles[standin::CALL_WRITE_FILE] = join(per_entry(STEP_TARGET_WRITE), {list});
  return roles;
}

const char* CallName(standin::Call call) {
  switch (call) {
    case standin::CALL_CREATE_FILE:
      return "CreateFileA";
    case standin::CALL_READ_FILE:
      return "ReadFile";
    case standin::CALL_WRITE_FILE:
      return "WriteFile";
    case standin::CALL_SET_FILE_POINTER:
      return "SetFilePointer";
    case standin::CALL_GET_FILE_SIZE:
      return "GetFileSize";
    case standin::CALL_SET_FILE_ATTRIBUTES:
      return "SetFileAttributesA";
    case standin::CALL_GET_MODULE_FILE_NAME:
      return "GetModuleFileNameA";
    default:
      return "another call";
  }
}

// What becomes of the target of the entry at which the update stopped.
enum Stopped {
  STOPPED_UNTOUCHED,   // bytes and attributes as before
  STOPPED_BYTES_KEPT,  // bytes as before; its attributes may have been cleared
  STOPPED_CUT,         // truncated and written in part
};

// How the install folder must look after a failure at `role`.
struct Outcome {
  UpdateResult result;
  size_t written;   // entries 0 .. written-1 hold their data
  Stopped stopped;  // entry `written`, if any; those after it are untouched
};

Outcome Expect(const Role& role) {
  const size_t all = Entries().size();
  switch (role.step) {
    case STEP_PACKAGE:
      return {UPDATE_E_BROKEN_PACKAGE, 0, STOPPED_UNTOUCHED};
    case STEP_ENTRY_READ:
      return {UPDATE_E_BROKEN_PACKAGE, role.entry, STOPPED_UNTOUCHED};
    case STEP_ATTRIBUTES:
      // Only a read-only target needs them cleared; it then cannot be opened.
      if (Entries()[role.entry].existed) return {UPDATE_E_CANNOT_WRITE, role.entry, STOPPED_UNTOUCHED};
      return {RESULT_OK, all, STOPPED_UNTOUCHED};
    case STEP_TARGET_OPEN:
      return {UPDATE_E_CANNOT_WRITE, role.entry, STOPPED_BYTES_KEPT};
    case STEP_TARGET_WRITE:
      return {UPDATE_E_CANNOT_WRITE, role.entry, STOPPED_CUT};
    case STEP_LIST:
      return {UPDATE_E_UNINSTALL_LIST, all, STOPPED_UNTOUCHED};
  }
  return {RESULT_OK, all, STOPPED_UNTOUCHED};
}

class InjectedFailure : public ::testing::Test {
 protected:
  InjectedFailure() : exe_dir_("injection_exe") {}

  void SetUp() override {
    PackageBuilder builder;
    for (const Entry& entry : Entries()) builder.AddEntry(entry.name, entry.data);
    ASSERT_TRUE(WriteFileBytes(Exe(), ExecutableWithPackage("", builder.Build())));
  }

  std::string Exe() const { return exe_dir_.File("updater.exe"); }

  // A fresh install folder holding the list and the existing target, with
  // the stand-in's counters and injections cleared.
  void Prepare(ScratchDir& folder) {
    standin::Reset();
    standin::SetModuleFileName(Exe().c_str());
    ASSERT_TRUE(WriteFileBytes(folder.File("uninst.lst"), kOldList));
    for (const Entry& entry : Entries()) {
      if (!entry.existed) continue;
      ASSERT_TRUE(WriteFileBytes(folder.File(entry.name), kOldB));
      ASSERT_TRUE(SetFileAttributesA(folder.File(entry.name).c_str(), kLocked));
    }
  }

  // Runs one update with the failure armed by `inject` and checks its outcome.
  void RunAndCheck(const std::string& title, const Outcome& outcome, void (*inject)(void*), void* context) {
    SCOPED_TRACE(title);
    ScratchDir folder("injection");
    Prepare(folder);
    inject(context);
    unsigned before[standin::CALL_COUNT_OF_KINDS];
    for (int kind = 0; kind < standin::CALL_COUNT_OF_KINDS; ++kind) {
      before[kind] = standin::CallCount(static_cast<standin::Call>(kind));
    }
    const UpdateResult result = ApplyUpdate(folder.path().c_str());
    for (int kind = 0; kind < standin::CALL_COUNT_OF_KINDS; ++kind) {
      calls_[kind] = standin::CallCount(static_cast<standin::Call>(kind)) - before[kind];
    }
    EXPECT_EQ(result, outcome.result);
    EXPECT_EQ(standin::OpenFileCount(), 0u) << "a handle was left open";

    // The list loses no byte: it is updated whole or not at all.
    const std::string list = ReadFileBytes(folder.File("uninst.lst"));
    EXPECT_TRUE(list == kOldList || list == kUpdatedList) << "the list was damaged";
    EXPECT_EQ(list, result == RESULT_OK ? kUpdatedList : kOldList);

    for (size_t k = 0; k < Entries().size(); ++k) {
      const Entry& entry = Entries()[k];
      const std::string path = folder.File(entry.name);
      bool exists = false;
      const std::string bytes = ReadFileBytes(path, &exists);
      const DWORD attributes = FileAttributes(path);
      if (k < outcome.written) {
        EXPECT_EQ(bytes, entry.data) << entry.name << " not written whole";
        EXPECT_EQ(attributes & kLocked, 0u) << entry.name;
      } else if (k == outcome.written && outcome.stopped == STOPPED_CUT) {
        // Truncated and cut off: whatever it holds, it is not the whole entry.
        EXPECT_TRUE(exists) << entry.name;
        EXPECT_NE(bytes, entry.data) << entry.name << " reported failed but whole";
      } else if (entry.existed) {
        EXPECT_EQ(bytes, kOldB) << entry.name << " changed";
        if (k != outcome.written || outcome.stopped == STOPPED_UNTOUCHED) {
          EXPECT_EQ(attributes & kLocked, kLocked) << entry.name << " lost its attributes";
        }
      } else {
        EXPECT_FALSE(exists) << entry.name << " was written";
      }
    }
  }

  ScratchDir exe_dir_;
  unsigned calls_[standin::CALL_COUNT_OF_KINDS] = {};  // made by the last update
};

struct Injection {
  standin::Call call;
  unsigned nth;
  DWORD short_count;  // UINT32_MAX: plain failure
  bool fail_after_short;
};

void Arm(void* context) {
  const Injection& injection = *static_cast<const Injection*>(context);
  standin::InjectShortTransfer(injection.call, injection.nth, injection.short_count,
                               injection.fail_after_short);
}

void ArmNothing(void*) {}

// The clean update makes exactly the calls that the roles list: one read and
// one write per entry, nothing twice. The failure cases rest on this order.
TEST_F(InjectedFailure, CleanRunMakesTheListedCalls) {
  RunAndCheck("clean run", {RESULT_OK, Entries().size(), STOPPED_UNTOUCHED}, ArmNothing, nullptr);
  for (const auto& kind : CallRoles()) {
    EXPECT_EQ(calls_[kind.first], kind.second.size()) << CallName(kind.first);
  }
}

// Injects into each position counted in a clean run.
TEST_F(InjectedFailure, EveryCallFailsInTurn) {
  RunAndCheck("clean run", {RESULT_OK, Entries().size(), STOPPED_UNTOUCHED}, ArmNothing, nullptr);
  for (const auto& kind : CallRoles())
    ASSERT_EQ(calls_[kind.first], kind.second.size()) << CallName(kind.first);
  for (const auto& kind : CallRoles()) {
    for (unsigned n = 1; n <= kind.second.size(); ++n) {
      Injection injection = {kind.first, n, UINT32_MAX, true};
      RunAndCheck(std::string(CallName(kind.first)) + " #" + std::to_string(n) + " fails",
                  Expect(kind.second[n - 1]), Arm, &injection);
    }
  }
}

// A read or write that moves fewer bytes than asked counts as failed, whether
// the platform then reports success or failure.
TEST_F(InjectedFailure, EveryTransferCutShort) {
  const DWORD kShortCounts[] = {0, 1, 15};
  const std::map<standin::Call, std::vector<Role>> roles = CallRoles();
  RunAndCheck("clean run", {RESULT_OK, Entries().size(), STOPPED_UNTOUCHED}, ArmNothing, nullptr);
  for (const auto& kind : roles) ASSERT_EQ(calls_[kind.first], kind.second.size()) << CallName(kind.first);
  for (standin::Call call : {standin::CALL_READ_FILE, standin::CALL_WRITE_FILE}) {
    const std::vector<Role>& kind = roles.at(call);
    for (unsigned n = 1; n <= kind.size(); ++n) {
      for (DWORD count : kShortCounts) {
        for (bool fail_after : {false, true}) {
          Injection injection = {call, n, count, fail_after};
          RunAndCheck(std::string(CallName(call)) + " #" + std::to_string(n) + " moves " +
                          std::to_string(count) + (fail_after ? " bytes, then fails" : " bytes"),
                      Expect(kind[n - 1]), Arm, &injection);
        }
      }
    }
  }
}

}  // namespace
