// The real updater, packed with a test package, run as a process of its own
// under Wine: its message boxes are read and answered from outside as a user
// would, and afterwards its full exit code, the install folder and the
// uninstall list are checked.
#include <stdint.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/package.h"
#include "tests/e2e/e2e_options.h"
#include "tests/e2e/updater_driver.h"
#include "tests/package_builder.h"
#include "tests/test_files.h"

namespace {

const char kGameMutex[] = "Lumereth for Orvale is executing.";
const char kUpdaterMutex[] = "Updater for Orvale is executing.";

// Exit codes as the process reports them: 32 bits, unsigned.
const DWORD kOk = 0;
const DWORD kNotInstalled = 0xFFFFFFFF;
const DWORD kGameRunning = 0xFFFFFFFE;
const DWORD kDeclined = 0xFFFFFFFD;
const DWORD kAlreadyRunning = 0xFFFFFFFC;
const DWORD kBrokenPackage = 0x80000001;
const DWORD kTooManyEntries = 0x80000002;
const DWORD kCannotWrite = 0x80000003;
const DWORD kUninstallList = 0x80000004;

// What the user reads, as UTF-16: independent of the code page 932 bytes the
// updater stores, so that a wrong byte shows as a wrong character.
const wchar_t kCaption[] = L"Orvale";
const wchar_t kQuestion[] = L"アップデートを行いますか？";
const wchar_t kCompleted[] = L"アップデートが完了しました";
const wchar_t kBroken[] = L"アップデートプログラムが破損している可能性があります";
const wchar_t kCannotUpdate[] = L"何らかの要因によりアップデートが行えません";
const wchar_t kListFailed[] = L"アンインストレーションファイルの更新に失敗しました";
const wchar_t kNotInstalledText[] = L"ゲームがインストールされていないのでアップデートを行えません";
const wchar_t kGameRunningText[] =
    L"ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません";

// "データ.arc" in code page 932: the name as the package stores it.
const char kJapaneseName[] = "\x83\x66\x81\x5b\x83\x5e.arc";



std::string Hex(DWORD value) {
  char text[16];
  const char digits[] = "0123456789ABCDEF";
  text[0] = '0';
  text[1] = 'x';
  for (int i = 0; i < 8; ++i) text[2 + i] = digits[(value >> (28 - 4 * i)) & 0xF];
  return std::string(text, 10);
}

// ---- the install folder as files on disk

struct FileState {
  std::string bytes;
  bool read_only = false;
  bool operator==(const FileState& other) const {
    return bytes == other.bytes && read_only == other.read_only;
  }
};
// Every file and folder under the install folder; folders end in a backslash.
typedef std::map<std::string, FileState> Tree;

void ReadTree(const std::string& folder, const std::string& prefix, Tree* tree) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[prefix + name + "\\"] = FileState();
      ReadTree(folder + "\\" + name, prefix + name + "\\", tree);
    } else {
      FileState& state = (*tree)[prefix + name];
      state.bytes = ReadFileBytes(folder + "\\" + name);
      state.read_only = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

Tree TreeOf(const std::string& folder) {
  Tree tree;
  ReadTree(folder, "", &tree);
  return tree;
}

void ExpectTree(const Tree& actual, const Tree& expected) {
  for (const auto& file : expected) {
    auto it = actual.find(file.first);
    if (it == actual.end()) {
      ADD_FAILURE() << "missing afterwards: " << file.first;
      continue;
    }
    EXPECT_TRUE(SameBytes(it->second.bytes, file.second.bytes)) << file.first;
    EXPECT_EQ(it->second.read_only, file.second.read_only) << "read-only attribute of " << file.first;
  }
  for (const auto& file : actual) {
    if (!expected.count(file.first)) ADD_FAILURE() << "unexpected afterwards: " << file.first;
  }
}

// ---- one scenario

enum Registry {
  REGISTRY_FOLDER,         // REG_SZ: the install folder
  REGISTRY_NO_KEY,         // no Software\Tobarin\Orvale
  REGISTRY_NO_VALUE,       // the key without "InstalledFolder"
  REGISTRY_EXPAND_FOLDER,  // REG_EXPAND_SZ: the install folder
  REGISTRY_261_BYTES,      // REG_SZ: 260 characters and the NUL
  REGISTRY_260_BYTES,      // REG_SZ: 259 characters and the NUL, the longest accepted
  REGISTRY_EMPTY,          // REG_SZ: the NUL alone
};

struct Entry {
  std::string name;
  std::string bytes;
};

struct FileSpec {
  std::string name;  // ends in a backslash: a folder
  std::string bytes;
  bool read_only = false;
};

struct Scenario {
  const char* title;
  Registry registry = REGISTRY_FOLDER;
  bool appended = true;  // false: the updater as built, nothing appended
  std::vector<Entry> package;
  std::vector<FileSpec> before;  // the install folder, uninst.lst included
  std::string held_open;         // a file the driver holds open without sharing
  bool game_running = false;
  std::string arguments;
  int answer = 0;                    // IDYES or IDNO: the question comes; 0: it does not
  const wchar_t* outcome = nullptr;  // the outcome box's text, null for none
  DWORD exit_code = kOk;
  size_t written = 0;      // the first `written` entries stand in the folder afterwards
  std::string list_after;  // uninst.lst afterwards; empty: as before (or still missing)
};

const std::string kOld1 = PatternBytes(3000, 11);
const std::string kOld3 = PatternBytes(777, 13);
const std::string kReadme = PatternBytes(300, 14);
const std::vector<std::string> kListLines = {"orvale.exe", "data1.arc", "readme.txt"};

std::vector<Entry> FullPackage() {
  return {{"data1.arc", PatternBytes(4501, 1)},
          {"data2.arc", PatternBytes(96135, 2)},
          {"data3.arc", PatternBytes(1233746, 3)},
          {kJapaneseName, PatternBytes(2048, 4)}};
}

std::vector<FileSpec> InstalledGame() {
  return {
      {"data1.arc", kOld1}, {"data3.arc", kOld3}, {"readme.txt", kReadme}, {"uninst.lst", List(kListLines)}};
}

std::vector<FileSpec> With(std::vector<FileSpec> files, const FileSpec& file) {
  for (FileSpec& existing : files) {
    if (existing.name == file.name) {
      existing = file;
      return files;
    }
  }
  files.push_back(file);
  return files;
}

std::vector<FileSpec> Without(std::vector<FileSpec> files, const std::string& name) {
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].name == name) files.erase(files.begin() + i);
  }
  return files;
}

