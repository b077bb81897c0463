// make_icon: draws the updater's application icon, a blue round badge with a
// white upward arrow, and writes it as a Windows .ico file holding a 32x32 and
// a 16x16 image, each 8 bits per pixel with a 256-colour palette.
//
// Regenerate the committed icon from the repository root with:
//
//   cmake --preset host && cmake --build --preset host -j2 --target make_icon &&
//   build/host/tools/make_icon res/updater.ico
//
// The output depends on nothing but this file, so it is the same on every run.
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

// The palette is a 16 x 16 table: the row is the badge shade (0 is unused by
// the badge: index 0 is black, the colour under the transparent pixels), the
// column is how much of the pixel the white arrow covers.
const int SHADES = 16;
const int COVERAGE_STEPS = 16;
const int SUPERSAMPLE = 4;

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb from, Rgb to, double t) {
  return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t};
}

Rgb PaletteColour(int shade, int coverage) {
  const Rgb black = {0, 0, 0};
  const Rgb white = {255, 255, 255};
  const Rgb navy = {16, 40, 96};
  const Rgb sky = {110, 190, 250};
  double t = coverage / static_cast<double>(COVERAGE_STEPS - 1);
  if (shade == 0) return Mix(black, white, t);
  return Mix(Mix(navy, sky, (shade - 1) / static_cast<double>(SHADES - 2)), white, t);
}

// The arrow in unit coordinates (0..1 across the icon, y downwards): a head
// triangle over a shaft.
bool InArrow(double u, double v) {
  const double apex_u = 0.5, apex_v = 0.16, base_v = 0.52, half_width = 0.29;
  if (v >= apex_v && v <= base_v) {
    double half = half_width * (v - apex_v) / (base_v - apex_v);
    if (fabs(u - apex_u) <= half) return true;
  }
  return u >= 0.39 && u <= 0.61 && v >= base_v - 0.01 && v <= 0.83;
}

const double BADGE_RADIUS = 0.47;

bool InBadge(double u, double v) {
  return (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5) <= BADGE_RADIUS * BADGE_RADIUS;
}

void PutU16(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void PutU32(std::string* out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// One image as stored in the file: BITMAPINFOHEADER (height doubled for the
// mask), the palette, the colour pixels and the transparency mask, both
// bottom-up with rows padded to 4 bytes.
std::string DrawImage(int size) {
  std::vector<uint8_t> pixels(size * size);
  std::vector<bool> transparent(size * size);
  double rim = (size >= 32 ? 1.5 : 1.0) / size;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      int badge = 0, arrow = 0;
      for (int j = 0; j < SUPERSAMPLE; ++j) {
        for (int i = 0; i < SUPERSAMPLE; ++i) {
          double u = (x + (i + 0.5) / SUPERSAMPLE) / size;
          double v = (y + (j + 0.5) / SUPERSAMPLE) / size;
          if (InBadge(u, v)) ++badge;
          if (InArrow(u, v)) ++arrow;
        }
      }
      const int samples = SUPERSAMPLE * SUPERSAMPLE;
      int at = y * size + x;
      // The mask has one bit per pixel: a pixel mostly inside the badge is drawn.
      if (badge * 2 < samples) {
        transparent[at] = true;
        pixels[at] = 0;
        continue;
      }
      double u = (x + 0.5) / size, v = (y + 0.5) / size;
      double from_edge = BADGE_RADIUS - sqrt((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5));
      int shade = from_edge < rim ? 1 : static_cast<int>(lround(SHADES - 1 - 9 * v));
      if (shade < 1) shade = 1;
      if (shade > SHADES - 1) shade = SHADES - 1;
      int coverage = static_cast<int>(lround((COVERAGE_STEPS - 1) * arrow / static_cast<double>(samples)));
      pixels[at] = static_cast<uint8_t>(shade * COVERAGE_STEPS + coverage);
    }
  }

  int mask_row = ((size + 31) / 32) * 4;
  int colour_row = ((size + 3) / 4) * 4;
  std::string image;
  PutU32(&image, 40);        // biSize
  PutU32(&image, size);      // biWidth
  PutU32(&image, size * 2);  // biHeight: colour pixels and mask together
  PutU16(&image, 1);         // biPlanes
  PutU16(&image, 8);         // biBitCount
  PutU32(&image, 0);         // biCompression: BI_RGB
  PutU32(&image, (colour_row + mask_row) * size);
  PutU32(&image, 0);  // biXPelsPerMeter
  PutU32(&image, 0);  // biYPelsPerMeter
  PutU32(&image, 0);  // biClrUsed: 0 means all 256
  PutU32(&image, 0);  // biClrImportant
  for (int shade = 0; shade < SHADES; ++shade) {
    for (int coverage = 0; coverage < COVERAGE_STEPS; ++coverage) {
      Rgb c = PaletteColour(shade, coverage);
      image.push_back(static_cast<char>(lround(c.b)));  // RGBQUAD: blue, green, red, 0
      image.push_back(static_cast<char>(lround(c.g)));
      image.push_back(static_cast<char>(lround(c.r)));
      image.push_back('\0');
    }
  }
  for (int row = size - 1; row >= 0; --row) {
    for (int x = 0; x < colour_row; ++x)
      image.push_back(x < size ? static_cast<char>(pixels[row * size + x]) : '\0');
  }
  for (int row = size - 1; row >= 0; --row) {
    std::string bits(mask_row, '\0');
    for (int x = 0; x < size; ++x) {
      if (transparent[row * size + x]) bits[x / 8] = static_cast<char>(bits[x / 8] | (0x80 >> (x % 8)));
    }
    image += bits;
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_icon OUT.ico\n");
    return 2;
  }
  const int sizes[] = {32, 16};
  std::string images[2] = {DrawImage(sizes[0]), DrawImage(sizes[1])};
  std::string file;
  PutU16(&file, 0);  // ICONDIR: reserved, type 1 (icon), image count
  PutU16(&file, 1);
  PutU16(&file, 2);
  uint32_t offset = 6 + 16 * 2;
  for (int i = 0; i < 2; ++i) {
    file.push_back(static_cast<char>(sizes[i]));  // ICONDIRENTRY: width, height
    file.push_back(static_cast<char>(sizes[i]));
    file.push_back('\0');  // colour count: 0 for 256 colours
    file.push_back('\0');  // reserved
    PutU16(&file, 1);      // planes
    PutU16(&file, 8);      // bits per pixel
    PutU32(&file, static_cast<uint32_t>(images[i].size()));
    PutU32(&file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  file += images[0];
  file += images[1];

  FILE* out = fopen(argv[1], "wb");
  if (out == nullptr) {
    perror(argv[1]);
    return 1;
  }
  bool ok = fwrite(file.data(), 1, file.size(), out) == file.size();
  if (fclose(out) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    remove(argv[1]);
    return 1;
  }
  return 0;
}
