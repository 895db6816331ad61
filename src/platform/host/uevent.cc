// Host backend, uevents: a Unix datagram socket bound to <root>/dev/uevent.sock stands for the
// kernel's uevent socket; a sender injects one event per datagram. As the platform refuses a
// message the kernel did not send, a datagram from anyone but root or the daemon's own user is
// refused, and only they may open the socket file.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/host/root.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr mode_t kSocketMode = 0600;
char g_ueventPath[sizeof(sockaddr_un::sun_path)];

// Whether the credentials the kernel attached name root or this process's user.
bool sentByTrustedUser(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_CREDENTIALS) continue;
    ucred credentials;
    memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
    return credentials.uid == 0 || credentials.uid == getuid();
  }
  return false;
}

}  // namespace

int platformUeventOpen(int receiveBufferSize, bool passCredentials) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (!hostPath(kUeventSocketPath, g_ueventPath, sizeof g_ueventPath)) return -1;
  copyText(address.sun_path, g_ueventPath);
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = passCredentials ? 1 : 0;
  // Set before the socket has a name, so that no datagram can arrive without the credentials its
  // sender is judged by.
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  unlink(g_ueventPath);
  // Created without access for anyone else whatever the umask: no moment when another user could
  // connect to it.
  mode_t umaskBefore = umask(0777 & ~kSocketMode);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  umask(umaskBefore);
  if (bound != 0 || chmod(g_ueventPath, kSocketMode) != 0) {
    int error = errno;
    close(fd);
    // Something the stale-socket removal leaves (a directory, say) is named by errno, which the
    // resident loop's error line shows.
    struct stat there;
    if (lstat(g_ueventPath, &there) == 0 && !S_ISSOCK(there.st_mode)) {
      error = S_ISDIR(there.st_mode) ? EISDIR : ENOTSOCK;
    }
    errno = error;
    return -1;
  }
  return fd;
}

int platformUeventReceive(int fd, char* buffer, size_t length) {
  iovec data = {buffer, length};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  msghdr message = {};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = recvmsg(fd, &message, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  if (!sentByTrustedUser(message)) {
    memset(buffer, 0, length);
    errno = EIO;
    return -1;
  }
  return static_cast<int>(n);
}

void platformUeventClose(int fd) {
  close(fd);
  unlink(g_ueventPath);
}
