// The updater's texts and the message that reports each outcome.
#include "app/messages.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#ifndef _WIN32
#include <iconv.h>

#include "platform/standin_controls.h"
#endif

namespace {

struct Text {
  const char* name;
  const char* bytes;
  const char* japanese;  // UTF-8
  size_t length;         // code page 932 bytes, without the NUL
};

const Text kTexts[] = {
    {"completed", TEXT_UPDATE_COMPLETED, "アップデートが完了しました", 26},
    {"package broken", TEXT_PACKAGE_BROKEN, "アップデートプログラムが破損している可能性があります", 52},
    {"cannot update", TEXT_CANNOT_UPDATE, "何らかの要因によりアップデートが行えません", 42},
    {"uninstall list", TEXT_UNINSTALL_LIST_FAILED, "アンインストレーションファイルの更新に失敗しました", 50},
    {"not installed", TEXT_NOT_INSTALLED, "ゲームがインストールされていないのでアップデートを行えません", 60},
    {"game running", TEXT_GAME_RUNNING,
     "ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません", 86},
    {"question", TEXT_CONFIRM_UPDATE, "アップデートを行いますか？", 26},
};

TEST(MessagesTest, EveryTextHasItsCodePage932Length) {
  for (const Text& text : kTexts) {
    SCOPED_TRACE(text.name);
    EXPECT_EQ(strlen(text.bytes), text.length);
  }
}

#ifndef _WIN32
// Decodes code page 932 bytes to UTF-8; "<invalid>" when they are not valid.
std::string FromCodePage932(const char* bytes) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in(bytes);
  char out[1024];
  char* in_next = &in[0];
  size_t in_left = in.size();
  char* out_next = out;
  size_t out_left = sizeof out;
  size_t done = iconv(converter, &in_next, &in_left, &out_next, &out_left);
  iconv_close(converter);
  if (done == static_cast<size_t>(-1) || in_left != 0) return "<invalid>";
  return std::string(out, static_cast<size_t>(out_next - out));
}

TEST(MessagesTest, EveryTextDecodesToItsJapanese) {
  for (const Text& text : kTexts) {
    SCOPED_TRACE(text.name);
    EXPECT_EQ(FromCodePage932(text.bytes), text.japanese);
  }
}
#endif

struct Outcome {
  uint32_t result;
  bool is_warning;
  const char* text;
};

// Both package faults read the same; every other failure has its own text.
const Outcome kOutcomes[] = {
    {0u, false, TEXT_UPDATE_COMPLETED},
    {0x80000001u, true, TEXT_PACKAGE_BROKEN},
    {0x80000002u, true, TEXT_PACKAGE_BROKEN},
    {0x80000003u, true, TEXT_CANNOT_UPDATE},
    {0x80000004u, true, TEXT_UNINSTALL_LIST_FAILED},
    {0xFFFFFFFFu, true, TEXT_NOT_INSTALLED},
    {0xFFFFFFFEu, true, TEXT_GAME_RUNNING},
};

// The declined run, another copy, and codes nobody produces show nothing.
const uint32_t kSilent[] = {0xFFFFFFFDu, 0xFFFFFFFCu, 1u,          2u,
                            0x7FFFFFFFu, 0x80000000u, 0x80000005u, 0x80000006u};

TEST(MessagesTest, EachOutcomeMapsToItsTextAndIcon) {
  for (const Outcome& outcome : kOutcomes) {
    SCOPED_TRACE(outcome.result);
    const OutcomeMessage* message = FindOutcomeMessage(static_cast<UpdateResult>(outcome.result));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(message->result), outcome.result);
    EXPECT_EQ(message->is_warning, outcome.is_warning);
    EXPECT_STREQ(message->text, outcome.text);
  }
  for (uint32_t result : kSilent) {
    SCOPED_TRACE(result);
    EXPECT_EQ(FindOutcomeMessage(static_cast<UpdateResult>(result)), nullptr);
  }
}

#ifndef _WIN32
TEST(MessagesTest, ReportShowsOneOwnerlessOkBoxOrNothing) {
  for (const Outcome& outcome : kOutcomes) {
    SCOPED_TRACE(outcome.result);
    standin::Reset();
    ReportOutcome(static_cast<UpdateResult>(outcome.result));
    ASSERT_EQ(standin::MessageBoxCount(), 1u);
    const standin::MessageBoxRecord& box = standin::MessageBoxAt(0);
    EXPECT_STREQ(box.text, outcome.text);
    EXPECT_STREQ(box.caption, "Orvale");
    EXPECT_EQ(box.style, outcome.is_warning ? 0x30u : 0x40u);
    EXPECT_FALSE(box.had_owner);
  }
  for (uint32_t result : kSilent) {
    SCOPED_TRACE(result);
    standin::Reset();
    ReportOutcome(static_cast<UpdateResult>(result));
    EXPECT_EQ(standin::MessageBoxCount(), 0u);
  }
}

TEST(MessagesTest, ShowHelpersPassTheBoxResultBack) {
  standin::Reset();
  const int answers[] = {IDOK, 0};
  standin::ScriptMessageBoxAnswers(answers, 2);
  EXPECT_EQ(ShowInformation("a"), IDOK);
  EXPECT_EQ(ShowWarning("b"), 0);
  ASSERT_EQ(standin::MessageBoxCount(), 2u);
  EXPECT_EQ(standin::MessageBoxAt(0).style, 0x40u);
  EXPECT_STREQ(standin::MessageBoxAt(0).text, "a");
  EXPECT_EQ(standin::MessageBoxAt(1).style, 0x30u);
  EXPECT_STREQ(standin::MessageBoxAt(1).caption, "Orvale");
}
#endif

}  // namespace
