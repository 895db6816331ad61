// AT command channel to the modem, the modem-level commands and the NVRAM swap.
#pragma once

#include <stdint.h>

// Standbys are the modem's protocol stacks; each is served by one rild instance.
constexpr int MAX_STANDBY = 5;

// Every read from the channel goes into a zeroed buffer of this size and asks for one byte less,
// so a chunk is always a terminated string.
constexpr int AT_CHUNK_SIZE = 256;

// Bound on one whole exchange of sendAtSync: a modem answers these local commands in well under a
// second, so a modem silent this long is treated as gone instead of holding the daemon.
constexpr int AT_EXCHANGE_TIMEOUT_S = 10;

// ---- Channel ----------------------------------------------------------------------------------

extern int modemFd;           // descriptor of the open channel; 0 or less: not open
extern int g_currentStandby;  // standby the channel was last switched to; -1: none yet

int tryOpenDevice(const char* path, int flags, int tries);
int sendAtSync(int fd, const char* cmd, char* resp, int size);
bool isFinalReponse(const char* chunk);
int sendAtSyncOk(int fd, const char* cmd, int* isOk, char* out, int outLen);
int writeAtCommand(int fd, const char* cmd);
int readAtWithTimeout(int fd, char* chunk, int seconds);
void logAtTraffic(const char* prefix, const char* text, int standby);
int getCurrentStandby();
// Forgets that an exchange timed out (whose late answer the next command would first read off);
// a late answer does not outlive the channel, so closing it calls this.
void forgetTimedOutExchange();

// ---- Modem commands -----------------------------------------------------------------------------

// The modem's answer to "AT^DMCC?": three leading numbers and one RAT mask per standby.
struct ModemCapability {
  int32_t dmccValue1;
  int32_t modemStandbyCount;
  int32_t dmccValue3;
  int32_t standbyRatCap[MAX_STANDBY];
};

// Until the modem answers, every standby is assumed to support GSM only.
constexpr ModemCapability kInitialModemCapability = {0, 0, 0, {1, 1, 1, 1, 1}};

extern ModemCapability g_modemCapability;

int openModemChannel();
int queryModemCapability(int force);
int switchToStandby(int fd, int standby);
int closeModemChannel(int keepStandby);

// ---- Modem reset and NVRAM swap -------------------------------------------------------------

extern int g_isSwitchModem;  // 1 when the last check swapped NVRAM and reset the modem

int switchModemNvram(int force);