const std::string kListAfterFull =
    List({"orvale.exe", "data1.arc", "readme.txt", "data2.arc", "data3.arc", kJapaneseName});

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> all;
  Scenario s;

  s = Scenario();
  s.title = "a full update: files replaced and added, the list extended";
  s.package = FullPackage();
  s.before = InstalledGame();
  s.answer = IDYES;
  s.outcome = kCompleted;
  s.written = 4;
  s.list_after = kListAfterFull;
  all.push_back(s);

  s.title = "arguments on the command line change nothing";
  s.arguments = "/S /D=Z:\\elsewhere --yes -silent";
  all.push_back(s);

  s.title = "a read-only target is replaced";
  s.arguments.clear();
  s.before = With(InstalledGame(), {"data1.arc", kOld1, true});
  all.push_back(s);

  s = Scenario();
  s.title = "nothing appended: the package is broken";
  s.appended = false;
  s.before = InstalledGame();
  s.answer = IDYES;
  s.outcome = kBroken;
  s.exit_code = kBrokenPackage;
  all.push_back(s);

  s.title = "17 entries: too many, the same text";
  s.appended = true;
  for (int i = 0; i < 17; ++i)
    s.package.push_back({"e" + std::to_string(i) + ".arc", PatternBytes(10, 20 + i)});
  s.outcome = kBroken;
  s.exit_code = kTooManyEntries;
  all.push_back(s);

  s = Scenario();
  s.title = "a target in a missing subfolder cannot be written; the entry before it stays";
  s.package = {{"new1.arc", PatternBytes(500, 5)}, {"nosub\\x.arc", PatternBytes(600, 6)}, {"new2.arc", "z"}};
  s.before = InstalledGame();
  s.answer = IDYES;
  s.outcome = kCannotUpdate;
  s.exit_code = kCannotWrite;
  s.written = 1;
  all.push_back(s);

  s.title = "a target held open without sharing cannot be written";
  s.package = {{"new1.arc", PatternBytes(500, 5)}, {"data1.arc", PatternBytes(600, 6)}, {"new2.arc", "z"}};
  s.held_open = "data1.arc";
  all.push_back(s);

  s = Scenario();
  s.title = "no uninst.lst: every file written, none created";
  s.package = {{"data1.arc", PatternBytes(700, 7)}, {"new1.arc", PatternBytes(800, 8)}};
  s.before = Without(InstalledGame(), "uninst.lst");
  s.answer = IDYES;
  s.outcome = kListFailed;
  s.exit_code = kUninstallList;
  s.written = 2;
  all.push_back(s);

  s.title = "a read-only uninst.lst keeps its bytes";
  s.before = With(InstalledGame(), {"uninst.lst", List(kListLines), true});
  all.push_back(s);

  s = Scenario();
  s.title = "the game's mutex exists: warning, no question";
  s.package = FullPackage();
  s.before = InstalledGame();
  s.game_running = true;
  s.outcome = kGameRunningText;
  s.exit_code = kGameRunning;
  all.push_back(s);

  s.game_running = false;
  s.outcome = kNotInstalledText;
  s.exit_code = kNotInstalled;
  s.title = "no registry key: not installed";
  s.registry = REGISTRY_NO_KEY;
  all.push_back(s);
  s.title = "the key without the value: not installed";
  s.registry = REGISTRY_NO_VALUE;
  all.push_back(s);
  s.title = "a REG_EXPAND_SZ value: not installed";
  s.registry = REGISTRY_EXPAND_FOLDER;
  all.push_back(s);
  s.title = "a value of 261 bytes: not installed";
  s.registry = REGISTRY_261_BYTES;
  all.push_back(s);

  s.outcome = nullptr;
  s.answer = IDNO;
  s.exit_code = kDeclined;
  s.title = "a value of 260 bytes is accepted: the question comes";
  s.registry = REGISTRY_260_BYTES;
  all.push_back(s);
  s.title = "an empty value is accepted: the question comes";
  s.registry = REGISTRY_EMPTY;
  all.push_back(s);
  s.title = "No: nothing written, nothing more shown";
  s.registry = REGISTRY_FOLDER;
  all.push_back(s);
  return all;
}

