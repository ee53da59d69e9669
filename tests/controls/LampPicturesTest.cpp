// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The committed lamp bitmaps against their description: file format, palette, every pixel,
// and the properties the recolouring relies on.
#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/controls/LampPictureData.h"

namespace {

struct PictureCase {
  const char* name;
  int width;
  int height;
  QRect glass;  // the glass area of the style
  bool round;
};

void PrintTo(const PictureCase& c, std::ostream* out) {
  *out << c.name;
}

const PictureCase kPictures[] = {
    {"BSM", 16, 16, QRect(QPoint(4, 4), QPoint(11, 11)), true},
    {"NSM", 16, 16, QRect(QPoint(4, 4), QPoint(11, 11)), true},
    {"BLG", 22, 22, QRect(QPoint(4, 4), QPoint(17, 17)), true},
    {"NLG", 22, 22, QRect(QPoint(4, 4), QPoint(17, 17)), true},
    {"BSQSM", 16, 16, QRect(QPoint(4, 4), QPoint(11, 11)), false},
    {"NSQSM", 16, 16, QRect(QPoint(4, 4), QPoint(11, 11)), false},
    {"BSQLG", 22, 22, QRect(QPoint(5, 5), QPoint(16, 16)), false},
    {"NSQLG", 22, 22, QRect(QPoint(5, 5), QPoint(16, 16)), false},
    {"BVT", 16, 22, QRect(QPoint(5, 5), QPoint(10, 16)), false},
    {"NVT", 16, 22, QRect(QPoint(5, 5), QPoint(10, 16)), false},
    {"BHZ", 22, 16, QRect(QPoint(5, 5), QPoint(16, 10)), false},
    {"NHZ", 22, 16, QRect(QPoint(5, 5), QPoint(16, 10)), false},
};

// The standard 16-colour palette in the Windows system order.
constexpr std::array<std::uint32_t, 16> kStandardPalette = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
  }
  return value;
}

char LetterOfRgb(std::uint32_t rgb) {
  for (const char letter : {'W', 'S', 'G', 'K', 'L'}) {
    if ((LetterColor(letter).rgb() & 0xFFFFFF) == rgb) return letter;
  }
  return '?';
}

// Decodes an uncompressed 4-bit BMP by hand, so that the check does not rest on the reader
// the program itself uses.
LetterPicture DecodeBmp4(const std::string& bytes, int width, int height) {
  const std::uint32_t offset = Le(bytes, 10, 4);
  const int row_bytes = ((width * 4 + 31) / 32) * 4;
  LetterPicture picture(height, std::string(width, ' '));
  for (int y = 0; y < height; ++y) {
    const std::size_t row = offset + static_cast<std::size_t>(height - 1 - y) * row_bytes;
    for (int x = 0; x < width; ++x) {
      const auto byte = static_cast<unsigned char>(bytes.at(row + x / 2));
      const unsigned index = x % 2 == 0 ? byte >> 4 : byte & 0x0F;
      picture[y][x] = LetterOfRgb(kStandardPalette[index]);
    }
  }
  return picture;
}

std::set<std::pair<int, int>> EdgeRegion(const LetterPicture& picture, int x0, int y0) {
  const char letter = picture[y0][x0];
  std::set<std::pair<int, int>> region{{x0, y0}};
  std::vector<std::pair<int, int>> pending{{x0, y0}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
      const int nx = x + dx;
      const int ny = y + dy;
      if (ny < 0 || ny >= static_cast<int>(picture.size()) || nx < 0 ||
          nx >= static_cast<int>(picture[0].size()) || picture[ny][nx] != letter) {
        continue;
      }
      if (region.insert({nx, ny}).second) pending.push_back({nx, ny});
    }
  }
  return region;
}

class LampPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(LampPictures, CommittedFileIsA4BitBmpWithTheStandardPalette) {
  const PictureCase& c = GetParam();
  std::ifstream in(std::string(ORVEL_SOURCE_DIR) + "/controls/lamps/" + c.name + ".bmp",
                   std::ios::binary);
  ASSERT_TRUE(in) << c.name;
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_GE(bytes.size(), 118u);
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  EXPECT_EQ(Le(bytes, 2, 4), bytes.size());
  EXPECT_EQ(Le(bytes, 14, 4), 40u);
  EXPECT_EQ(static_cast<int>(Le(bytes, 18, 4)), c.width);
  EXPECT_EQ(static_cast<int>(Le(bytes, 22, 4)), c.height);
  EXPECT_EQ(Le(bytes, 26, 2), 1u);  // planes
  EXPECT_EQ(Le(bytes, 28, 2), 4u);  // bits per pixel
  EXPECT_EQ(Le(bytes, 30, 4), 0u);  // no compression
  const std::uint32_t colours = Le(bytes, 46, 4);
  EXPECT_TRUE(colours == 0 || colours == 16);
  for (std::size_t i = 0; i < kStandardPalette.size(); ++i) {
    EXPECT_EQ(Le(bytes, 54 + 4 * i, 3), kStandardPalette[i]) << c.name << " palette " << i;
  }
  const int row_bytes = ((c.width * 4 + 31) / 32) * 4;
  ASSERT_EQ(bytes.size(), Le(bytes, 10, 4) + static_cast<std::size_t>(row_bytes) * c.height);
  EXPECT_EQ(DecodeBmp4(bytes, c.width, c.height), DescribedPicture(c.name)) << c.name;
}

