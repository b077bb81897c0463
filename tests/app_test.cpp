// The run sequence on the host stand-in: the interlock through the two
// mutexes, the install-folder lookup, the question and the outcome message,
// with the real install routine reading package fixtures built here.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/installed_folder.h"
#include "app/messages.h"
#include "app/product.h"
#include "app/run_sequence.h"
#include "package/package.h"
#include "platform/standin_controls.h"
#include "tests/test_files.h"

namespace {

const char kKeyPath[] = "Software\\Tobarin\\Orvale";
const char kValueName[] = "InstalledFolder";
const UINT kQuestionStyle = 0x124;  // Yes/No, question icon, No the default
const UINT kInformationStyle = 0x40;
const UINT kWarningStyle = 0x30;

struct PackageEntry {
  std::string name;
  std::string data;
};

// An executable as the packer leaves it: 65,536 zero bytes standing for the
// image, the header, the directory, then the entries back to back.
std::string PackageFile(const std::vector<PackageEntry>& entries, uint32_t entry_count) {
  std::string file(PACKAGE_OFFSET, '\0');
  PackFileHeader header = {};
  memcpy(header.signature, PACKAGE_SIGNATURE, sizeof header.signature);
  header.entry_count = entry_count;
  file.append(reinterpret_cast<const char*>(&header), sizeof header);
  uint32_t offset = 0;
  for (const PackageEntry& entry : entries) {
    PackFileEntry record = {};
    memcpy(record.name, entry.name.c_str(), entry.name.size() + 1);
    record.offset = offset;
    record.size = static_cast<uint32_t>(entry.data.size());
    offset += record.size;
    file.append(reinterpret_cast<const char*>(&record), sizeof record);
  }
  for (const PackageEntry& entry : entries) file += entry.data;
  return file;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    static const char kHex[] = "0123456789abcdef";
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// What the stand-in saw while each message box was up.
struct BoxMoment {
  bool game_mutex_exists;
  bool updater_mutex_exists;
  unsigned open_mutexes;
};

void RecordMoment(const standin::MessageBoxRecord&, void* context) {
  static_cast<std::vector<BoxMoment>*>(context)->push_back(BoxMoment{standin::MutexExists(GAME_MUTEX_NAME),
                                                                     standin::MutexExists(UPDATER_MUTEX_NAME),
                                                                     standin::OpenMutexCount()});
}

class RunTest : public ::testing::Test {
 protected:
  RunTest() : dir_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}

  void SetUp() override {
    standin::Reset();
    standin::SetMessageBoxHook(RecordMoment, &moments_);
    module_ = dir_.File("orvale_updater.exe");
    folder_ = dir_.File("game");
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  }

  void TearDown() override {
    standin::SetMessageBoxHook(nullptr, nullptr);
    // Whatever the way out, the run leaves no handle of its own behind.
    EXPECT_EQ(standin::OpenMutexCount(), 0u) << "a mutex handle was left open";
    EXPECT_EQ(standin::OpenRegistryKeyCount(), 0u) << "a registry key was left open";
    EXPECT_EQ(standin::OpenFileCount(), 0u) << "a file handle was left open";
  }

  void RegisterFolder(const std::string& folder) {
    standin::SetRegistryValue(kKeyPath, kValueName, REG_SZ, folder.c_str(),
                              static_cast<DWORD>(folder.size() + 1));
  }

  void UsePackage(const std::string& bytes) {
    ASSERT_TRUE(WriteFileBytes(module_, bytes));
    standin::SetModuleFileName(module_.c_str());
  }

  void Answer(std::vector<int> answers) { standin::ScriptMessageBoxAnswers(answers.data(), answers.size()); }

  static void ExpectBox(size_t index, const char* text, UINT style) {
    ASSERT_LT(index, standin::MessageBoxCount());
    const standin::MessageBoxRecord& box = standin::MessageBoxAt(index);
    EXPECT_EQ(Printable(box.text), Printable(text));
    EXPECT_STREQ(box.caption, "Orvale");
    EXPECT_EQ(box.style, style);
    EXPECT_FALSE(box.had_owner);
  }

  ScratchDir dir_;
  std::string module_;
  std::string folder_;
  std::vector<BoxMoment> moments_;
};

// Each outcome of the install routine, reached through a real package, and
// the message and exit status it gives.
TEST_F(RunTest, EveryInstallOutcomeShowsItsMessageAndBecomesTheExitStatus) {
  enum Fixture { GOOD_PACKAGE, SHORT_FILE, SEVENTEEN_ENTRIES, TARGET_IN_MISSING_FOLDER, NO_UNINSTALL_LIST };
  struct Case {
    const char* name;
    Fixture fixture;
    uint32_t exit_status;
    const char* text;
    UINT style;
  };
  const Case cases[] = {
      {"success", GOOD_PACKAGE, 0u, TEXT_UPDATE_COMPLETED, kInformationStyle},
      {"executable shorter than the package offset", SHORT_FILE, 0x80000001u, TEXT_PACKAGE_BROKEN,
       kWarningStyle},
      {"seventeen entries", SEVENTEEN_ENTRIES, 0x80000002u, TEXT_PACKAGE_BROKEN, kWarningStyle},
      {"target cannot be created", TARGET_IN_MISSING_FOLDER, 0x80000003u, TEXT_CANNOT_UPDATE, kWarningStyle},
      {"no uninstall list", NO_UNINSTALL_LIST, 0x80000004u, TEXT_UNINSTALL_LIST_FAILED, kWarningStyle},
  };
  const std::string list = std::string("game.exe\n") + '\0';
  const std::vector<PackageEntry> good = {{"readme.txt", PatternBytes(300, 1)},
                                          {"data.bin", PatternBytes(70000, 2)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    standin::Reset();
    standin::SetMessageBoxHook(RecordMoment, &moments_);
    moments_.clear();
    RegisterFolder(folder_);
    DeleteFileA((folder_ + "\\readme.txt").c_str());
    DeleteFileA((folder_ + "\\uninst.lst").c_str());
    if (c.fixture != NO_UNINSTALL_LIST) {
      ASSERT_TRUE(WriteFileBytes(folder_ + "\\uninst.lst", list));
    }
    switch (c.fixture) {
      case GOOD_PACKAGE:
      case NO_UNINSTALL_LIST:
        UsePackage(PackageFile(good, 2));
        break;
      case SHORT_FILE:
        UsePackage(std::string(1000, '\0'));
        break;
      case SEVENTEEN_ENTRIES:
        UsePackage(PackageFile(good, 17));
        break;
      case TARGET_IN_MISSING_FOLDER:
        UsePackage(PackageFile({{"sub\\a.txt", "abc"}}, 1));
        break;
    }
    Answer({IDYES, IDOK});

    UpdateResult result = RunUpdater();

    EXPECT_EQ(static_cast<uint32_t>(result), c.exit_status);
    ASSERT_EQ(standin::MessageBoxCount(), 2u);
    ExpectBox(0, TEXT_CONFIRM_UPDATE, kQuestionStyle);
    ExpectBox(1, c.text, c.style);
    // Both mutexes are held across the question and the outcome message, and
    // let go only once the outcome has been dismissed.
    ASSERT_EQ(moments_.size(), 2u);
    for (const BoxMoment& moment : moments_) {
      EXPECT_TRUE(moment.game_mutex_exists);
      EXPECT_TRUE(moment.updater_mutex_exists);
      EXPECT_EQ(moment.open_mutexes, 2u);
    }
    EXPECT_EQ(standin::MessageBoxAt(1).open_mutexes, 2u);
    EXPECT_FALSE(standin::MutexExists(GAME_MUTEX_NAME));
    EXPECT_FALSE(standin::MutexExists(UPDATER_MUTEX_NAME));
    EXPECT_EQ(standin::OpenMutexCount(), 0u);
    EXPECT_EQ(standin::OpenRegistryKeyCount(), 0u);
    if (c.fixture == GOOD_PACKAGE) {
      EXPECT_EQ(ReadFileBytes(folder_ + "\\readme.txt"), good[0].data);
      EXPECT_EQ(ReadFileBytes(folder_ + "\\data.bin"), good[1].data);
    }
  }
}

// The interlock: another updater stops the run silently; the game's programs
// (or a mutex that cannot be made) stop it with the warning, before the
// registry is read or the question is asked.
TEST_F(RunTest, MutexInterlockStopsTheRunBeforeTheRegistryIsRead) {
  enum Setup { UPDATER_HELD, UPDATER_FAILS, BOTH_HELD, GAME_HELD, GAME_FAILS };
  struct Case {
    const char* name;
    Setup setup;
    UpdateResult result;
    unsigned mutexes_created;
    const char* warning;  // null: nothing is shown
    unsigned open_mutexes_at_warning;
  };
  const Case cases[] = {
      {"another updater holds its mutex", UPDATER_HELD, RESULT_ALREADY_RUNNING, 1, nullptr, 0},
      {"the updater's mutex cannot be created", UPDATER_FAILS, RESULT_ALREADY_RUNNING, 1, nullptr, 0},
      {"both are held", BOTH_HELD, RESULT_ALREADY_RUNNING, 1, nullptr, 0},
      {"the game holds its mutex", GAME_HELD, RESULT_GAME_RUNNING, 2, TEXT_GAME_RUNNING, 2},
      {"the game's mutex cannot be created", GAME_FAILS, RESULT_GAME_RUNNING, 2, TEXT_GAME_RUNNING, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    standin::Reset();
    standin::SetMessageBoxHook(RecordMoment, &moments_);
    moments_.clear();
    RegisterFolder(folder_);
    UsePackage(PackageFile({{"readme.txt", "new"}}, 1));
    switch (c.setup) {
      case UPDATER_HELD:
        standin::HoldMutexElsewhere(UPDATER_MUTEX_NAME);
        break;
      case UPDATER_FAILS:
        standin::InjectFailure(standin::CALL_CREATE_MUTEX, 1);
        break;
      case BOTH_HELD:
        standin::HoldMutexElsewhere(UPDATER_MUTEX_NAME);
        standin::HoldMutexElsewhere(GAME_MUTEX_NAME);
        break;
      case GAME_HELD:
        standin::HoldMutexElsewhere(GAME_MUTEX_NAME);
        break;
      case GAME_FAILS:
        standin::InjectFailure(standin::CALL_CREATE_MUTEX, 2);
        break;
    }
    Answer({IDYES, IDYES});

    EXPECT_EQ(RunUpdater(), c.result);

    EXPECT_EQ(standin::CallCount(standin::CALL_CREATE_MUTEX), c.mutexes_created);
    EXPECT_EQ(standin::CallCount(standin::CALL_REG_OPEN_KEY), 0u);
    EXPECT_EQ(standin::CallCount(standin::CALL_GET_MODULE_FILE_NAME), 0u);
    EXPECT_FALSE(FileExists(folder_ + "\\readme.txt"));
    if (c.warning) {
      ASSERT_EQ(standin::MessageBoxCount(), 1u);
      ExpectBox(0, c.warning, kWarningStyle);
      ASSERT_EQ(moments_.size(), 1u);
      EXPECT_EQ(moments_[0].open_mutexes, c.open_mutexes_at_warning);
      EXPECT_TRUE(moments_[0].updater_mutex_exists);
    } else {
      EXPECT_EQ(standin::MessageBoxCount(), 0u);
    }
    EXPECT_EQ(standin::OpenMutexCount(), 0u);
  }
  EXPECT_EQ(static_cast<uint32_t>(RESULT_ALREADY_RUNNING), 0xFFFFFFFCu);
}

// Registry contents and faults, as the lookup sees them and as the run
// reports them.
struct RegistryCase {
  const char* name;
  bool has_key;
  const char* value_name;  // null: the key holds no value
  DWORD type;
  std::string data;
  standin::Call inject;  // CALL_COUNT_OF_KINDS: no injected failure
  bool accepted;
  std::string folder;  // expected when accepted
};

std::vector<RegistryCase> RegistryCases() {
  const std::string a259(259, 'a');
  const standin::Call none = standin::CALL_COUNT_OF_KINDS;
  return {
      {"ordinary path", true, kValueName, REG_SZ, std::string("C:\\Games\\Orvale") + '\0', none, true,
       "C:\\Games\\Orvale"},
      {"key missing", false, nullptr, REG_SZ, "", none, false, ""},
      {"value missing", true, nullptr, REG_SZ, "", none, false, ""},
      {"value of another name", true, "InstalledDir", REG_SZ, std::string("C:\\x") + '\0', none, false, ""},
      {"REG_EXPAND_SZ", true, kValueName, REG_EXPAND_SZ, std::string("C:\\x") + '\0', none, false, ""},
      {"REG_BINARY", true, kValueName, REG_BINARY, std::string("C:\\x") + '\0', none, false, ""},
      {"REG_DWORD", true, kValueName, REG_DWORD, std::string(4, '\x01'), none, false, ""},
      {"260 bytes ending in NUL", true, kValueName, REG_SZ, a259 + '\0', none, true, a259},
      {"261 bytes", true, kValueName, REG_SZ, a259 + "b" + '\0', none, false, ""},
      {"260 bytes without NUL", true, kValueName, REG_SZ, a259 + "b", none, false, ""},
      {"259 bytes without NUL", true, kValueName, REG_SZ, a259, none, true, a259},
      {"short text without NUL", true, kValueName, REG_SZ, "C:\\Games", none, true, "C:\\Games"},
      {"empty, size 0", true, kValueName, REG_SZ, "", none, true, ""},
      {"empty, size 1", true, kValueName, REG_SZ, std::string(1, '\0'), none, true, ""},
      {"key cannot be opened", true, kValueName, REG_SZ, std::string("C:\\x") + '\0',
       standin::CALL_REG_OPEN_KEY, false, ""},
      {"query fails", true, kValueName, REG_SZ, std::string("C:\\x") + '\0', standin::CALL_REG_QUERY_VALUE,
       false, ""},
  };
}

void PrepareRegistry(const RegistryCase& c) {
  standin::Reset();
  if (c.has_key) standin::AddRegistryKey(kKeyPath);
  if (c.has_key && c.value_name) {
    standin::SetRegistryValue(kKeyPath, c.value_name, c.type, c.data.data(),
                              static_cast<DWORD>(c.data.size()));
  }
  if (c.inject != standin::CALL_COUNT_OF_KINDS) standin::InjectFailure(c.inject, 1);
}

TEST(InstalledFolderTest, ReadsOnlyAStringValueThatFitsWithItsNul) {
  for (const RegistryCase& c : RegistryCases()) {
    SCOPED_TRACE(c.name);
    PrepareRegistry(c);
    // One guard byte past the 260 that the lookup may use.
    char folder[MAX_PATH + 1];
    memset(folder, 'X', sizeof folder);

    int found = GetInstalledFolder(folder, "Tobarin", "Orvale");

    EXPECT_EQ(found, c.accepted ? 1 : 0);
    if (c.accepted) {
      EXPECT_EQ(std::string(folder), c.folder);
    }
    EXPECT_EQ(folder[MAX_PATH], 'X') << "written past MAX_PATH bytes";
    EXPECT_EQ(standin::CallCount(standin::CALL_REG_OPEN_KEY), 1u);
    EXPECT_EQ(standin::OpenRegistryKeyCount(), 0u) << "the key was left open";
  }
}

TEST_F(RunTest, FolderLookupDecidesBetweenTheQuestionAndTheNotInstalledWarning) {
  for (const RegistryCase& c : RegistryCases()) {
    SCOPED_TRACE(c.name);
    PrepareRegistry(c);
    Answer({IDNO, IDOK});

    UpdateResult result = RunUpdater();

    ASSERT_EQ(standin::MessageBoxCount(), 1u);
    if (c.accepted) {
      EXPECT_EQ(result, RESULT_DECLINED);
      ExpectBox(0, TEXT_CONFIRM_UPDATE, kQuestionStyle);
    } else {
      EXPECT_EQ(static_cast<uint32_t>(result), 0xFFFFFFFFu);
      ExpectBox(0, TEXT_NOT_INSTALLED, kWarningStyle);
      EXPECT_EQ(standin::MessageBoxAt(0).open_mutexes, 2u);
    }
    EXPECT_EQ(standin::OpenMutexCount(), 0u);
    EXPECT_EQ(standin::OpenRegistryKeyCount(), 0u);
  }
}

TEST(InstalledFolderTest, KeyPathIsBuiltFromMakerAndProductWithinItsBuffer) {
  char folder[MAX_PATH];
  const std::string value = std::string("D:\\Other") + '\0';

  standin::Reset();
  standin::SetRegistryValue("Software\\Maker\\Game", kValueName, REG_SZ, value.data(), 9);
  EXPECT_EQ(GetInstalledFolder(folder, "Maker", "Game"), 1);
  EXPECT_STREQ(folder, "D:\\Other");
  EXPECT_EQ(GetInstalledFolder(folder, "Tobarin", "Orvale"), 0);

  // "Software\" + maker + "\" + product with its NUL fills 4,096 bytes
  // exactly; one byte more does not fit and the registry is not asked.
  const std::string product = "p";
  const std::string maker(KEY_PATH_CAPACITY - strlen("Software\\") - 1 - product.size() - 1, 'm');
  standin::Reset();
  standin::SetRegistryValue(("Software\\" + maker + "\\" + product).c_str(), kValueName, REG_SZ, value.data(),
                            9);
  EXPECT_EQ(GetInstalledFolder(folder, maker.c_str(), product.c_str()), 1);
  EXPECT_STREQ(folder, "D:\\Other");
  const std::string longer = maker + "m";
  standin::Reset();
  EXPECT_EQ(GetInstalledFolder(folder, longer.c_str(), product.c_str()), 0);
  EXPECT_EQ(standin::CallCount(standin::CALL_REG_OPEN_KEY), 0u);

  // Missing names end the lookup before the registry is touched.
  standin::Reset();
  standin::SetRegistryValue(kKeyPath, kValueName, REG_SZ, value.data(), 9);
  EXPECT_EQ(GetInstalledFolder(folder, nullptr, "Orvale"), 0);
  EXPECT_EQ(GetInstalledFolder(folder, "Tobarin", nullptr), 0);
  EXPECT_EQ(GetInstalledFolder(nullptr, "Tobarin", "Orvale"), 0);
  EXPECT_EQ(standin::CallCount(standin::CALL_REG_OPEN_KEY), 0u);
}

// Anything but Yes (No, a box that cannot be shown, another button) ends the
// run with nothing written and no further message.
TEST_F(RunTest, AnythingButYesDeclinesAndWritesNothing) {
  const std::string list = std::string("game.exe\n") + '\0';
  const int answers[] = {IDNO, 0, IDCANCEL, IDOK};
  for (int answer : answers) {
    SCOPED_TRACE(answer);
    standin::Reset();
    RegisterFolder(folder_);
    ASSERT_TRUE(WriteFileBytes(folder_ + "\\uninst.lst", list));
    UsePackage(PackageFile({{"readme.txt", "new"}}, 1));
    Answer({answer, IDOK});

    UpdateResult result = RunUpdater();

    EXPECT_EQ(static_cast<uint32_t>(result), 0xFFFFFFFDu);
    ASSERT_EQ(standin::MessageBoxCount(), 1u);
    ExpectBox(0, TEXT_CONFIRM_UPDATE, kQuestionStyle);
    EXPECT_EQ(standin::CallCount(standin::CALL_GET_MODULE_FILE_NAME), 0u) << "the package was opened";
    EXPECT_FALSE(FileExists(folder_ + "\\readme.txt"));
    EXPECT_EQ(ReadFileBytes(folder_ + "\\uninst.lst"), list);
    EXPECT_EQ(standin::OpenMutexCount(), 0u);
  }
}

// A run leaves nothing of its own behind, so a second run straight after it
// is not taken for another copy.
TEST_F(RunTest, RunAfterRunIsNotTakenForAnotherCopy) {
  RegisterFolder(folder_);
  Answer({IDNO, IDNO});
  EXPECT_EQ(RunUpdater(), RESULT_DECLINED);
  EXPECT_EQ(RunUpdater(), RESULT_DECLINED);
  EXPECT_EQ(standin::MessageBoxCount(), 2u);
}

}  // namespace
