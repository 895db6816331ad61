// The modem's device node as a line of bytes: opened with retries, opened again after a hang-up,
// read and written raw. What the bytes mean is the exchange's (exchange.h).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// Every read asks for at most this less one byte, so a chunk is always a terminated text.
constexpr int AT_CHUNK_SIZE = 256;

// A line that never opened (or was lost for good) refuses every command; one closed after use
// still passes the standby switch's own check and is refused by the exchange instead.
enum class LineState { kNeverOpened, kOpen, kClosed };

struct ModemLine {
  LineState state = LineState::kNeverOpened;
  int fd = -1;
  bool lost = false;  // hung up or vanished; the next command opens it again
  int reopens = 0;    // times a lost line was opened again
};

// One read: the bytes as text with NUL bytes dropped (a modem's padding or line noise must never
// end a text early, hide a code or shift a value), and how many bytes the read gave in all.
struct Chunk {
  char text[AT_CHUNK_SIZE];
  size_t length;  // of text
  size_t read;    // bytes read, NULs included
};

int tryOpenDevice(const char* path, int flags, int tries);
// Opens the modem's device node (100 attempts a second apart); false when it never came, and the
// line then counts as never opened.
bool openLine(ModemLine& line);
// Closes an open line after use.
void closeLine(ModemLine& line);
// Closes a lost line and opens it again within the open's own bound.
bool reopenLine(ModemLine& line);
// Waits at most limitUs for the line to become readable: 1 readable, 0 limit passed, -1 failure
// (logged).
int waitReadable(ModemLine& line, int64_t limitUs);
// Whether a write would not block now: 1 yes, 0 no, -1 failure (logged).
int writableNow(ModemLine& line);
// One read into chunk: the bytes read, 0 at end of file, -1 on a failure (logged). End of file or
// an error only a dead device gives marks the line lost.
ssize_t readChunk(ModemLine& line, Chunk& chunk);
// One write call of cmd; a partial write is not continued. 0, or -1 (logged).
int writeCommand(ModemLine& line, const char* cmd);
