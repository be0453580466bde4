// Test support: a private system log. In a /dev of the process's own, LogReceiver binds
// /dev/log and hands back what syslog(3) sends.
// A LogReceiver may be read from one thread at a time.
#ifndef TESTS_SUPPORT_PRIVATELOG_H_
#define TESTS_SUPPORT_PRIVATELOG_H_

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace vo::lorvath::testing {

// Enters, while the process has one thread, a mount namespace whose /dev is a tmpfs holding
// the machine's null and urandom only. Returns "" or why it could not (callers skip).
inline std::string EnterPrivateDev() {
  const auto put = [](const char* path, const std::string& text) {
    return static_cast<bool>(std::ofstream(path) << text << std::flush);
  };
  const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
  bool ok = geteuid() == 0 ? unshare(CLONE_NEWNS) == 0
                           : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                                 put("/proc/self/setgroups", "deny") &&
                                 put("/proc/self/uid_map", "0 " + uid + " 1") &&
                                 put("/proc/self/gid_map", "0 " + gid + " 1");
  // Nothing done below may reach the machine's own mount table.
  if (!ok || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("entering a mount namespace: ") + std::strerror(errno);
  }
  // The machine's /dev stays reachable through `old` once the tmpfs covers it.
  const int old = open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
  ok = old >= 0 && mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755") == 0;
  for (const std::string name : {"null", "urandom"}) {
    const std::string from = "/proc/self/fd/" + std::to_string(old) + "/" + name;
    ok = ok && close(creat(("/dev/" + name).c_str(), 0666)) == 0 &&
         mount(from.c_str(), ("/dev/" + name).c_str(), nullptr, MS_BIND, nullptr) == 0;
  }
  if (old >= 0) close(old);
  return ok ? "" : std::string("replacing /dev: ") + std::strerror(errno);
}

// A datagram socket bound at /dev/log. Only meaningful inside EnterPrivateDev().
class LogReceiver {
 public:
  // Records as (priority, message): the number in "<PRI>", and the bytes after the
  // "Mmm dd hh:mm:ss TAG: " that syslog(3) puts first (the whole record without it).
  using Records = std::vector<std::pair<int, std::string>>;

  LogReceiver() {
    const sockaddr_un address{AF_UNIX, "/dev/log"};
    unlink(address.sun_path);
    const bool bound = bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!bound) error_ = std::strerror(errno);
    const timeval timeout{0, 50000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    closelog();  // the next syslog(3) connects to this socket
  }
  ~LogReceiver() { close(fd_); }

  const std::string& error() const { return error_; }  // "" when listening
  int fd() const { return fd_; }

  // Every record that arrives within 50 ms of the one before.
  Records receive() {
    Records records;
    std::string raw(1 << 17, '\0');
    for (ssize_t n; (n = recv(fd_, &raw[0], raw.size(), 0)) >= 0 || errno == EINTR;) {
      if (n < 0) continue;
      const std::string record = raw.substr(0, static_cast<size_t>(n));
      // The timestamp ("%h %e %T ") is 16 bytes wide; the tag after it ends at the first ": ".
      const size_t tagEnd = record.find(": ", record.find('>') + 17);
      records.emplace_back(std::atoi(record.c_str() + 1),
                           tagEnd == std::string::npos ? record : record.substr(tagEnd + 2));
    }
    return records;
  }

 private:
  const int fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  std::string error_;
};

}  // namespace vo::lorvath::testing

#endif  // TESTS_SUPPORT_PRIVATELOG_H_
