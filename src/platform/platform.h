// Platform layer: the only place that knows where the daemon runs.
//
// The backend (host, android, or the in-memory one of the unit tests, fuzz targets and radioplan)
// is chosen at link time; it implements the platform* functions declared first. getProp/setProp
// and the log are built on top of them and shared by every backend.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/select.h>
#include <time.h>

#include "platform/properties.h"

// ---- Backend interface --------------------------------------------------------------------

// Longest property value plus its terminating NUL; every getProp buffer has this size.
constexpr int PROPERTY_VALUE_SIZE = 92;

// Android log priorities.
enum LogPriority { LOG_PRIO_DEBUG = 3, LOG_PRIO_INFO = 4, LOG_PRIO_WARN = 5, LOG_PRIO_ERROR = 6 };

constexpr const char kLogTag[] = "modemprep";

// Fixed paths as the phone sees them; platformPath() maps them to where they really are. The
// files under the data directory (kDataDirectory) move with it in the vendor integration.
constexpr const char kModemDevicePath[] = "/dev/TTYEMS40";
constexpr const char kFactoryFilePath[] = "/amt/msms_config.txt";
constexpr const char kCardHistoryPath[] = "/data/vantorel/radio/radio.cfg";
constexpr const char kRildConfigBasePath[] = "/data/vantorel/radio/rild.cfg";
// The values the modem reset properties go back to, kept while an NVRAM swap has them changed.
constexpr const char kRestoreRecordPath[] = "/data/vantorel/radio/modem_reset.restore";
// The host build's stand-in for the kernel's uevent socket.
constexpr const char kUeventSocketPath[] = "/dev/uevent.sock";
static_assert(propertycheck::startsWith(kCardHistoryPath, kDataDirectory.path) &&
                  propertycheck::startsWith(kRildConfigBasePath, kDataDirectory.path) &&
                  propertycheck::startsWith(kRestoreRecordPath, kDataDirectory.path),
              "the daemon's files live in its data directory");

// Called first by main with the command line. True when the daemon is to run; otherwise it is to
// end at once with *exitStatus (the host build answers --help and refuses a missing root; a phone
// build takes no command line and always runs).
bool platformStart(int argc, char** argv, int* exitStatus);
// Copies the property's value (at most 91 characters, NUL-terminated) into value, which has
// PROPERTY_VALUE_SIZE bytes; returns its length, 0 when unset or empty.
int platformPropertyGet(const char* name, char* value);
// Asks the property service to set a property; 0 when accepted, anything else when refused.
int platformPropertySet(const char* name, const char* value);
// Appends one message to the radio log under kLogTag.
void platformLogWrite(int priority, const char* message);
// Kernel uevent socket: descriptor or below 0; receive returns the length, below 1 on error with
// errno set (0 for an empty message, EIO for one refused as not the kernel's, ENOBUFS when the
// socket's buffer overflowed and messages were dropped).
int platformUeventOpen(int receiveBufferSize, bool passCredentials);
int platformUeventReceive(int fd, char* buffer, size_t length);
void platformUeventClose(int fd);
// Fixed waits and time-outs; the in-memory backend runs them on a virtual clock. The wall clock is
// what log lines show; bounds are measured on the monotonic clock, which no clock step moves.
void platformSleepUs(uint64_t microseconds);
void platformClockRealtime(struct timespec* now);
void platformClockMonotonic(struct timespec* now);
int platformSelect(int nfds, fd_set* readSet, fd_set* writeSet, struct timeval* limit);
// Writes the real location of a fixed path into out; returns 0, or -1 when it does not fit.
int platformPath(const char* path, char* out, size_t size);

// ---- Properties and log --------------------------------------------------------------------

// Reads a property into value (PROPERTY_VALUE_SIZE bytes); unset or empty gives defaultValue
// (0), or an empty value (-1) when there is none. A numbered property ("%d") takes the number.
int getProp(const Property& property, char* value, const char* defaultValue);
int getProp(const Property& property, int number, char* value, const char* defaultValue);
// Asks for a write up to maxTries times, a second apart; 0 once accepted, -1 when every try was
// refused.
int setProp(const Property& property, const char* value, int maxTries);

// The line of an accepted write, for the one write made straight to the platform as well.
void logPropertySet(const char* name, const char* value);

// The property's name with its number in place of "%d" (unchanged without one); false when it
// does not fit.
bool formatName(const char* pattern, int number, char* out, size_t size);

void logPrint(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

#define LOGD(...) logPrint(LOG_PRIO_DEBUG, __VA_ARGS__)
#define LOGI(...) logPrint(LOG_PRIO_INFO, __VA_ARGS__)
#define LOGW(...) logPrint(LOG_PRIO_WARN, __VA_ARGS__)
#define LOGE(...) logPrint(LOG_PRIO_ERROR, __VA_ARGS__)
