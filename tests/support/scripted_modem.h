// A modem stand-in for unit tests. The daemon's end is one side of a SOCK_SEQPACKET pair, so
// every queued chunk is delivered by exactly one read: tests choose chunk boundaries precisely.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

class ScriptedModem {
 public:
  ScriptedModem() { socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds_); }
  ~ScriptedModem() {
    if (fds_[0] >= 0) close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
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
  void answer(std::initializer_list<std::string> chunks) {
    for (const std::string& c : chunks) send(c);
  }
  void answer(const std::string& chunk) { answer({chunk}); }
  // "\r\n<line>\r\n\r\nOK\r\n" in one chunk.
  void answerLineOk(const std::string& line) { answer("\r\n" + line + "\r\n\r\nOK\r\n"); }
  void ok() { answer("\r\nOK\r\n"); }
  void error() { answer("\r\nERROR\r\n"); }

  // The peer hangs up: every later read returns 0 (end of file).
  void hangUp() { shutdown(fds_[1], SHUT_WR); }

  // Every write the daemon made since the last call, one entry per write.
  std::vector<std::string> commands() {
    std::vector<std::string> out;
    char buf[4096];
    for (;;) {
      ssize_t n = recv(fds_[1], buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0) break;
      out.emplace_back(buf, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
};