// The packed updater, the install folder and the registry value of one case.
class InstallSite {
 public:
  explicit InstallSite(const std::string& name)
      : scratch_(name),
        folder_(FullPath(scratch_.File("game"))),
        program_(FullPath(scratch_.File("setup.exe"))) {
    EXPECT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }

  const std::string& folder() const { return folder_; }
  const std::string& program() const { return program_; }
  std::string File(const std::string& name) const { return folder_ + "\\" + name; }

  void Prepare(const std::vector<FileSpec>& files) {
    for (const FileSpec& file : files) {
      if (!file.name.empty() && file.name.back() == '\\') {
        ASSERT_TRUE(CreateDirectoryA(File(file.name).c_str(), nullptr)) << file.name;
        continue;
      }
      ASSERT_TRUE(WriteFileBytes(File(file.name), file.bytes)) << file.name;
      if (file.read_only) {
        ASSERT_TRUE(SetFileAttributesA(File(file.name).c_str(), FILE_ATTRIBUTE_READONLY));
      }
    }
  }

  void WriteProgram(const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(program_, bytes)); }

  void Register(Registry registry) {
    switch (registry) {
      case REGISTRY_FOLDER:
        ASSERT_TRUE(WriteInstallValue(REG_SZ, folder_ + std::string(1, '\0')));
        break;
      case REGISTRY_NO_KEY:
        ASSERT_TRUE(RemoveInstallKey());
        break;
      case REGISTRY_NO_VALUE:
        ASSERT_TRUE(WriteInstallKeyWithoutValue());
        break;
      case REGISTRY_EXPAND_FOLDER:
        ASSERT_TRUE(WriteInstallValue(REG_EXPAND_SZ, folder_ + std::string(1, '\0')));
        break;
      case REGISTRY_261_BYTES:
        ASSERT_TRUE(WriteInstallValue(REG_SZ, LongFolder(260) + std::string(1, '\0')));
        break;
      case REGISTRY_260_BYTES:
        ASSERT_TRUE(WriteInstallValue(REG_SZ, LongFolder(259) + std::string(1, '\0')));
        break;
      case REGISTRY_EMPTY:
        ASSERT_TRUE(WriteInstallValue(REG_SZ, std::string(1, '\0')));
        break;
    }
  }

 private:
  // The install folder followed by more characters, `length` in all.
  std::string LongFolder(size_t length) const {
    std::string text = folder_ + "\\";
    text.resize(length, 'L');
    return text;
  }

  ScratchDir scratch_;
  std::string folder_;
  std::string program_;
};

