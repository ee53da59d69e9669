// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's words for a failure of the serial port, each sentence built here once.
#pragma once

#include <string>

#include "serial/SerialPortException.h"

// "Cannot connect to SHOWN. REASON", for every failure to reach a port.
std::string CannotConnectText(const std::string& shown, const std::string& reason);
// What the operator is told: a network station's failure worded from its kind and facts, with
// what the operator can do about it; any other failure as the port itself words it.
std::string FailureText(const ESerialPortException& failure);
// The same failure with FailureText as its message, for where only the message is shown (the
// error box of an operator's action).
ESerialPortException Worded(const ESerialPortException& failure);
// An open station that hung up for a reason its report names (a raw address to a TLS station).
std::string HungUpText(const std::string& station, const TStationReport& report);
// The question before a station not known yet is trusted: its fingerprint, and what Yes does,
// for a station being added (`adding`, its name) while a port is open or not.
std::string TrustQuestionText(const TStationCertificate& certificate, const std::string& adding,
                              bool portOpen);
