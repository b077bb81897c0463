// The packer: the layout it writes, read back here independently of its own
// reading code, its list and check commands, and every refusal.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "package/entry_name.h"
#include "tests/test_files.h"
#include "tools/pack_layout.h"

namespace {

namespace fs = std::filesystem;

// "データ.arc" in code page 932, spelled out so that the test does not lean on
// the packer's own conversion.
const std::string kDataArcCp932 = "\x83\x66\x81\x5B\x83\x5E.arc";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

uint32_t LittleEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

void PatchU32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

struct PackerRun {
  int status;  // the exit status, or -1 when the packer did not exit normally
  std::string out;
  std::string err;
};

class PackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/packer_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    out_dir_ = dir_ + "/out";
    ASSERT_TRUE(fs::create_directory(out_dir_));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Input(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    Spit(path, bytes);
    return path;
  }

  // Runs the packer with these arguments; `prefix` is shell text run first
  // (limits for the packer's own process).
  PackerRun Packer(const std::vector<std::string>& arguments, const std::string& prefix = "") {
    std::string command = prefix + "exec " + ShellQuote(PACKER_PATH);
    for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
    std::string out = dir_ + "/stdout.txt", err = dir_ + "/stderr.txt";
    command = "bash -c " + ShellQuote(command) + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    int raw = system(command.c_str());
    PackerRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Slurp(out);
    run.err = Slurp(err);
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  std::set<std::string> OutDirContent() const {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(out_dir_)) names.insert(item.path().filename().string());
    return names;
  }

  std::string dir_;
  std::string out_dir_;
};

// One directory record read straight from the file.
struct Record {
  std::string name_field;  // all 16 bytes
  uint32_t offset;
  uint32_t size;
  std::string reserved;
};

Record RecordAt(const std::string& file, uint32_t index) {
  size_t at = 65552 + 32 * static_cast<size_t>(index);
  return {file.substr(at, 16), LittleEndian32(file, at + 16), LittleEndian32(file, at + 20),
          file.substr(at + 24, 8)};
}

TEST_F(PackerTest, LaysOutProgramPaddingHeaderDirectoryAndDataByteByByte) {
  const std::string program = PatternBytes(49152, 1);
  const std::string first = PatternBytes(4501, 2);
  const std::string third = PatternBytes(3 * 1024 * 1024 + 17, 3);  // crosses copy chunks
  std::string program_path = Input("updater.exe", program);
  std::string first_path = Input("first.bin", first);
  std::string empty_path = Input("empty.dat", "");
  std::string third_path = Input("third.bin", third);
  std::string out = out_dir_ + "/setup.exe";

  PackerRun run = Packer({"pack", "-o", out, program_path, "データ.arc=" + first_path, empty_path,
                          "アップデート.a=" + third_path});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  const std::string file = Slurp(out);
  const size_t data_start = 65552 + 32 * 3;
  ASSERT_EQ(file.size(), data_start + first.size() + third.size());
  EXPECT_EQ(file.substr(0, program.size()), program);
  EXPECT_EQ(file.substr(program.size(), 65536 - program.size()), std::string(65536 - program.size(), '\0'));
  EXPECT_EQ(file.substr(65536, 12), "PackFile    ");
  EXPECT_EQ(LittleEndian32(file, 65548), 3u);

  // "アップデート.a" is 20 bytes of UTF-8 but 14 of code page 932: it fits.
  const std::string update_a_cp932 = "\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67.a";
  const Record expected[] = {
      {kDataArcCp932 + std::string(6, '\0'), 0, 4501, std::string(8, '\0')},
      {"empty.dat" + std::string(7, '\0'), 4501, 0, std::string(8, '\0')},
      {update_a_cp932 + std::string(2, '\0'), 4501, static_cast<uint32_t>(third.size()),
       std::string(8, '\0')},
  };
  for (uint32_t i = 0; i < 3; ++i) {
    Record record = RecordAt(file, i);
    EXPECT_EQ(record.name_field, expected[i].name_field) << "record " << i;
    EXPECT_EQ(record.offset, expected[i].offset) << "record " << i;
    EXPECT_EQ(record.size, expected[i].size) << "record " << i;
    EXPECT_EQ(record.reserved, expected[i].reserved) << "record " << i;
  }
  EXPECT_TRUE(file.compare(data_start, first.size(), first) == 0);
  EXPECT_TRUE(file.compare(data_start + first.size(), third.size(), third) == 0);
  EXPECT_EQ(OutDirContent(), std::set<std::string>{"setup.exe"});
}

