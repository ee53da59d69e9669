// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Listing the ports present. It reads the port directory (and its network entries), /dev and
// the sysfs type of the UARTs; the presence test of an open port looks at its own entry only.
#include "serial/posix/PortList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "serial/CommPort.h"
#include "serial/NetworkPorts.h"
#include "serial/PortsDirectory.h"
#include "text/AsciiText.h"

namespace {

// Linux device families and the first COM number that each is given.
struct TDeviceFamily {
  const char* prefix;
  int firstCom;
};

constexpr TDeviceFamily DeviceFamilies[] = {
    {"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}, {"ttyAMA", 97}, {"rfcomm", 129}};
constexpr int DevicesPerFamily = 32;

// The list shows names as Windows-1252 text and compares them without letter case: a name
// with bytes outside printable ASCII would be shown garbled (UTF-8) or broken over two lines.
bool IsPrintableAscii(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// A file name as it can be shown on a terminal: other bytes as \xNN.
std::string Escaped(std::string_view name) {
  std::string text;
  for (const char c : name) {
    if (c >= 0x20 && c <= 0x7E && c != '\\') {
      text += c;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(c));
      text += code;
    }
  }
  return text;
}

// The port list is read at start, on request and by presence tests that find their entry
// gone: each problem is told once per run, not at every listing.
void NoteOnce(const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> told;
  std::lock_guard lock(mutex);
  if (told.insert(text).second) std::fprintf(stderr, "orvel: %s\n", text.c_str());
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

// A desktop has 32 ttyS nodes, and a listing may come several times a second: the answers are
// kept for a few seconds (a UART's type changes only through setserial).
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

std::string LinkTarget(int directory, const char* fileName, const std::string& directoryPath) {
  std::string target(4096, '\0');
  const ssize_t length = ::readlinkat(directory, fileName, target.data(), target.size());
  if (length <= 0) return directoryPath + "/" + fileName;
  target.resize(static_cast<std::size_t>(length));
  return target.front() == '/' ? target : directoryPath + "/" + target;
}

// Whether the bytes can be a note: no NUL and no control character but blanks and line ends.
bool IsText(std::string_view bytes) {
  return std::none_of(bytes.begin(), bytes.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == 0 || (byte < 0x20 && std::strchr("\t\n\v\f\r", c) == nullptr) || byte == 0x7F;
  });
}

// A regular file in the port directory names a network port: its first line is the address.
// The file is taken relative to the directory's descriptor (or AT_FDCWD). Empty with the reason
// when the file names none.
std::string NetworkAddressIn(int directory, const char* fileName, std::string& reason) {
  const int fd = ::openat(directory, fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = std::string("cannot be read (") + std::strerror(errno) + ")";
    return {};
  }
  char text[kPortEntryReadSize];
  const ssize_t count = ::read(fd, text, sizeof text);
  const int readError = errno;
  ::close(fd);
  if (count < 0) {
    reason = std::string("cannot be read (") + std::strerror(readError) + ")";
    return {};
  }
  const std::string_view bytes(text, static_cast<std::size_t>(count));
  if (bytes.empty()) {
    reason = "an empty file, not a network address";
    return {};
  }
  if (!IsText(bytes)) {
    reason = "not text, so not a network address";
    return {};
  }
  const std::string_view line = bytes.substr(0, bytes.find_first_of("\r\n"));
  std::string address(TrimControls(line));
  if (IsNetworkAddress(address)) return address;
  reason = "its first line is not a network address";
  return {};
}

std::string NetworkAddressIn(int directory, const char* fileName) {
  std::string reason;
  return NetworkAddressIn(directory, fileName, reason);
}

// Why an entry that is neither a link, a device node nor a regular file is no port.
const char* KindOfOtherEntry(unsigned char type) {
  switch (type) {
    case DT_DIR:
      return "a folder, not a port";
    case DT_FIFO:
      return "a FIFO, not a device";
    case DT_SOCK:
      return "a socket, not a device";
    case DT_BLK:
      return "a block device, not a serial device";
    default:
      return "not a device";
  }
}

// One entry of the port directory that names a port.
struct TDirectoryEntry {
  std::string Name;
  std::string FileName;
  std::string Device;
};

void AddDirectoryPorts(const std::string& directoryPath, bool named,
                       std::vector<TListedPort>& ports) {
  DIR* directory = ::opendir(directoryPath.c_str());
  if (!directory) {
    // Without a port directory of their own, operators get the detected devices: normal.
    if (errno != ENOENT || named) {
      NoteOnce("port directory " + directoryPath + (named ? " (ORVEL_PORTS_DIR)" : "") + ": " +
               std::strerror(errno) + "; only the detected serial devices are listed");
    }
    return;
  }
  const int directoryFd = ::dirfd(directory);
  std::vector<TDirectoryEntry> found;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view fileName = entry->d_name;
    if (fileName == "." || fileName == "..") continue;
    const std::string entryPath = directoryPath + "/" + Escaped(fileName);
    unsigned char type = entry->d_type;
    struct stat status {};
    if (type == DT_UNKNOWN) {
      if (::fstatat(directoryFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = static_cast<unsigned char>(IFTODT(status.st_mode));
    }
    std::string device;
    if (type == DT_LNK) {
      // A link whose device is gone (an unplugged adapter, a closed virtual port) is not listed.
      if (::fstatat(directoryFd, entry->d_name, &status, 0) != 0) {
        if (errno != ENOENT) {
          NoteOnce("port directory entry " + entryPath + ": " + std::strerror(errno) +
                   "; not listed");
        }
        continue;
      }
      device = LinkTarget(directoryFd, entry->d_name, directoryPath);
    } else if (type == DT_CHR) {
      // A device node placed in the folder is its own device.
      device = directoryPath + "/" + std::string(fileName);
    } else if (type == DT_REG) {
      std::string reason;
      device = NetworkAddressIn(directoryFd, entry->d_name, reason);
      // A mistyped entry still explains itself, once a run.
      if (device.empty()) {
        NoteOnce("port directory entry " + entryPath + ": " + reason + "; not listed");
        continue;
      }
    } else {
      NoteOnce("port directory entry " + entryPath + ": " + KindOfOtherEntry(type) +
               "; not listed");
      continue;
    }
    if (device.empty()) continue;
    std::string name(TrimControls(fileName));
    if (name.empty()) continue;
    if (!IsPrintableAscii(name)) {
      NoteOnce("port directory entry " + directoryPath + "/" + Escaped(fileName) +
               ": a port name is printable ASCII; not listed");
      continue;
    }
    found.push_back({AsciiUpperCase(name), std::string(fileName), std::move(device)});
  }
  // Entries that differ only in letter case or blanks give one port; the one whose file name
  // sorts first stands for it, whatever order the directory gives.
  std::sort(found.begin(), found.end(), [](const TDirectoryEntry& a, const TDirectoryEntry& b) {
    const int names = a.Name.compare(b.Name);
    return names != 0 ? names < 0 : a.FileName < b.FileName;
  });
  for (std::size_t i = 0; i < found.size(); ++i) {
    const TDirectoryEntry& entry = found[i];
    if (i > 0 && found[i - 1].Name == entry.Name) {
      NoteOnce("port directory entry " + directoryPath + "/" + Escaped(entry.FileName) +
               ": same port name as " + found[i - 1].FileName + "; not listed");
      continue;
    }
    ports.push_back({entry.Name, entry.Device, directoryPath + "/" + entry.FileName});
  }
  ::closedir(directory);
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
  // The directory's entries come first, in name order; a link may give a device's COM name
  // to another device.
  const std::size_t directoryCount = ports.size();
  for (const auto& [com, deviceName] : found) {
    std::string name = "COM" + std::to_string(com);
    const auto directoryEnd = ports.begin() + static_cast<std::ptrdiff_t>(directoryCount);
    const bool linked = std::binary_search(
        ports.begin(), directoryEnd, TListedPort{name, {}, {}},
        [](const TListedPort& a, const TListedPort& b) { return a.Name < b.Name; });
    if (!linked) ports.push_back({std::move(name), "/dev/" + deviceName, {}});
  }
}

bool IsDetectedUart(std::string_view devicePath) {
  return devicePath.starts_with("/dev/ttyS");
}

}  // namespace

std::string DeviceNamed(std::string_view name) {
  if (!StartsWithAsciiNoCase(name, "COM")) return {};
  name.remove_prefix(3);
  int com = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), com);
  if (name.empty() || name[0] == '0' || error != std::errc() || end != name.data() + name.size())
    return {};
  for (const TDeviceFamily& family : DeviceFamilies) {
    if (com >= family.firstCom && com < family.firstCom + DevicesPerFamily)
      return "/dev/" + std::string(family.prefix) + std::to_string(com - family.firstCom);
  }
  return {};
}

std::vector<TListedPort> ListPresentPorts(const std::string& portsDirectory, bool named) {
  std::vector<TListedPort> ports;
  if (!portsDirectory.empty()) AddDirectoryPorts(portsDirectory, named, ports);
  AddDetectedPorts(ports);
  return ports;
}

bool IsStillListed(const TListedPort& port, const std::string& portsDirectory) {
  struct stat status {};
  if (port.LinkPath.empty()) {
    if (::stat(port.DevicePath.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    return !IsDetectedUart(port.DevicePath) || UartPresent(port.DevicePath.substr(5));
  }
  // The environment may name another port directory by now.
  if (std::string_view(port.LinkPath).substr(0, port.LinkPath.rfind('/')) != portsDirectory) {
    return false;
  }
  // The entry may have been replaced by another kind of entry.
  if (::lstat(port.LinkPath.c_str(), &status) != 0) return false;
  if (S_ISREG(status.st_mode)) return !NetworkAddressIn(AT_FDCWD, port.LinkPath.c_str()).empty();
  if (S_ISCHR(status.st_mode)) return true;
  if (!S_ISLNK(status.st_mode) || ::stat(port.LinkPath.c_str(), &status) != 0) return false;
  // A link that leads to another device by now: the whole list has the last word (the name is
  // still listed, and the entry kept for the presence test follows it).
  struct stat device {};
  return !S_ISCHR(status.st_mode) || (::stat(port.DevicePath.c_str(), &device) == 0 &&
                                      S_ISCHR(device.st_mode) && device.st_rdev == status.st_rdev);
}

bool PresenceRestsOnEntries(const TListedPort& port) {
  return !port.LinkPath.empty() || !IsDetectedUart(port.DevicePath);
}
