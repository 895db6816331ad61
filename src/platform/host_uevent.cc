// Host backend, uevents: a Unix datagram socket bound to <root>/dev/uevent.sock stands for the
// kernel's uevent socket; a sender injects one event per datagram.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/host_root.h"
#include "platform/platform.h"

namespace {

char g_ueventPath[sizeof(sockaddr_un::sun_path)];

}  // namespace

int platformUeventOpen(int receiveBufferSize, bool passCredentials) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (!hostPath("/dev/uevent.sock", g_ueventPath, sizeof g_ueventPath)) return -1;
  copyText(address.sun_path, g_ueventPath);
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = passCredentials ? 1 : 0;
  unlink(g_ueventPath);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  return fd;
}

int platformUeventReceive(int fd, char* buffer, size_t length) {
  ssize_t n;
  do {
    n = recv(fd, buffer, length, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}

void platformUeventClose(int fd) {
  close(fd);
  unlink(g_ueventPath);
}