TEST_F(PackerTest, ProgramOfExactlyTheBudgetAndNoEntries) {
  const std::string program = PatternBytes(65536, 4);
  std::string out = out_dir_ + "/setup.exe";
  PackerRun run = Packer({"pack", "-o", out, Input("updater.exe", program)});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string file = Slurp(out);
  ASSERT_EQ(file.size(), 65552u);
  EXPECT_EQ(file.substr(0, 65536), program);
  EXPECT_EQ(file.substr(65536), std::string("PackFile    \0\0\0\0", 16));
}

TEST_F(PackerTest, SixteenEntriesAreLaidOutBackToBack) {
  std::vector<std::string> arguments = {"pack", "-o", out_dir_ + "/setup.exe", Input("updater.exe", "MZ")};
  std::string data;
  for (int i = 0; i < 16; ++i) {
    std::string bytes = PatternBytes(static_cast<size_t>(i * 7), 10 + i);
    data += bytes;
    arguments.push_back("e" + std::to_string(i) + ".arc=" + Input("in" + std::to_string(i), bytes));
  }
  PackerRun run = Packer(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string file = Slurp(out_dir_ + "/setup.exe");
  EXPECT_EQ(LittleEndian32(file, 65548), 16u);
  uint32_t offset = 0;
  for (uint32_t i = 0; i < 16; ++i) {
    Record record = RecordAt(file, i);
    std::string name = "e" + std::to_string(i) + ".arc";
    EXPECT_EQ(record.name_field, name + std::string(16 - name.size(), '\0'));
    EXPECT_EQ(record.offset, offset);
    EXPECT_EQ(record.size, i * 7);
    offset += i * 7;
  }
  EXPECT_EQ(file.substr(65552 + 32 * 16), data);
}

TEST_F(PackerTest, ListShowsNamesInUtf8WithOffsetsAndSizes) {
  std::string out = out_dir_ + "/setup.exe";
  ASSERT_EQ(Packer({"pack", "-o", out, Input("updater.exe", "MZ"), "データ.arc=" + Input("a", "12345"),
                    Input("b.arc", "")})
                .status,
            0);
  PackerRun run = Packer({"list", out});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "2 entries, data area at file offset 65616\n"
            "    offset       size  name\n"
            "         0          5  データ.arc\n"
            "         5          0  b.arc\n");
}

TEST_F(PackerTest, CheckAcceptsWhatPackWrites) {
  std::string out = out_dir_ + "/setup.exe";
  ASSERT_EQ(
      Packer({"pack", "-o", out, Input("updater.exe", "MZ"), "データ.arc=" + Input("a", "12345")}).status, 0);
  PackerRun run = Packer({"check", out});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, out + ": a package of 1 entries that the updater can install\n");
  EXPECT_EQ(run.err, "");
}

