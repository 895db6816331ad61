#include "modemsim/uevent.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace modemsim {

std::string ueventPayload(const std::vector<std::string>& fields) {
  std::string out;
  for (const std::string& f : fields) {
    out += f;
    out += '\0';
  }
  return out;
}

std::string simUevent(int slot, bool inserted) {
  const std::string n = std::to_string(slot);
  return ueventPayload(
      {"change@/devices/virtual/sim/sim" + n, "USIM" + n, inserted ? "IN" : "OUT"});
}

std::string ueventSocketPath(const std::string& root) { return root + kUeventSocketPath; }

bool unixAddress(const std::string& path, sockaddr_un* addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

int sendRetrying(int fd, const sockaddr_un& to, const std::string& payload, int retryMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(retryMs);
  for (;;) {
    const ssize_t n = sendto(fd, payload.data(), payload.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (n == static_cast<ssize_t>(payload.size())) return 0;
    const int err = n < 0 ? errno : EMSGSIZE;
    // The receiver may not be bound yet (no file, or a stale file with nobody behind it).
    const bool transient = err == ENOENT || err == ECONNREFUSED || err == EINTR;
    if (!transient || std::chrono::steady_clock::now() >= deadline) return err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool sendDatagram(const std::string& socketPath, const std::string& payload, int retryMs,
                  std::string* error) {
  sockaddr_un addr;
  if (!unixAddress(socketPath, &addr)) {
    if (error) *error = "socket path too long: " + socketPath;
    return false;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::string("socket: ") + strerror(errno);
    return false;
  }
  const int err = sendRetrying(fd, addr, payload, retryMs);
  close(fd);
  if (err != 0 && error) {
    *error = "send to " + socketPath + ": " + strerror(err);
    // Nobody bound to the socket: no daemon runs on that root.
    if (err == ENOENT || err == ECONNREFUSED) *error += " (is a daemon running there?)";
  }
  return err == 0;
}

}  // namespace modemsim