// The updater as built, read once; the image of every packed updater.
const std::string& UpdaterImage() {
  static const std::string image = ReadFileBytes(Options().updater);
  return image;
}

// Reads the box that must be showing now and checks what every box of the
// updater has: its caption, the text, the buttons, the icon, and that both
// mutexes are held while it is open. Returns null when no box came.
HWND ExpectBox(UpdaterProcess* updater, const wchar_t* text, bool question, BoxIcon icon) {
  HWND box = updater->WaitForBox(kBoxTimeoutMs);
  if (!box) {
    ADD_FAILURE() << "no box \"" << Utf8(text) << "\" within " << kBoxTimeoutMs / 1000 << " s";
    return nullptr;
  }
  BoxView view = ReadBox(box, true);
  EXPECT_EQ(Utf8(view.caption), Utf8(kCaption));
  EXPECT_EQ(Utf8(view.text), Utf8(text));
  std::vector<int> buttons = question ? std::vector<int>{IDYES, IDNO} : std::vector<int>{IDOK};
  EXPECT_EQ(view.buttons, buttons);
  EXPECT_EQ(view.default_button, question ? IDNO : IDOK);
  EXPECT_TRUE(view.has_icon_control) << "no icon control";
  EXPECT_STREQ(IconName(view.icon), IconName(icon));
  // The game, its launcher and its uninstaller must still find the game busy.
  EXPECT_TRUE(MutexExists(kGameMutex)) << "game mutex not held while \"" << Utf8(text) << "\" is open";
  EXPECT_TRUE(CreatingMutexFindsOne(kGameMutex));
  EXPECT_TRUE(MutexExists(kUpdaterMutex));
  return box;
}

void Answer(HWND box, int id) {
  ASSERT_TRUE(PressButton(box, id));
  ASSERT_TRUE(WaitUntilGone(box, kBoxTimeoutMs)) << "the box stays after the click";
}

// The mutexes after a run: neither is left behind by the updater.
void ExpectMutexesReleased(bool game_held_here) {
  EXPECT_FALSE(MutexExists(kUpdaterMutex)) << "the updater's mutex outlives it";
  if (!game_held_here) {
    EXPECT_FALSE(MutexExists(kGameMutex)) << "the game's mutex outlives the updater";
  }
}

std::string PackageOf(const std::vector<Entry>& entries) {
  PackageBuilder builder;
  for (const Entry& entry : entries) builder.AddEntry(entry.name, entry.bytes);
  return builder.Build();
}

