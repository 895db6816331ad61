// One process of a kind per host root: an exclusive flock on a directory the root already holds
// (the root itself for the daemon, its dev/ for the modem simulator), so that the lock adds no
// file to the root and ends with the process that holds it.
#pragma once

// Takes the lock on `directory` for the rest of the process; true when taken. Otherwise false,
// and *holder is the pid of the process that holds it (0: held, but by whom cannot be known; -1:
// the directory cannot be locked, errno tells why).
bool hostLockInstance(const char* directory, int* holder);
