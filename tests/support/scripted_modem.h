// A modem stand-in for unit tests. The daemon's end is one side of a SOCK_SEQPACKET pair, so
// every queued chunk is delivered by exactly one read: tests choose chunk boundaries precisely.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

class ScriptedModem {
 public:
  ScriptedModem() { socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds_); }
  ~ScriptedModem() {
    for (int fd : fds_) close(fd);
  }
  ScriptedModem(const ScriptedModem&) = delete;
  ScriptedModem& operator=(const ScriptedModem&) = delete;

  // The daemon's descriptor.
  int fd() const { return fds_[0]; }

  // Queues one chunk without blocking: one read on the daemon's side (an empty chunk reads as
  // 0 bytes). False when the daemon's queue is full.
  bool send(const std::string& chunk) {
    return ::send(fds_[1], chunk.data(), chunk.size(), MSG_DONTWAIT) ==
           static_cast<ssize_t>(chunk.size());
  }
  // The peer hangs up: every later read returns 0 (end of file).
  void hangUp() { shutdown(fds_[1], SHUT_WR); }

  // Every write the daemon made since the last call, one entry per write.
  std::vector<std::string> commands() {
    std::vector<std::string> out;
    char buf[4096];
    for (ssize_t n; (n = recv(fds_[1], buf, sizeof buf, MSG_DONTWAIT)) >= 0;)
      out.emplace_back(buf, n);
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
};