Tree Expected(const Scenario& c) {
  Tree tree;
  for (const FileSpec& file : c.before) tree[file.name] = FileState{file.bytes, file.read_only};
  for (size_t i = 0; i < c.written; ++i) tree[c.package[i].name] = FileState{c.package[i].bytes, false};
  if (!c.list_after.empty()) tree["uninst.lst"] = FileState{c.list_after, false};
  return tree;
}

class UpdaterEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(UpdaterImage().empty()) << "cannot read the updater: " << Options().updater;
    ASSERT_LE(UpdaterImage().size(), PACKAGE_OFFSET);
  }
  void TearDown() override { RemoveInstallKey(); }
};

void RunScenario(const Scenario& c, const std::string& site_name) {
  InstallSite site(site_name);
  site.Prepare(c.before);
  if (::testing::Test::HasFatalFailure()) return;
  site.WriteProgram(c.appended ? ExecutableWithPackage(UpdaterImage(), PackageOf(c.package))
                               : UpdaterImage());
  site.Register(c.registry);
  if (::testing::Test::HasFatalFailure()) return;

  HANDLE game = nullptr;
  if (c.game_running) {
    game = CreateMutexA(nullptr, TRUE, kGameMutex);
    ASSERT_TRUE(game != nullptr && GetLastError() == 0) << "the game's mutex exists already";
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!c.held_open.empty()) {
    held = CreateFileA(site.File(c.held_open).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE) << "cannot hold " << c.held_open;
  }

  UpdaterProcess updater;
  std::string error;
  bool started = updater.Start(site.program(), c.arguments, &error);
  EXPECT_TRUE(started) << error;
  DWORD code = kNoExitCode;
  if (started) {
    bool boxes_ok = true;
    if (c.answer) {
      HWND question = ExpectBox(&updater, kQuestion, true, ICON_QUESTION);
      boxes_ok = question != nullptr;
      if (question) Answer(question, c.answer);
    }
    if (boxes_ok && c.outcome) {
      HWND outcome =
          ExpectBox(&updater, c.outcome, false, c.exit_code == kOk ? ICON_INFORMATION : ICON_WARNING);
      if (outcome) Answer(outcome, IDOK);
    }
    std::vector<std::wstring> unexpected;
    code = updater.WaitForExit(kExitTimeoutMs, &unexpected);
    for (const std::wstring& text : unexpected) ADD_FAILURE() << "unexpected box: " << Utf8(text);
  }
  EXPECT_EQ(Hex(code), Hex(c.exit_code));
  ExpectMutexesReleased(c.game_running);

  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (game) CloseHandle(game);
  ExpectTree(TreeOf(site.folder()), Expected(c));
}

TEST_F(UpdaterEndToEnd, ScenarioTable) {
  std::vector<Scenario> scenarios = Scenarios();
  for (size_t i = 0; i < scenarios.size(); ++i) {
    SCOPED_TRACE(scenarios[i].title);
    RunScenario(scenarios[i], "e2e_" + std::to_string(i));
  }
}

