// The host property store (<root>/properties), shared by the host backend and tools/propctl so
// that both lock, refuse and replace the file the same way.
#pragma once

#include <stddef.h>

namespace hoststore {

// A name=value line must fit the store's line buffer whatever the value.
constexpr size_t kMaxNameLength = 256;

// Why a write was refused; kAccepted when it was not.
enum class Refusal {
  kAccepted,
  kEmptyName,
  kBadName,         // holds '=' or a newline
  kNameTooLong,     // over kMaxNameLength bytes
  kBadValue,        // holds a newline
  kValueTooLong,    // over 91 bytes
  kReadOnly,        // an "ro." name already stored
  kListed,          // named in <root>/properties.refuse
  kUnknownControl,  // a "ctl." name other than start, restart and stop, or no service named
  kNoRoot,          // the root or its files cannot be used
  kLockBusy,        // <root>/properties.lock not had within 1 s
};

// One line of text for a refusal, e.g. "value longer than 91 bytes".
const char* refusalText(Refusal refusal);

// The stored value (bounded to size) of name under root; false when it is not stored.
bool get(const char* root, const char* name, char* value, size_t size);
// What a store line is, for tools that list it: its bytes (a NUL byte among them is kept as it
// is), at most the store's line buffer of them, and the length of its name, or kNotAProperty for
// a line without '=', which the store ignores and drops at its next write.
constexpr size_t kNotAProperty = static_cast<size_t>(-1);
struct Line {
  int number;
  const char* text;
  size_t length;      // bytes in text
  size_t fullLength;  // bytes of the whole line: more than length when it did not fit
  size_t nameLength;  // may exceed length for a name longer than the buffer
};
typedef void (*LineVisitor)(void* context, const Line& line);
// Visits every line of the store under root in order; false when the store exists but cannot be
// read (errno tells why). A missing store is an empty one.
bool forEachLine(const char* root, LineVisitor visit, void* context);
// Writes name=value (or runs a "ctl." command) under root, as the property service would.
Refusal set(const char* root, const char* name, const char* value);
// What a reboot keeps: the "persist." lines; init.log is removed. False when the store could
// not be rewritten.
bool reboot(const char* root);

}  // namespace hoststore
