// The committed application icon: its file structure, read here on its own
// terms, and that the generator still makes exactly these bytes.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8;
}

uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

TEST(ApplicationIcon, HoldsA32And16PixelImageAt8BitsWithAFullPalette) {
  const std::string icon = Slurp(ICON_PATH);
  ASSERT_GE(icon.size(), 6u + 2 * 16);
  EXPECT_EQ(U16(icon, 0), 0u);  // reserved
  EXPECT_EQ(U16(icon, 2), 1u);  // an icon, not a cursor
  ASSERT_EQ(U16(icon, 4), 2u);
  std::set<uint32_t> sizes;
  size_t expected_offset = 6 + 2 * 16;
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    size_t entry = 6 + 16 * i;
    uint32_t width = static_cast<unsigned char>(icon[entry]);
    uint32_t height = static_cast<unsigned char>(icon[entry + 1]);
    EXPECT_EQ(width, height);
    sizes.insert(width);
    EXPECT_EQ(icon[entry + 2], 0);  // colour count: 0 stands for 256
    EXPECT_EQ(U16(icon, entry + 4), 1u);
    EXPECT_EQ(U16(icon, entry + 6), 8u);
    uint32_t bytes = U32(icon, entry + 8);
    uint32_t offset = U32(icon, entry + 12);
    EXPECT_EQ(offset, expected_offset);
    ASSERT_LE(size_t{offset} + bytes, icon.size());
    expected_offset = size_t{offset} + bytes;

    // BITMAPINFOHEADER, palette, colour pixels, mask; rows padded to 4 bytes.
    uint32_t colour_row = (width + 3) / 4 * 4, mask_row = (width + 31) / 32 * 4;
    EXPECT_EQ(bytes, 40 + 256 * 4 + (colour_row + mask_row) * height);
    EXPECT_EQ(U32(icon, offset), 40u);
    EXPECT_EQ(U32(icon, offset + 4), width);
    EXPECT_EQ(U32(icon, offset + 8), 2 * height);
    EXPECT_EQ(U16(icon, offset + 12), 1u);
    EXPECT_EQ(U16(icon, offset + 14), 8u);
    EXPECT_EQ(U32(icon, offset + 16), 0u);  // BI_RGB
    uint32_t used = U32(icon, offset + 32);
    EXPECT_TRUE(used == 0 || used == 256) << used;

    // Something is drawn: the mask leaves pixels opaque and keeps the corners
    // clear (a round badge), and the opaque pixels use more than one colour.
    size_t palette = offset + 40, pixels = palette + 256 * 4, mask = pixels + colour_row * height;
    auto transparent = [&](uint32_t x, uint32_t y_from_bottom) {
      return (static_cast<unsigned char>(icon[mask + mask_row * y_from_bottom + x / 8]) >> (7 - x % 8)) & 1;
    };
    EXPECT_TRUE(transparent(0, 0) && transparent(width - 1, 0) && transparent(0, height - 1) &&
                transparent(width - 1, height - 1));
    EXPECT_FALSE(transparent(width / 2, height / 2));
    std::set<unsigned char> colours;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        unsigned char index = static_cast<unsigned char>(icon[pixels + colour_row * y + x]);
        if (transparent(x, y)) {
          EXPECT_EQ(index, 0) << "a transparent pixel must be black in the colour image";
        } else {
          colours.insert(index);
        }
      }
    }
    EXPECT_GT(colours.size(), 2u);
    EXPECT_EQ(U32(icon, palette), 0u) << "index 0, under the transparent pixels, is black";
  }
  EXPECT_EQ(sizes, (std::set<uint32_t>{32, 16}));
  EXPECT_EQ(expected_offset, icon.size()) << "nothing follows the images";
}

TEST(ApplicationIcon, GeneratorMakesTheCommittedFile) {
  char pattern[] = "/tmp/make_icon_test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string out = std::string(pattern) + "/updater.ico";
  std::string command = std::string("'") + MAKE_ICON_PATH + "' '" + out + "'";
  ASSERT_EQ(system(command.c_str()), 0);
  std::string made = Slurp(out);
  unlink(out.c_str());
  rmdir(pattern);
  EXPECT_TRUE(made == Slurp(ICON_PATH))
      << "regenerate res/updater.ico with make_icon (see tools/make_icon.cpp)";
}

}  // namespace
