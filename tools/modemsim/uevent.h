// Injection of uevents into the host daemon's datagram socket at <root>/dev/uevent.sock.
#pragma once

#include <sys/un.h>

#include <string>
#include <vector>

namespace modemsim {

// The fields joined and terminated by NUL bytes, as the kernel formats a uevent.
std::string ueventPayload(const std::vector<std::string>& fields);

// The hot-plug event of SIM slot `slot` (0-based): change@.../sim<n> USIM<n> IN|OUT.
std::string simUevent(int slot, bool inserted);

std::string ueventSocketPath(const std::string& root);

// The address of the Unix socket at `path`; false when the path is too long for one.
bool unixAddress(const std::string& path, sockaddr_un* addr);

// Sends one datagram from `fd` to `to`. While the socket file is absent or nobody is bound to it,
// retries every 50 ms for up to `retryMs`. 0 once sent, else the errno of the failure.
int sendRetrying(int fd, const sockaddr_un& to, const std::string& payload, int retryMs);

// Sends one datagram to the Unix datagram socket at `socketPath`. While the socket file is
// absent or nobody is bound to it, retries every 50 ms for up to `retryMs`.
bool sendDatagram(const std::string& socketPath, const std::string& payload, int retryMs,
                  std::string* error);

inline bool sendUevent(const std::string& root, const std::string& payload,
                       std::string* error = nullptr, int retryMs = 5000) {
  return sendDatagram(ueventSocketPath(root), payload, retryMs, error);
}

}  // namespace modemsim
