#include "fileio/path_join.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The join either fits whole, NUL included, or leaves an empty string.
TEST(JoinPathTest, FitsWholeOrNotAtAll) {
  struct Case {
    size_t first_length, second_length, capacity;
    bool fits;
  };
  const Case cases[] = {
      {248, 10, 260, true},   // "...\uninst.lst" with its NUL is exactly 260
      {249, 10, 260, false},  // one byte more
      {0, 0, 2, true},        // "\" and its NUL
      {0, 0, 1, false},      {5, 0, 0, false}, {259, 0, 260, false}, {258, 0, 260, true},
  };
  for (const Case& c : cases) {
    std::string first(c.first_length, 'f'), second(c.second_length, 's');
    char out[300];
    memset(out, 'x', sizeof out);
    bool fits = JoinPath(out, c.capacity, first.c_str(), second.c_str());
    EXPECT_EQ(fits, c.fits) << c.first_length << "+" << c.second_length << " in " << c.capacity;
    if (c.fits) {
      EXPECT_EQ(std::string(out), first + "\\" + second);
    } else if (c.capacity) {
      EXPECT_EQ(out[0], '\0');
    }
    EXPECT_EQ(out[c.capacity], 'x') << "wrote past the capacity";
  }
}

TEST(JoinPathTest, FirstPartMayBeTheOutputBuffer) {
  char out[64] = "Software";
  ASSERT_TRUE(JoinPath(out, sizeof out, out, "Tobarin"));
  ASSERT_TRUE(JoinPath(out, sizeof out, out, "Orvale"));
  EXPECT_STREQ(out, "Software\\Tobarin\\Orvale");
}

}  // namespace
