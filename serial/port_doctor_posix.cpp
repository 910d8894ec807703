#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "serial/com_mapping_posix.h"
#include "serial/port_doctor.h"
#include "serial/port_holders_posix.h"
#include "serial/port_watch.h"
#include "serial/serial_backend.h"

namespace {

constexpr long kLineRate = 230400;        // the rate the terminal port runs at
constexpr long kUartClockPerBaud = 16;    // an 8250's clock ticks per bit at its base rate
constexpr std::size_t kHoldersShown = 4;  // processes named per held port
constexpr unsigned kModeBits = 07777;     // a file's permission bits, as ls shows them
constexpr const char* kRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The real path of `path`, or "" when it has none.
std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) != nullptr ? std::string(real) : std::string();
}

// The USB device a tty hangs off ("vvvv:pppp"), found up the tty's sysfs device path; "".
std::string UsbIdOf(const std::string& node) {
  std::string dir = RealPath("/sys/class/tty/" + node + "/device");
  while (dir.size() > 1) {
    const std::string vendor = ReadFirstLine(dir + "/idVendor");
    const std::string product = ReadFirstLine(dir + "/idProduct");
    if (!vendor.empty() && !product.empty()) {
      std::string id = vendor;
      id += ':';
      id += product;
      return id;
    }
    dir = dir.substr(0, dir.rfind('/'));
  }
  return {};
}

// Whether a process of this name runs (as /proc shows the processes this user may see).
bool ProcessRuns(const std::string& name) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) {
    return false;
  }
  bool runs = false;
  while (const dirent* entry = runs ? nullptr : ::readdir(proc)) {
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') {
      runs = ReadFirstLine(std::string("/proc/") + entry->d_name + "/comm") == name;
    }
  }
  ::closedir(proc);
  return runs;
}

// Whether udev marked the device for ModemManager to leave alone.
bool ModemManagerIgnores(dev_t device) {
  std::ifstream data("/run/udev/data/c" + std::to_string(major(device)) + ":" +
                     std::to_string(minor(device)));
  std::string line;
  while (std::getline(data, line)) {
    if (line == "E:ID_MM_DEVICE_IGNORE=1") {
      return true;
    }
  }
  return false;
}

// "403/6001/": a USB ID as udev's PRODUCT spells it, hex without leading zeros.
std::string ProductKey(const std::string& usbId) {
  const auto part = [](const std::string& hex) {
    const std::size_t first = hex.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : hex.substr(first);
  };
  const std::size_t colon = usbId.find(':');
  return part(usbId.substr(0, colon)) + "/" + part(usbId.substr(colon + 1)) + "/";
}

// The brltty rule file that claims this USB ID; "" when none does.
std::string BrlttyRuleFor(const std::string& usbId) {
  const std::string key = ProductKey(usbId);
  for (const char* folder : kRuleFolders) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
      continue;
    }
    std::string found;
    while (const dirent* entry = found.empty() ? ::readdir(dir) : nullptr) {
      const std::string name = entry->d_name;
      if (name.find("brltty") == std::string::npos) {
        continue;
      }
      const std::string path = std::string(folder) + "/" + name;
      std::ifstream rules(path);
      std::string line;
      while (found.empty() && std::getline(rules, line)) {
        const std::size_t at = line.find("ENV{PRODUCT}==\"" + key);
        if (at != std::string::npos && line.find_first_not_of(" \t") != line.find('#')) {
          found = path;
        }
      }
    }
    ::closedir(dir);
    if (!found.empty()) {
      return found;
    }
  }
  return {};
}

std::string GroupName(gid_t gid) {
  const group* g = ::getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

// The facts of one port and what stands in its way, into `report`.
void ExaminePort(const std::string& port, bool modemManager, DoctorReport& report) {
  const std::string path = PortDevice(port);
  const std::string real = RealPath(path);
  const std::string node = Basename(real);
  PortFacts facts;
  facts.port = port;
  facts.device = real != path && !real.empty() ? path + " -> " + real : path;
  facts.driver = real.rfind("/dev/pts/", 0) == 0
                     ? "pty"
                     : Basename(RealPath("/sys/class/tty/" + node + "/device/driver"));
  facts.usbId = UsbIdOf(node);
  report.ports.push_back(facts);
  const auto find = [&](const char* kind, std::string text, std::string fix) {
    report.findings.push_back({port, kind, std::move(text), std::move(fix)});
  };

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return;
  }
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    const passwd* me = ::getpwuid(::getuid());
    const std::string group = GroupName(st.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & kModeBits));
    find("no-access",
         "you may not open " + real + " (group " + group + ", mode " + mode +
             "): only root and the group's members may",
         "sudo adduser " + std::string(me != nullptr ? me->pw_name : "$USER") + " " + group +
             ", then log out and in again");
  }
  for (const pid_t pid : DeviceHolders(st.st_rdev, kHoldersShown)) {
    const std::string number = std::to_string(pid);
    const std::string name = ReadFirstLine("/proc/" + number + "/comm");
    std::string text = real;
    text.append(" is held by ").append(name).append(" (pid ").append(number).append(")");
    std::string fix = "close ";
    fix.append(name).append(", or end it: kill ").append(number);
    find("held", std::move(text), std::move(fix));
  }
  if (modemManager && !facts.usbId.empty() && !ModemManagerIgnores(st.st_rdev)) {
    const std::string vendor = facts.usbId.substr(0, facts.usbId.find(':'));
    const std::string product = facts.usbId.substr(facts.usbId.find(':') + 1);
    find("modem-manager",
         "ModemManager runs and probes USB devices that answer AT commands, as this terminal "
         "(USB " +
             facts.usbId + ") does, which disturbs its download",
         "echo 'ATTRS{idVendor}==\"" + vendor + "\", ATTRS{idProduct}==\"" + product +
             "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee /etc/udev/rules.d/"
             "99-corvanel-terminal.rules && sudo udevadm control --reload && sudo udevadm "
             "trigger");
  }
  if (!facts.usbId.empty()) {
    const std::string rule = BrlttyRuleFor(facts.usbId);
    if (!rule.empty()) {
      find("brltty",
           "brltty's udev rules (" + rule + ") take USB " + facts.usbId +
               " for a braille display and may take the adapter's port away",
           "sudo apt remove brltty (unless a braille display is used), or comment out the "
           "line for " +
               ProductKey(facts.usbId) + " in " + rule);
    }
  }
  if (node.rfind("ttyS", 0) == 0) {
    const long clock = std::atol(ReadFirstLine("/sys/class/tty/" + node + "/uartclk").c_str());
    const long baseRate = clock / kUartClockPerBaud;
    if (clock > 0 && baseRate < kLineRate) {
      find("uart-speed",
           "the UART of " + real + " has a base rate of " + std::to_string(baseRate) +
               " baud: it cannot run at 230400",
           "sudo setserial " + real +
               " baud_base 230400 (where the UART's clock allows it; "
               "otherwise use a USB serial adapter)");
    }
  }
}

}  // namespace

DoctorReport ExaminePorts(const std::vector<std::string>& names) {
  DoctorReport report;
  const bool modemManager = ProcessRuns("ModemManager");
  for (const auto& entry : PresentPorts(names)) {
    ExaminePort(entry.first, modemManager, report);
  }
  return report;
}
