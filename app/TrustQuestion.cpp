// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
#include "app/TrustQuestion.h"

#include "controls/UserAction.h"
#include "station/StationPins.h"

void TTrustQuestion::Put(const ESerialPortException& refusal) const {
  Later([question = *this, refusal] {
    const auto stands = [&question] { return !question.StillAsked || question.StillAsked(); };
    if (!stands()) return;
    RunUserAction([&] {
      const bool trusted = question.Ask(refusal);
      if (!stands()) return;
      if (question.Answered) question.Answered();
      if (!trusted) {
        if (question.Declined) question.Declined();
        return;
      }
      const TStationCertificate& certificate = refusal.Certificate();
      std::string previous, reason;
      if (!TStationPins().Pin(certificate.Station, certificate.Fingerprint, previous, reason)) {
        question.NotPinned(reason);
        return;
      }
      question.Pinned();
    });
  });
}
