// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The lamp pictures as the program's own description gives them, one letter per pixel
// (W white, S silver, G grey, K black, L lime), built independently of the generator.
#pragma once

#include <QColor>
#include <QImage>
#include <string>
#include <vector>

using LetterPicture = std::vector<std::string>;

// "BSM", "NSM", ... "NHZ".
LetterPicture DescribedPicture(const std::string& name);

QColor LetterColor(char letter);

// The picture as a lamp should draw it: the glass (the edge-connected lime region around the
// centre) in `glass`; for a plain picture also the silver connected to the top-left corner
// in `border`.
QImage ExpectedLamp(const std::string& name, QColor glass, QColor border);
