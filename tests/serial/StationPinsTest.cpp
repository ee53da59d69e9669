// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The trusted stations' file: what a check says for each state the file can be in, what a pin
// leaves behind, and the operator's ways of writing a station and a fingerprint.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "StationPins.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

const std::string kOld = NormalFingerprint(std::string(64, 'a'));
const std::string kNew = NormalFingerprint(std::string(64, 'b'));

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

unsigned Mode(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(StationPinsTest, ChecksAndPinsWhateverStateTheFileIsIn) {
  struct TCase {
    const char* name;
    // Prepares the folder (the file is `file`, a link's target `elsewhere`).
    std::function<void(const TStationPins& pins, const std::string& elsewhere)> prepare;
    TPinVerdict verdict;  // of the shown certificate kNew for shack.local:3002
    const char* reason;   // part of the reason, for a file that is not read
    bool pinned;          // whether pinning kNew then succeeds
  };
  auto pin = [](const TStationPins& pins, const std::string& station, const std::string& print) {
    std::string previous, reason;
    ASSERT_TRUE(pins.Pin(station, print, previous, reason)) << reason;
  };
  const TCase cases[] = {
      {"no file", [](auto&, auto&) {}, TPinVerdict::Unknown, "", true},
      {"another station only", [&](auto& pins, auto&) { pin(pins, "[::1]:3002", kOld); },
       TPinVerdict::Unknown, "", true},
      {"the same certificate", [&](auto& pins, auto&) { pin(pins, "shack.local:3002", kNew); },
       TPinVerdict::Trusted, "", true},
      {"a changed certificate", [&](auto& pins, auto&) { pin(pins, "shack.local:3002", kOld); },
       TPinVerdict::Changed, "", true},
      {"a damaged line",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         std::ofstream(pins.File(), std::ios::app) << "shack.local:3003 12:34\n";
       },
       TPinVerdict::Unreadable, "known-stations is damaged at line 4; correct or remove that line",
       false},
      {"a link in its place",
       [](auto& pins, auto& elsewhere) {
         std::ofstream(elsewhere) << "shack.local:3002 " << kNew << "\n";
         fs::create_directories(fs::path(pins.File()).parent_path());
         fs::create_symlink(elsewhere, pins.File());
       },
       TPinVerdict::Unreadable, "known-stations is a symbolic link", false},
      {"others may change it",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         ::chmod(pins.File().c_str(), 0622);
       },
       TPinVerdict::Unreadable, "can be changed by others; make it private: chmod 600", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string root = (fs::temp_directory_path() / "orvel-pins-XXXXXX").string();
    ASSERT_NE(::mkdtemp(root.data()), nullptr);
    const std::string folder = root + "/config/orvel";
    const std::string elsewhere = root + "/elsewhere";
    const TStationPins pins(folder);
    c.prepare(pins, elsewhere);
    const std::string before = ReadFile(pins.File());
    const std::string target = ReadFile(elsewhere);

    const TPinCheck check = pins.Check("shack.local:3002", kNew);
    EXPECT_EQ(check.Verdict, c.verdict);
    EXPECT_EQ(check.Pinned, c.verdict == TPinVerdict::Changed   ? kOld
                            : c.verdict == TPinVerdict::Trusted ? kNew
                                                                : "");
    EXPECT_THAT(check.Reason, HasSubstr(c.reason));

    std::string previous, reason;
    EXPECT_EQ(pins.Pin("shack.local:3002", kNew, previous, reason), c.pinned) << reason;
    EXPECT_EQ(previous, c.verdict == TPinVerdict::Unknown || !c.pinned ? "" : check.Pinned);
    EXPECT_EQ(ReadFile(elsewhere), target);
    if (c.pinned) {
      EXPECT_EQ(pins.Check("shack.local:3002", kNew).Verdict, TPinVerdict::Trusted);
      EXPECT_EQ(Mode(pins.File()), 0600u);
      EXPECT_EQ(Mode(folder), 0700u);
      const std::string written = ReadFile(pins.File());
      EXPECT_EQ(written.find("shack.local:3002 " + kNew + "\n"), written.rfind("shack.local:3002"));
      EXPECT_EQ(written.find(kOld) != std::string::npos,
                c.verdict == TPinVerdict::Unknown && before.find(kOld) != std::string::npos);
    } else {
      EXPECT_THAT(reason, HasSubstr(c.reason));
      EXPECT_EQ(ReadFile(pins.File()), before);
    }
    fs::remove_all(root);
  }
}

TEST(StationPinsTest, StationsAndFingerprintsAsOperatorsWriteThem) {
  struct TCase {
    std::string text;
    std::string normal;
  };
  const TCase stations[] = {{"Shack.Local:3002", "shack.local:3002"},
                            {"[::1]:3002", "[::1]:3002"},
                            {"192.0.2.7:3002", "192.0.2.7:3002"},
                            {"shack.local", ""},
                            {"shack.local:99999", ""},
                            {"shack.local:3002?ca=/x", ""}};
  for (const TCase& c : stations) EXPECT_EQ(ParseStationName(c.text), c.normal) << c.text;

  const std::string zeros(60, '0');
  std::string normal = "3A:5F";
  for (int i = 0; i < 30; ++i) normal += ":00";
  std::string lower = normal;
  lower[1] = 'a';
  lower[3] = '5';
  lower[4] = 'f';
  const TCase prints[] = {
      {"3A5F" + zeros, normal}, {"3a5f" + zeros, normal}, {lower, normal},
      {normal, normal},         {"3A5" + zeros, ""},      {"3A5F0" + zeros, ""},
      {"3A5G" + zeros, ""},     {"3A:5F::" + zeros, ""},  {"3A:5" + zeros.substr(1) + "F0", ""},
      {normal + ":", ""},       {":" + normal, ""},       {normal + ".", ""}};
  for (const TCase& c : prints) EXPECT_EQ(NormalFingerprint(c.text), c.normal) << c.text;
  EXPECT_EQ(PemFingerprint("not a certificate"), "");
}

}  // namespace