// A second copy, started while the first asks and again while the first
// shows its outcome, shows nothing and ends at once; the first goes on.
TEST_F(UpdaterEndToEnd, SecondCopyEndsAtOnceAndTheFirstGoesOn) {
  InstallSite site("e2e_second_copy");
  site.Prepare(InstalledGame());
  site.WriteProgram(ExecutableWithPackage(UpdaterImage(), PackageOf(FullPackage())));
  site.Register(REGISTRY_FOLDER);
  ASSERT_FALSE(HasFatalFailure());

  UpdaterProcess first;
  std::string error;
  ASSERT_TRUE(first.Start(site.program(), "", &error)) << error;
  HWND question = ExpectBox(&first, kQuestion, true, ICON_QUESTION);
  ASSERT_TRUE(question);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "while the first asks" : "while the first shows its outcome");
    UpdaterProcess second;
    ASSERT_TRUE(second.Start(site.program(), "", &error)) << error;
    std::vector<std::wstring> shown;
    EXPECT_EQ(Hex(second.WaitForExit(kExitTimeoutMs, &shown)), Hex(kAlreadyRunning));
    for (const std::wstring& text : shown) ADD_FAILURE() << "the second copy showed: " << Utf8(text);
    if (round == 1) break;
    EXPECT_TRUE(IsWindow(question) && IsWindowVisible(question)) << "the first copy's question is gone";
    EXPECT_EQ(first.FindBox(), question);
    Answer(question, IDYES);
    HWND outcome = ExpectBox(&first, kCompleted, false, ICON_INFORMATION);
    ASSERT_TRUE(outcome);
    question = outcome;
  }
  Answer(question, IDOK);
  std::vector<std::wstring> unexpected;
  EXPECT_EQ(Hex(first.WaitForExit(kExitTimeoutMs, &unexpected)), Hex(kOk));
  EXPECT_TRUE(unexpected.empty());
  ExpectMutexesReleased(false);

  Scenario full;
  full.package = FullPackage();
  full.before = InstalledGame();
  full.written = 4;
  full.list_after = kListAfterFull;
  ExpectTree(TreeOf(site.folder()), Expected(full));
}

// ---- an updater made by the packer from real files

std::vector<std::string> FileNames(const std::string& folder) {
  Tree tree = TreeOf(folder);
  std::vector<std::string> names;
  for (const auto& file : tree) names.push_back(file.first);
  return names;
}

// The lines of `text`, which must be whole lines.
std::multiset<std::string> Lines(const std::string& text) {
  std::multiset<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a line without its line feed: " << text.substr(start);
      break;
    }
    lines.insert(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST(PackedUpdate, InstallsByteIdenticalFiles) {
  const std::string packed = FullPath(Options().packed);
  const std::string expect = FullPath(Options().expect);
  std::vector<std::string> names = FileNames(expect);
  ASSERT_FALSE(names.empty()) << "no files in " << expect;

  InstallSite site("e2e_packed");
  // An older copy of the first file, and a list that already names it.
  const std::string before_text = "orvale.exe\n" + names[0] + "\n";
  site.Prepare({{names[0], "older"}, {"uninst.lst", before_text + std::string(1, '\0')}});
  site.Register(REGISTRY_FOLDER);
  ASSERT_FALSE(HasFatalFailure());

  UpdaterProcess updater;
  std::string error;
  ASSERT_TRUE(updater.Start(packed, "", &error)) << error;
  HWND question = ExpectBox(&updater, kQuestion, true, ICON_QUESTION);
  ASSERT_TRUE(question);
  Answer(question, IDYES);
  HWND outcome = ExpectBox(&updater, kCompleted, false, ICON_INFORMATION);
  ASSERT_TRUE(outcome);
  Answer(outcome, IDOK);
  std::vector<std::wstring> unexpected;
  EXPECT_EQ(Hex(updater.WaitForExit(kExitTimeoutMs, &unexpected)), Hex(kOk));
  EXPECT_TRUE(unexpected.empty());
  RemoveInstallKey();

  Tree expected;
  for (const std::string& name : names)
    expected[name] = FileState{ReadFileBytes(expect + "\\" + name), false};
  Tree actual = TreeOf(site.folder());
  std::string list = actual["uninst.lst"].bytes;
  actual.erase("uninst.lst");
  ExpectTree(actual, expected);

  // The list keeps its text and gains each new name once, in some order.
  ASSERT_GE(list.size(), before_text.size() + 1);
  EXPECT_EQ(list.substr(0, before_text.size()), before_text);
  EXPECT_EQ(list.back(), '\0');
  std::multiset<std::string> added =
      Lines(list.substr(before_text.size(), list.size() - before_text.size() - 1));
  std::multiset<std::string> new_names(names.begin() + 1, names.end());
  EXPECT_EQ(added, new_names);
}

}  // namespace