TEST_P(LampPictures, BuiltInResourceMatchesTheDescription) {
  const PictureCase& c = GetParam();
  const QImage image(QStringLiteral(":/lamps/") + QLatin1String(c.name), "BMP");
  ASSERT_EQ(image.size(), QSize(c.width, c.height)) << c.name;
  const LetterPicture letters = DescribedPicture(c.name);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      ASSERT_EQ(image.pixel(x, y), LetterColor(letters[y][x]).rgb())
          << c.name << " at " << x << "," << y;
    }
  }
}

TEST_P(LampPictures, GlassIsOneEdgeConnectedLimeRegionAroundTheCentre) {
  const PictureCase& c = GetParam();
  const LetterPicture picture = DescribedPicture(c.name);
  ASSERT_EQ(picture.size(), static_cast<std::size_t>(c.height));
  for (const std::string& row : picture) {
    ASSERT_EQ(row.size(), static_cast<std::size_t>(c.width));
    EXPECT_EQ(row.find_first_not_of("WSGKL"), std::string::npos) << c.name;
  }
  ASSERT_EQ(picture[c.height / 2][c.width / 2], 'L') << c.name;
  const auto glass = EdgeRegion(picture, c.width / 2, c.height / 2);
  std::size_t lime = 0;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      if (picture[y][x] != 'L') continue;
      ++lime;
      EXPECT_TRUE(c.glass.contains(x, y))
          << c.name << " lime outside the glass at " << x << "," << y;
    }
  }
  EXPECT_EQ(glass.size(), lime) << c.name << ": lime outside the centre's region";
  if (!c.round) {
    // A square glass fills its area completely, apart from the white glint.
    for (int y = c.glass.top(); y <= c.glass.bottom(); ++y) {
      for (int x = c.glass.left(); x <= c.glass.right(); ++x) {
        EXPECT_TRUE(picture[y][x] == 'L' || picture[y][x] == 'W') << c.name << " " << x << "," << y;
      }
    }
  }
}

TEST_P(LampPictures, OutermostRingIsRaisedWhenFramedAndSilverWhenPlain) {
  const PictureCase& c = GetParam();
  const LetterPicture picture = DescribedPicture(c.name);
  const bool framed = c.name[0] == 'B';
  const int w = c.width;
  const int h = c.height;
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(picture[0][x], framed ? 'W' : 'S') << c.name << " top " << x;
    EXPECT_EQ(picture[h - 1][x], framed ? 'G' : 'S') << c.name << " bottom " << x;
  }
  for (int y = 1; y < h - 1; ++y) {
    EXPECT_EQ(picture[y][0], framed ? 'W' : 'S') << c.name << " left " << y;
    EXPECT_EQ(picture[y][w - 1], framed ? 'G' : 'S') << c.name << " right " << y;
  }
  // Apart from that ring, the plain picture is the framed one.
  LetterPicture inner = DescribedPicture(std::string("B") + (c.name + 1));
  LetterPicture plain = DescribedPicture(std::string("N") + (c.name + 1));
  for (int y = 1; y < h - 1; ++y) {
    EXPECT_EQ(inner[y].substr(1, w - 2), plain[y].substr(1, w - 2)) << c.name << " row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(AllTwelve, LampPictures, ::testing::ValuesIn(kPictures),
                         [](const auto& instance) { return std::string(instance.param.name); });

// Only plain pictures take a border colour.
class PlainLampPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PlainLampPictures, LightEdgesInsideTheRingsAreNotEdgeConnectedToTheSurround) {
  const PictureCase& c = GetParam();
  const LetterPicture picture = DescribedPicture(c.name);
  const auto surround = EdgeRegion(picture, 0, 0);
  std::size_t inner_silver = 0;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      if (picture[y][x] == 'S' && !surround.contains({x, y})) ++inner_silver;
    }
  }
  EXPECT_GT(inner_silver, 0u) << c.name;
  // The surround never reaches into the glass area.
  for (const auto& [x, y] : surround) EXPECT_FALSE(c.glass.contains(x, y)) << c.name;
}

std::vector<PictureCase> PlainPictures() {
  std::vector<PictureCase> plain;
  for (const PictureCase& c : kPictures) {
    if (c.name[0] == 'N') plain.push_back(c);
  }
  return plain;
}

INSTANTIATE_TEST_SUITE_P(AllSix, PlainLampPictures, ::testing::ValuesIn(PlainPictures()),
                         [](const auto& instance) { return std::string(instance.param.name); });

TEST(LampPictureDescription, GlintPixelsAreWhiteInsideTheGlass) {
  struct Glint {
    const char* name;
    std::vector<QPoint> pixels;  // (column, row)
  };
  const Glint glints[] = {
      {"BSQLG", {{8, 6}, {9, 6}, {7, 7}, {8, 7}, {6, 8}, {7, 8}, {6, 9}}},
      {"BVT", {{7, 6}, {8, 6}, {6, 7}, {7, 7}, {6, 8}, {6, 9}}},
      {"BHZ", {{7, 6}, {8, 6}, {9, 6}, {6, 7}, {7, 7}, {6, 8}}},
      {"BSQSM", {{6, 5}, {7, 5}, {8, 5}, {5, 6}, {6, 6}, {5, 7}}},
  };
  for (const Glint& glint : glints) {
    const LetterPicture picture = DescribedPicture(glint.name);
    std::size_t white_inside = 0;
    for (std::size_t y = 4; y + 4 < picture.size(); ++y) {
      for (std::size_t x = 4; x + 4 < picture[0].size(); ++x) white_inside += picture[y][x] == 'W';
    }
    EXPECT_EQ(white_inside, glint.pixels.size()) << glint.name;
    for (const QPoint p : glint.pixels) EXPECT_EQ(picture[p.y()][p.x()], 'W') << glint.name;
  }
}

}  // namespace
