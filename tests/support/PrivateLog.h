// Test support: a private system log. EnterPrivateDev() moves the calling process into
// a mount namespace with a fresh /dev, where it (and its later children) own /dev/log;
// LogReceiver binds a datagram socket there and hands back what syslog(3) sends.
// EnterPrivateDev must run while the process has one thread (later threads inherit its
// namespace). A LogReceiver may be read from one thread at a time.
#ifndef TESTS_SUPPORT_PRIVATELOG_H_
#define TESTS_SUPPORT_PRIVATELOG_H_

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace vo::lorvath::testing {
namespace detail {
inline bool WriteFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (fd >= 0) close(fd);
  return ok;
}
}  // namespace detail

// Enters a private mount namespace whose /dev is a tmpfs holding the real null, zero,
// urandom, random, tty, pts and shm only. Returns "" or why it could not (callers skip).
inline std::string EnterPrivateDev() {
  const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
  bool ok = geteuid() == 0 ? unshare(CLONE_NEWNS) == 0
                           : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                                 detail::WriteFile("/proc/self/setgroups", "deny") &&
                                 detail::WriteFile("/proc/self/uid_map", "0 " + uid + " 1") &&
                                 detail::WriteFile("/proc/self/gid_map", "0 " + gid + " 1");
  // Nothing done below may reach the machine's own mount table.
  if (!ok || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("entering a mount namespace: ") + std::strerror(errno);
  }
  // The machine's /dev stays reachable through `old` once the tmpfs covers it.
  const int old = open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
  ok = old >= 0 && mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755") == 0;
  for (const char* name : {"null", "zero", "urandom", "random", "tty", "pts", "shm"}) {
    const std::string from = "/proc/self/fd/" + std::to_string(old) + "/" + name;
    const std::string to = std::string("/dev/") + name;
    struct stat st {};
    if (!ok || stat(from.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      mkdir(to.c_str(), 0755);
    else
      close(open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    ok = mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
  }
  const std::string problem = ok ? "" : std::string("replacing /dev: ") + std::strerror(errno);
  if (ok) symlink("/proc/self/fd", "/dev/fd");
  if (old >= 0) close(old);
  closelog();  // a connection syslog(3) made before leads to the old /dev/log
  return problem;
}

// A datagram socket bound at /dev/log. Only meaningful inside EnterPrivateDev().
class LogReceiver {
 public:
  // Records as (priority, message): the number in "<PRI>", and the bytes after the
  // "Mmm dd hh:mm:ss TAG: " that syslog(3) puts first (the whole record without it).
  using Records = std::vector<std::pair<int, std::string>>;

  LogReceiver() : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_un address{AF_UNIX, "/dev/log"};
    unlink(address.sun_path);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      error_ = std::string("binding /dev/log: ") + std::strerror(errno);
      return;
    }
    const int bufferSize = 1 << 22;
    const timeval timeout{0, 50000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    closelog();  // the next syslog(3) connects to this socket
  }
  ~LogReceiver() {
    if (fd_ >= 0) close(fd_);
    if (error_.empty()) unlink("/dev/log");
    closelog();
  }
  LogReceiver(const LogReceiver&) = delete;
  LogReceiver& operator=(const LogReceiver&) = delete;

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
  int fd_;
  std::string error_;
};

}  // namespace vo::lorvath::testing

#endif  // TESTS_SUPPORT_PRIVATELOG_H_
