#include "fileio/file_handle.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_files.h"
#ifndef _WIN32
#include "platform/standin_controls.h"
#endif

namespace {

const std::string kContent = "0123456789abcdefghij";  // 20 bytes

class FileHandleTest : public ::testing::Test {
 protected:
  FileHandleTest() : dir_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
  void SetUp() override {
#ifndef _WIN32
    standin::Reset();
#endif
    existing_ = dir_.File("existing.bin");
    ASSERT_TRUE(WriteFileBytes(existing_, kContent));
  }
  void TearDown() override {
#ifndef _WIN32
    EXPECT_EQ(standin::OpenFileCount(), 0u) << "a handle leaked";
#endif
  }

  // The byte at the current position, read through `file`; -1 when none is read.
  static int NextByte(FileHandle& file) {
    char byte = 0;
    return file.Read(&byte, 1) == 1 ? static_cast<unsigned char>(byte) : -1;
  }

  ScratchDir dir_;
  std::string existing_;
};

TEST_F(FileHandleTest, NewObjectIsClosedAndEveryQueryFails) {
  FileHandle file;
  file.Close();
  char buffer[4] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(file.Write("abcd", 4), 0u);
  EXPECT_FALSE(file.Seek(0));
  EXPECT_EQ(file.GetSize(), 0xFFFFFFFFu);
}

TEST_F(FileHandleTest, CloseTwiceThenQueriesFailAndReopenWorks) {
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  file.Close();
  file.Close();
  char buffer[4];
  EXPECT_EQ(file.Read(buffer, 4), 0u);
  EXPECT_EQ(file.GetSize(), 0xFFFFFFFFu);
  EXPECT_FALSE(file.Seek(0));
  // Reading and then rewriting through one object, as the uninstall list does.
  ASSERT_TRUE(file.OpenWrite(existing_.c_str()));
  EXPECT_EQ(file.Write("xyz", 3), 3u);
  file.Close();
  EXPECT_EQ(ReadFileBytes(existing_), "xyz");
}

TEST_F(FileHandleTest, OpenReadOfMissingFileFailsThenExistingOneOpens) {
  FileHandle file;
  EXPECT_FALSE(file.OpenRead(dir_.File("missing.bin").c_str()));
  EXPECT_FALSE(FileExists(dir_.File("missing.bin"))) << "OpenRead must never create";
  EXPECT_EQ(file.GetSize(), 0xFFFFFFFFu) << "a failed open leaves the object closed";
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  EXPECT_EQ(file.GetSize(), kContent.size());
}

// A second open of an open object changes nothing: the held file keeps its
// position and the named file is neither created nor truncated.
TEST_F(FileHandleTest, SecondOpenOfAnOpenObjectTouchesNothing) {
  struct Case {
    const char* target;  // "" = the held file itself
    bool target_exists;
    bool write;
  };
  const Case cases[] = {
      {"other.bin", true, true},
      {"absent.bin", false, true},
      {"other.bin", true, false},
      {"", true, true},
  };
  for (const Case& c : cases) {
    std::string target = *c.target ? dir_.File(c.target) : existing_;
    if (*c.target && c.target_exists) {
      ASSERT_TRUE(WriteFileBytes(target, "keep me"));
    }
    FileHandle file;
    ASSERT_TRUE(file.OpenRead(existing_.c_str()));
    ASSERT_TRUE(file.Seek(5));
    bool opened = c.write ? file.OpenWrite(target.c_str()) : file.OpenRead(target.c_str());
    EXPECT_FALSE(opened) << target;
    EXPECT_EQ(NextByte(file), '5') << "the held file moved";
    EXPECT_EQ(file.GetSize(), kContent.size());
    file.Close();
    if (!*c.target) {
      EXPECT_EQ(ReadFileBytes(existing_), kContent);
    } else if (c.target_exists) {
      EXPECT_EQ(ReadFileBytes(target), "keep me");
    } else {
      EXPECT_FALSE(FileExists(target));
    }
  }
}

TEST_F(FileHandleTest, OpenWriteCreatesOrTruncatesWithTheArchiveAttribute) {
  FileHandle file;
  ASSERT_TRUE(file.OpenWrite(existing_.c_str()));
  EXPECT_EQ(file.GetSize(), 0u);
  file.Close();
  EXPECT_EQ(ReadFileBytes(existing_), "");

  std::string created = dir_.File("created.bin");
  ASSERT_TRUE(file.OpenWrite(created.c_str()));
  EXPECT_EQ(file.Write(kContent.data(), 20), 20u);
  file.Close();
  EXPECT_EQ(ReadFileBytes(created), kContent);
  EXPECT_TRUE(FileAttributes(created) & FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileHandleTest, OpenWriteOfReadOnlyFileFailsAndKeepsIt) {
  ASSERT_TRUE(SetFileAttributesA(existing_.c_str(), FILE_ATTRIBUTE_READONLY));
  FileHandle file;
  EXPECT_FALSE(file.OpenWrite(existing_.c_str()));
  EXPECT_EQ(ReadFileBytes(existing_), kContent);
  // Lifting the attribute makes the same open work.
  ASSERT_TRUE(SetFileAttributesA(existing_.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(file.OpenWrite(existing_.c_str()));
}

// Share modes between two objects on one file.
TEST_F(FileHandleTest, ShareModesBetweenTwoHolders) {
  struct Case {
    bool first_write, second_write, second_opens;
  };
  const Case cases[] = {
      {false, false, true},  // two readers share
      {false, true, false},  // a reader refuses writers
      {true, false, false},  // a writer shares with nobody
      {true, true, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteFileBytes(existing_, kContent));
    FileHandle first, second;
    ASSERT_TRUE(c.first_write ? first.OpenWrite(existing_.c_str()) : first.OpenRead(existing_.c_str()));
    bool opened = c.second_write ? second.OpenWrite(existing_.c_str()) : second.OpenRead(existing_.c_str());
    EXPECT_EQ(opened, c.second_opens)
        << "first write=" << c.first_write << " second write=" << c.second_write;
    if (!c.first_write && c.second_write) {
      first.Close();
      EXPECT_EQ(ReadFileBytes(existing_), kContent) << "a refused OpenWrite must not truncate";
    }
  }
}

TEST_F(FileHandleTest, ReadReturnsWhatIsLeftAndZeroAtTheEnd) {
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  char buffer[64] = {};
  EXPECT_EQ(file.Read(buffer, 0), 0u);
  ASSERT_TRUE(file.Seek(15));
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "fghij");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(file.GetSize(), kContent.size()) << "the size does not follow the position";
}

TEST_F(FileHandleTest, TransfersAgainstTheOpenModeFail) {
  FileHandle reader, writer;
  ASSERT_TRUE(reader.OpenRead(existing_.c_str()));
  EXPECT_EQ(reader.Write("zz", 2), 0u);
  reader.Close();
  EXPECT_EQ(ReadFileBytes(existing_), kContent);

  ASSERT_TRUE(writer.OpenWrite(dir_.File("w.bin").c_str()));
  EXPECT_EQ(writer.Write("abc", 3), 3u);
  EXPECT_EQ(writer.Write("", 0), 0u);
  ASSERT_TRUE(writer.Seek(0));
  char buffer[4];
  EXPECT_EQ(writer.Read(buffer, 3), 0u);
  writer.Close();
  EXPECT_EQ(ReadFileBytes(dir_.File("w.bin")), "abc");
}

TEST_F(FileHandleTest, SeekWithinAndBeyondTheEnd) {
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  const DWORD reachable[] = {0, 1, 19, 20, 21, 65536, 0x7FFFFFFFu};
  for (DWORD position : reachable) {
    EXPECT_TRUE(file.Seek(position)) << position;
    EXPECT_EQ(NextByte(file), position < 20 ? kContent[position] : -1) << position;
  }
  EXPECT_EQ(file.GetSize(), kContent.size());
}

// Without a high part the distance is signed 32-bit: every position from 2 GiB
// up is refused and the position stays where it was.
TEST_F(FileHandleTest, SeekAtOrPastTwoGibibytesFailsAndKeepsThePosition) {
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  const DWORD unreachable[] = {0x80000000u, 0x80000001u, 0xC0000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  for (DWORD position : unreachable) {
    ASSERT_TRUE(file.Seek(7));
    EXPECT_FALSE(file.Seek(position)) << std::hex << position;
    EXPECT_EQ(NextByte(file), '7') << std::hex << position;
  }
}

TEST_F(FileHandleTest, GoingOutOfScopeClosesTheFile) {
  {
    FileHandle holder;
    ASSERT_TRUE(holder.OpenWrite(existing_.c_str()));
    FileHandle blocked;
    EXPECT_FALSE(blocked.OpenWrite(existing_.c_str()));
  }
  FileHandle after;
  EXPECT_TRUE(after.OpenWrite(existing_.c_str()));
}

#ifndef _WIN32
// The stand-in's counters show one platform call per operation.
TEST_F(FileHandleTest, EachOperationIsOnePlatformCall) {
  standin::Reset();  // count from here
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  char buffer[8];
  file.Read(buffer, 8);
  file.Seek(3);
  file.GetSize();
  file.Close();
  file.Close();
  EXPECT_EQ(standin::CallCount(standin::CALL_CREATE_FILE), 1u);
  EXPECT_EQ(standin::CallCount(standin::CALL_READ_FILE), 1u);
  EXPECT_EQ(standin::CallCount(standin::CALL_SET_FILE_POINTER), 1u);
  EXPECT_EQ(standin::CallCount(standin::CALL_GET_FILE_SIZE), 1u);
  EXPECT_EQ(standin::CallCount(standin::CALL_CLOSE_HANDLE), 1u);
}

TEST_F(FileHandleTest, FailedTransfersReportZero) {
  FileHandle file;
  ASSERT_TRUE(file.OpenRead(existing_.c_str()));
  char buffer[20];
  standin::InjectShortTransfer(standin::CALL_READ_FILE, 1, 4, true);
  EXPECT_EQ(file.Read(buffer, 20), 0u) << "bytes moved before a failure are not reported";
  standin::InjectShortTransfer(standin::CALL_READ_FILE, 1, 4, false);
  EXPECT_EQ(file.Read(buffer, 20), 4u) << "a short success is passed through";
  standin::InjectFailure(standin::CALL_GET_FILE_SIZE, 1);
  EXPECT_EQ(file.GetSize(), 0xFFFFFFFFu);
}
#endif

}  // namespace
