// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Lamp pictures rebuilt from their description, for comparing with the committed files and
// with what the lamp draws.
#include "tests/controls/LampPictureData.h"

#include <stdexcept>

namespace {

const LetterPicture kSmallCircle = {
    "WWWWWWWWWWWWWWWW", "WSSSSKKKKKKSSSSG", "WSSSKWWWWWSKSSSG", "WSSKWWKKKKSSKSSG",
    "WSKWWKLLLLKSSKSG", "WKWWKWLWLLLKSGKG", "WKWKLLWLLLLLKGKG", "WKWKLWLLLLLLKGKG",
    "WKWKLLLLLLLLKGKG", "WKWKLLLLLLLLKGKG", "WKSSKLLLLLLKGGKG", "WSKSSKLLLLKGGKSG",
    "WSSKSSKKKKGGKSSG", "WSSSKGGGGGGKSSSG", "WSSSSKKKKKKSSSSG", "GGGGGGGGGGGGGGGG",
};

const LetterPicture kLargeCircle = {
    "WWWWWWWWWWWWWWWWWWWWWW", "WSSSSSSSKKKKKKSSSSSSSG", "WSSSSSKKWWWWWWKKSSSSSG",
    "WSSSKKWWKKKKKKSSKKSSSG", "WSSKWWKKLLLLLLKKSSKSSG", "WSSKWKLLLLLLLLLLKSKSSG",
    "WSKWKLLLWWLLLLLLLKSKSG", "WSKWKLLWWLLLLLLLLKSKSG", "WKWKLLWWLLLLLLLLLLKGKG",
    "WKWKLLWLLLLLLLLLLLKGKG", "WKWKLLLLLLLLLLLLLLKGKG", "WKWKLWWLLLLLLLLLLLKGKG",
    "WKWKLWWLLLLLLLLLLLKGKG", "WKWKLLLLLLLLLLLLLLKGKG", "WSKSKLLLLLLLLLLLLKGKSG",
    "WSKSKLLLLLLLLLLLLKGKSG", "WSSKSKLLLLLLLLLLKGKSSG", "WSSKSSKKLLLLLLKKGGKSSG",
    "WSSSKKSSKKKKKKGGKKSSSG", "WSSSSSKKGGGGGGKKSSSSSG", "WSSSSSSSKKKKKKSSSSSSSG",
    "GGGGGGGGGGGGGGGGGGGGGG",
};

struct Span {
  int row;
  int first;
  int last;
};

// Ring k is the one-pixel rectangle k pixels in from the edge. Its pixels are classified by
// side: the top row with both its corners, the bottom row with both its corners, and the
// left and right columns between them.
char RingLetter(int x, int y, int h, int k, char top_left, char bottom_right) {
  if (y == k) return top_left;
  if (y == h - 1 - k) return bottom_right;
  return x == k ? top_left : bottom_right;
}

LetterPicture Rectangle(int w, int h, const std::string& rings, const std::vector<Span>& glint) {
  LetterPicture picture(h, std::string(w, 'L'));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int k = std::min({x, y, w - 1 - x, h - 1 - y});
      if (k >= static_cast<int>(rings.size())) continue;
      switch (rings[k]) {
        case 'R':  // raised edge
          picture[y][x] = RingLetter(x, y, h, k, 'W', 'G');
          break;
        case 'D':  // silver above and left, grey below and right
          picture[y][x] = RingLetter(x, y, h, k, 'S', 'G');
          break;
        default:
          picture[y][x] = rings[k];
      }
    }
  }
  for (const Span& span : glint) {
    for (int x = span.first; x <= span.last; ++x) picture[span.row][x] = 'W';
  }
  return picture;
}

LetterPicture Framed(const std::string& shape) {
  if (shape == "SM") return kSmallCircle;
  if (shape == "LG") return kLargeCircle;
  if (shape == "SQSM") return Rectangle(16, 16, "RKDK", {{5, 6, 8}, {6, 5, 6}, {7, 5, 5}});
  if (shape == "SQLG") {
    return Rectangle(22, 22, "RSKDK", {{6, 8, 9}, {7, 7, 8}, {8, 6, 7}, {9, 6, 6}});
  }
  if (shape == "VT")
    return Rectangle(16, 22, "RSKDK", {{6, 7, 8}, {7, 6, 7}, {8, 6, 6}, {9, 6, 6}});
  if (shape == "HZ") return Rectangle(22, 16, "RSKDK", {{6, 7, 9}, {7, 6, 7}, {8, 6, 6}});
  throw std::invalid_argument("no lamp shape " + shape);
}

void FillRegion(QImage& image, QPoint start, QRgb fill) {
  const QRgb match = image.pixel(start);
  if (match == fill) return;
  std::vector<QPoint> pending{start};
  image.setPixel(start, fill);
  while (!pending.empty()) {
    const QPoint p = pending.back();
    pending.pop_back();
    for (const QPoint n :
         {p + QPoint(1, 0), p - QPoint(1, 0), p + QPoint(0, 1), p - QPoint(0, 1)}) {
      if (image.valid(n) && image.pixel(n) == match) {
        image.setPixel(n, fill);
        pending.push_back(n);
      }
    }
  }
}

}  // namespace

LetterPicture DescribedPicture(const std::string& name) {
  LetterPicture picture = Framed(name.substr(1));
  if (name[0] == 'N') {
    const int h = static_cast<int>(picture.size());
    const int w = static_cast<int>(picture[0].size());
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1) picture[y][x] = 'S';
      }
    }
  } else if (name[0] != 'B') {
    throw std::invalid_argument("no lamp picture " + name);
  }
  return picture;
}

QColor LetterColor(char letter) {
  switch (letter) {
    case 'W':
      return QColor(0xFF, 0xFF, 0xFF);
    case 'S':
      return QColor(0xC0, 0xC0, 0xC0);
    case 'G':
      return QColor(0x80, 0x80, 0x80);
    case 'K':
      return QColor(0x00, 0x00, 0x00);
    case 'L':
      return QColor(0x00, 0xFF, 0x00);
  }
  throw std::invalid_argument(std::string("no picture letter ") + letter);
}

QImage ExpectedLamp(const std::string& name, QColor glass, QColor border) {
  const LetterPicture letters = DescribedPicture(name);
  const int h = static_cast<int>(letters.size());
  const int w = static_cast<int>(letters[0].size());
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.setPixel(x, y, LetterColor(letters[y][x]).rgb());
  }
  FillRegion(image, QPoint(w / 2, h / 2), glass.rgb());
  if (name[0] == 'N') FillRegion(image, QPoint(0, 0), border.rgb());
  return image;
}
