// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Listing the ports present. Runs on every idle pass of an open port, so it reads no more
// than the port directory (and its network entries), /dev and the sysfs type of the UARTs.
#include "PortList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "CommPort.h"
#include "NetworkAddress.h"

namespace {

// Linux device families and the first COM number that each is given.
struct TDeviceFamily {
  const char* prefix;
  int firstCom;
};

constexpr TDeviceFamily DeviceFamilies[] = {
    {"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}, {"ttyAMA", 97}, {"rfcomm", 129}};
constexpr int DevicesPerFamily = 32;

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The device number after the prefix, 0 to 31 without leading zeros; -1 for anything else.
int DeviceIndex(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return -1;
  name.remove_prefix(prefix.size());
  if (name.empty() || name.size() > 2 || (name.size() == 2 && name[0] == '0')) return -1;
  int index = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    index = index * 10 + (c - '0');
  }
  return index < DevicesPerFamily ? index : -1;
}

// An 8250-style driver creates ttyS nodes for UARTs that are not there; sysfs gives those
// the type 0.
bool ReadUartPresent(const std::string& name) {
  const std::string path = "/sys/class/tty/" + name + "/type";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[16] = {};
  const ssize_t count = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  return count > 0 && std::atoi(text) != 0;
}

// A desktop has 32 ttyS nodes, and the presence test lists the ports ten times a second: the
// answers are kept for a few seconds (a UART's type changes only through setserial).
bool UartPresent(const std::string& name) {
  using TClock = std::chrono::steady_clock;
  constexpr auto KeepFor = std::chrono::seconds(5);
  static std::mutex mutex;
  static std::map<std::string, std::pair<bool, TClock::time_point>> known;
  const TClock::time_point now = TClock::now();
  std::lock_guard lock(mutex);
  auto found = known.find(name);
  if (found != known.end() && now - found->second.second < KeepFor) return found->second.first;
  const bool present = ReadUartPresent(name);
  known[name] = {present, now};
  return present;
}

std::string LinkTarget(const std::string& directory, const std::string& link) {
  std::string target(4096, '\0');
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
  if (length <= 0) return link;
  target.resize(static_cast<std::size_t>(length));
  return target.front() == '/' ? target : directory + "/" + target;
}

// A regular file in the port directory names a network port: its one line is the address.
std::string NetworkAddressIn(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  char text[1024];
  const ssize_t count = ::read(fd, text, sizeof text);
  ::close(fd);
  if (count <= 0) return {};
  std::string_view line(text, static_cast<std::size_t>(count));
  line = line.substr(0, line.find_first_of("\r\n"));
  std::string address = TrimControls(line);
  return IsNetworkAddress(address) ? address : std::string();
}

void AddDirectoryPorts(const std::string& directoryPath, std::vector<TListedPort>& ports) {
  DIR* directory = ::opendir(directoryPath.c_str());
  if (!directory) return;
  std::vector<TListedPort> found;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string fileName = entry->d_name;
    if (fileName == "." || fileName == "..") continue;
    const std::string link = directoryPath + "/" + fileName;
    struct stat status {};
    if (::lstat(link.c_str(), &status) != 0) continue;
    std::string device;
    if (S_ISREG(status.st_mode)) {
      device = NetworkAddressIn(link);
    } else if (S_ISLNK(status.st_mode) && ::stat(link.c_str(), &status) == 0) {
      // A link whose device is gone (an unplugged adapter, a closed virtual port) is not listed.
      device = LinkTarget(directoryPath, link);
    }
    std::string name = UpperCase(TrimControls(fileName));
    if (name.empty() || device.empty()) continue;
    found.push_back({std::move(name), std::move(device)});
  }
  ::closedir(directory);
  std::sort(found.begin(), found.end(),
            [](const TListedPort& a, const TListedPort& b) { return a.Name < b.Name; });
  for (TListedPort& port : found) {
    const bool known = std::any_of(ports.begin(), ports.end(),
                                   [&](const TListedPort& p) { return p.Name == port.Name; });
    if (!known) ports.push_back(std::move(port));
  }
}

void AddDetectedPorts(std::vector<TListedPort>& ports) {
  DIR* directory = ::opendir("/dev");
  if (!directory) return;
  std::vector<std::pair<int, std::string>> found;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name = entry->d_name;
    for (const TDeviceFamily& family : DeviceFamilies) {
      const int index = DeviceIndex(name, family.prefix);
      if (index < 0) continue;
      if (family.firstCom == 1 && !UartPresent(std::string(name))) break;
      found.push_back({family.firstCom + index, std::string(name)});
      break;
    }
  }
  ::closedir(directory);
  std::sort(found.begin(), found.end());
  for (const auto& [com, deviceName] : found) {
    std::string name = "COM" + std::to_string(com);
    const bool known = std::any_of(ports.begin(), ports.end(),
                                   [&](const TListedPort& p) { return p.Name == name; });
    if (!known) ports.push_back({std::move(name), "/dev/" + deviceName});
  }
}

}  // namespace

std::vector<TListedPort> ListPresentPorts(const std::string& portsDirectory) {
  std::vector<TListedPort> ports;
  if (!portsDirectory.empty()) AddDirectoryPorts(portsDirectory, ports);
  AddDetectedPorts(ports);
  return ports;
}