// Each row damages a good packed file of two entries ("a.arc" of 5 bytes,
// "b.arc" of 3) in one way; check must name the damage and fail.
TEST_F(PackerTest, CheckNamesEachBrokenLayout) {
  std::string good_path = out_dir_ + "/good.exe";
  ASSERT_EQ(Packer({"pack", "-o", good_path, Input("updater.exe", "MZ"), "a.arc=" + Input("a", "12345"),
                    "b.arc=" + Input("b", "678")})
                .status,
            0);
  const std::string good = Slurp(good_path);
  const size_t second_name = 65552 + 32;
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({"no package", good.substr(0, 65536), "too short for a package header at offset 65536"});
  cases.push_back({"header cut", good.substr(0, 65551), "too short for a package header"});
  std::string bytes = good;
  bytes.replace(65536, 8, "PACKFILE");
  cases.push_back({"signature", bytes, "no \"PackFile    \" signature at offset 65536"});
  bytes = good;
  PatchU32(&bytes, 65548, 17);
  cases.push_back({"17 entries", bytes, "announces 17 entries; the updater refuses more than 16"});
  bytes = good;
  PatchU32(&bytes, 65548, 0x80000002u);
  cases.push_back({"top bit count", bytes, "announces 2147483650 entries"});
  bytes = good;
  PatchU32(&bytes, 65548, 9);
  cases.push_back({"directory cut", bytes, "the directory of 9 entries runs past the end of the file"});
  cases.push_back({"data cut", good.substr(0, good.size() - 1),
                   "entry 1 \"b.arc\" ends at file offset 65624, past the end of the file (65623 bytes)"});
  bytes = good;
  PatchU32(&bytes, second_name + 16, 0x7FFFFFFFu);
  cases.push_back(
      {"offset", bytes, "entry 1 \"b.arc\" starts at file offset 2147549263; the updater reaches"});
  bytes = good;
  PatchU32(&bytes, second_name + 16, 0x80000000u - 65616);  // exactly 2^31, the first unreachable
  cases.push_back({"offset 2^31", bytes, "entry 1 \"b.arc\" starts at file offset 2147483648; the updater"});
  bytes = good;
  bytes.replace(second_name, 16, std::string("..\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
  cases.push_back({"dots", bytes, "entry 1 \"..\": its name has a part made only of dots and spaces"});
  bytes = good;
  bytes.replace(second_name, 16, "0123456789abcdef");
  cases.push_back({"no NUL", bytes, "its name has no NUL within its 16 bytes"});
  bytes = good;
  bytes.replace(second_name, 6, std::string("\\b.arc", 6));
  cases.push_back({"rooted", bytes, "its name starts with a backslash or a slash"});

  for (const Case& c : cases) {
    std::string path = out_dir_ + "/broken.exe";
    Spit(path, c.bytes);
    PackerRun run = Packer({"check", path});
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.what;
  }
}

TEST_F(PackerTest, EveryRefusalNamesTheProblemAndLeavesNoOutput) {
  std::string program = Input("updater.exe", "MZ");
  std::string entry = Input("entry.bin", "data");
  std::string big_program = Input("big.exe", std::string(65537, 'x'));
  std::string folder = dir_ + "/folder";
  fs::create_directory(folder);
  // An entry whose successor would start exactly at 2^31; sparse, never read.
  std::string huge = dir_ + "/huge.bin";
  ASSERT_EQ(truncate(Input("huge.bin", "").c_str(), 0x80000000LL - (65552 + 64)), 0);
  std::string out = out_dir_ + "/setup.exe";
  std::vector<std::string> seventeen = {"pack", "-o", out, program};
  for (int i = 0; i < 17; ++i) seventeen.push_back("e" + std::to_string(i) + "=" + entry);

  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::string message;
    std::string prefix = "";  // shell text run before the packer
  };
  const std::vector<Case> cases = {
      {"program too big",
       {"pack", "-o", out, big_program},
       "the updater program " + big_program + " is 65537 bytes; it must fit in 65536 bytes"},
      {"17 entries", seventeen, "17 entries given; a package holds at most 16"},
      {"name of 16 bytes",
       {"pack", "-o", out, program, "abcdefghijkl.arc=" + entry},
       "entry name \"abcdefghijkl.arc\" is 16 bytes in code page 932; a name holds 1 to 15 bytes"},
      {"Japanese name of 16 bytes",
       {"pack", "-o", out, program, "データファイル.a=" + entry},
       "is 16 bytes in code page 932"},
      {"empty name", {"pack", "-o", out, program, "=" + entry}, "entry name \"\" is empty"},
      {"path ending in a slash", {"pack", "-o", out, program, folder + "/"}, "entry name \"\" is empty"},
      {"emoji",
       {"pack", "-o", out, program, "\xF0\x9F\x98\x80.arc=" + entry},
       "entry name \"\xF0\x9F\x98\x80.arc\" cannot be converted to code page 932"},
      {"invalid UTF-8",
       {"pack", "-o", out, program, "\xFF.arc=" + entry},
       "cannot be converted to code page 932"},
      {"yen sign",
       {"pack", "-o", out, program, "\xC2\xA5.arc=" + entry},
       "cannot be converted to code page 932"},
      {"backslash first",
       {"pack", "-o", out, program, "\\a.arc=" + entry},
       "entry name \"\\a.arc\" starts with a backslash or a slash; the updater would refuse it"},
      {"slash first", {"pack", "-o", out, program, "/a.arc=" + entry}, "starts with a backslash or a slash"},
      {"colon", {"pack", "-o", out, program, "c:a.arc=" + entry}, "entry name \"c:a.arc\" holds a colon"},
      {"stream", {"pack", "-o", out, program, "a.arc:x=" + entry}, "holds a colon"},
      {"parent", {"pack", "-o", out, program, "..=" + entry}, "has a part made only of dots and spaces"},
      {"parent inside", {"pack", "-o", out, program, "sub\\..\\x=" + entry}, "made only of dots and spaces"},
      {"dots and spaces", {"pack", "-o", out, program, ". .\\x=" + entry}, "made only of dots and spaces"},
      {"three dots last", {"pack", "-o", out, program, "a/...=" + entry}, "made only of dots and spaces"},
      {"doubled separator", {"pack", "-o", out, program, "a\\\\b=" + entry}, "has an empty part"},
      {"separator last", {"pack", "-o", out, program, "a\\=" + entry}, "has an empty part"},
      {"entry beyond 2^31",
       {"pack", "-o", out, program, "huge=" + huge, "late=" + entry},
       "entry \"late\" would start at file offset 2147483648; the updater reaches only offsets below "
       "2147483648"},
      {"missing program",
       {"pack", "-o", out, dir_ + "/none.exe"},
       "cannot read " + dir_ + "/none.exe: No such file or directory"},
      {"missing entry",
       {"pack", "-o", out, program, "x=" + dir_ + "/none.bin"},
       "cannot read " + dir_ + "/none.bin: No such file or directory"},
      {"entry is a folder",
       {"pack", "-o", out, program, "x=" + folder},
       "cannot read " + folder + ": not a regular file"},
      {"output is the program",
       {"pack", "-o", program, program, "x=" + entry},
       "the output " + program + " is the same file as the input " + program},
      {"output is an entry",
       {"pack", "-o", entry, program, "x=" + entry},
       "the output " + entry + " is the same file as the input " + entry},
      {"output is a folder", {"pack", "-o", out_dir_, program}, "the output " + out_dir_ + " is a folder"},
      {"output folder missing",
       {"pack", "-o", dir_ + "/nowhere/setup.exe", program},
       "cannot create a temporary file in " + dir_ + "/nowhere/"},
      // The write fails part-way: the temporary file must go again.
      {"write fails",
       {"pack", "-o", out, program, "x=" + Input("large.bin", PatternBytes(300000, 5))},
       "cannot write " + out + ": File too large",
       "trap '' XFSZ; ulimit -f 200; "},
  };
  const std::string program_before = Slurp(program), entry_before = Slurp(entry);
  for (const Case& c : cases) {
    PackerRun run = Packer(c.arguments, c.prefix);
    EXPECT_EQ(run.status, 1) << c.what;
    // One line on stderr, naming the problem.
    EXPECT_EQ(run.err.rfind("packer: ", 0), 0u) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(OutDirContent(), std::set<std::string>{}) << c.what;
    std::set<std::string> inputs;
    for (const auto& item : fs::directory_iterator(dir_)) inputs.insert(item.path().filename().string());
    EXPECT_EQ(inputs, (std::set<std::string>{"updater.exe", "entry.bin", "big.exe", "folder", "huge.bin",
                                             "out", "large.bin"}))
        << c.what;
    EXPECT_EQ(Slurp(program), program_before) << c.what;
    EXPECT_EQ(Slurp(entry), entry_before) << c.what;
  }
}

TEST_F(PackerTest, ReplacesAnExistingOutputWhole) {
  std::string out = out_dir_ + "/setup.exe";
  Spit(out, std::string(200000, 'o'));
  ASSERT_EQ(Packer({"pack", "-o", out, Input("updater.exe", "MZ")}).status, 0);
  EXPECT_EQ(Slurp(out).size(), 65552u);
  EXPECT_EQ(OutDirContent(), std::set<std::string>{"setup.exe"});
}

TEST_F(PackerTest, CommandLineMistakesShowTheUsage) {
  const std::vector<std::vector<std::string>> cases = {{},
                                                       {"frobnicate"},
                                                       {"pack", "x.exe"},
                                                       {"pack", "-o", "x"},
                                                       {"pack", "-o"},
                                                       {"pack", "-q", "-o", "x", "y"},
                                                       {"list"},
                                                       {"check", "a", "b"}};
  for (const auto& arguments : cases) {
    PackerRun run = Packer(arguments);
    EXPECT_EQ(run.status, 2) << testing::PrintToString(arguments);
    EXPECT_NE(run.err.find("usage: packer pack -o OUT"), std::string::npos) << run.err;
  }
  PackerRun help = Packer({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("packer list FILE"), std::string::npos);
}

TEST(PackLayout, EntriesMayStartUpToJustBelowTwoGibibytes) {
  const uint64_t data_start = 65552 + 32 * 2;
  std::vector<packer::PlannedEntry> entries = {{"a", 0x80000000u - 1 - data_start, 0}, {"b", 0xFFFFFFFFu, 0}};
  std::string error;
  ASSERT_TRUE(packer::PlanLayout(&entries, &error)) << error;
  EXPECT_EQ(entries[0].offset, 0u);
  EXPECT_EQ(entries[1].offset, 0x80000000u - 1 - data_start);
  EXPECT_EQ(packer::BuildDirectory(entries).substr(16 + 32 + 16, 8),
            std::string("\xAF\xFF\xFE\x7F\xFF\xFF\xFF\xFF", 8));

  entries = {{"a", 0x80000000u - data_start, 0}, {"b", 0, 0}};
  EXPECT_FALSE(packer::PlanLayout(&entries, &error));
  EXPECT_EQ(
      error,
      "entry \"b\" would start at file offset 2147483648; the updater reaches only offsets below 2147483648");

  entries = {{"a", 0x100000000u, 0}};
  EXPECT_FALSE(packer::PlanLayout(&entries, &error));
  EXPECT_EQ(error, "entry \"a\" is 4294967296 bytes; an entry holds at most 4294967295");
}

TEST(PackLayout, NamesAreSplitFromPathsAtTheFirstEquals) {
  struct Case {
    const char* argument;
    const char* name;
    const char* path;
  };
  const Case cases[] = {{"dir/sub/a.arc", "a.arc", "dir/sub/a.arc"},
                        {"a.arc", "a.arc", "a.arc"},
                        {"x.arc=dir/a.arc", "x.arc", "dir/a.arc"},
                        {"x=dir/a=b.arc", "x", "dir/a=b.arc"},
                        {"sub\\x.arc=a", "sub\\x.arc", "a"}};
  for (const Case& c : cases) {
    packer::EntryArgument entry = packer::ParseEntryArgument(c.argument);
    EXPECT_EQ(entry.name, c.name) << c.argument;
    EXPECT_EQ(entry.path, c.path) << c.argument;
  }
}

TEST(PackLayout, NamesConvertExactlyOrNotAtAll) {
  std::string cp932;
  ASSERT_TRUE(packer::Utf8ToCp932("データ.arc", &cp932));
  EXPECT_EQ(cp932, kDataArcCp932);
  EXPECT_EQ(packer::Cp932ToDisplay(kDataArcCp932), "データ.arc");
  EXPECT_EQ(packer::Cp932ToDisplay("\x80\xFF"), "\\x80\\xff");
  EXPECT_FALSE(packer::Utf8ToCp932("\xC2\xA5", &cp932));  // the yen sign would come back as a backslash
  EXPECT_FALSE(packer::Utf8ToCp932("\xE3\x83", &cp932));  // cut short
}

// The updater's own test of a name field, which the packer shares.
TEST(EntryName, RefusesNamesThatLeaveTheInstallFolder) {
  struct Case {
    std::string field;  // padded to 16 bytes below
    EntryNameFault fault;
  };
  const Case cases[] = {
      {"a.arc", ENTRY_NAME_OK},
      {"sub\\a.arc", ENTRY_NAME_OK},
      {"sub/dir\\a", ENTRY_NAME_OK},
      {".hidden", ENTRY_NAME_OK},
      {"a..b", ENTRY_NAME_OK},
      {"...a", ENTRY_NAME_OK},
      {"a b", ENTRY_NAME_OK},
      {"123456789012345", ENTRY_NAME_OK},
      {"\x83\x5C.arc", ENTRY_NAME_OK},  // "ソ.arc": the trail byte 0x5C splits it into ordinary parts
      {"", ENTRY_NAME_EMPTY},
      {"\\a", ENTRY_NAME_ROOTED},
      {"/a", ENTRY_NAME_ROOTED},
      {"\\\\srv\\a", ENTRY_NAME_ROOTED},
      {"c:a", ENTRY_NAME_COLON},
      {"a:stream", ENTRY_NAME_COLON},
      {".", ENTRY_NAME_DOTS_ONLY_PART},
      {"..", ENTRY_NAME_DOTS_ONLY_PART},
      {"...", ENTRY_NAME_DOTS_ONLY_PART},
      {" ", ENTRY_NAME_DOTS_ONLY_PART},
      {". .", ENTRY_NAME_DOTS_ONLY_PART},
      {"..\\a", ENTRY_NAME_DOTS_ONLY_PART},
      {"a\\..\\b", ENTRY_NAME_DOTS_ONLY_PART},
      {"a/..", ENTRY_NAME_DOTS_ONLY_PART},
      {"a\\ .", ENTRY_NAME_DOTS_ONLY_PART},
      {"\x83\x5C..", ENTRY_NAME_DOTS_ONLY_PART},  // byte by byte, 0x5C is a separator
      {"a\\\\b", ENTRY_NAME_EMPTY_PART},
      {"a\\", ENTRY_NAME_EMPTY_PART},
      {"a/", ENTRY_NAME_EMPTY_PART},
      {"NUL", ENTRY_NAME_DEVICE},
      {"con.arc", ENTRY_NAME_DEVICE},
      {"Com1", ENTRY_NAME_DEVICE},
      {"lpt9.x.arc", ENTRY_NAME_DEVICE},
      {"aux .arc", ENTRY_NAME_DEVICE},  // spaces before the extension are dropped too
      {"sub\\prn", ENTRY_NAME_DEVICE},
      {"COM0", ENTRY_NAME_OK},
      {"COM10", ENTRY_NAME_OK},
      {"NULL.arc", ENTRY_NAME_OK},
      {"console", ENTRY_NAME_OK},
      {"a.nul", ENTRY_NAME_OK},
  };
  for (const Case& c : cases) {
    char field[16];
    memset(field, 0, sizeof(field));
    memcpy(field, c.field.data(), c.field.size());
    EXPECT_EQ(CheckEntryName(field), c.fault) << '"' << c.field << '"';
    EXPECT_EQ(IsSafeEntryName(field), c.fault == ENTRY_NAME_OK) << '"' << c.field << '"';
  }
  // Bytes after the NUL do not count; a field without a NUL is refused.
  char after_nul[16] = {'a', '\0', '\\', '.', '.', ':'};
  EXPECT_EQ(CheckEntryName(after_nul), ENTRY_NAME_OK);
  char full[16];
  memcpy(full, "0123456789abcdef", 16);
  EXPECT_EQ(CheckEntryName(full), ENTRY_NAME_NO_NUL);
  EXPECT_FALSE(IsSafeEntryName(full));
}

}  // namespace
