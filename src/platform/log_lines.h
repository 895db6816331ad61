// The formats of the daemon's log lines that a reader of its log depends on, each written by one
// function of the daemon: the modem traffic, the property reads and writes, the card classes and
// combinations of the policy's table lookups, the RAT filter, the rild file comparison and the
// hot-plug messages. Tools that read the log take these definitions rather than a copy, so a
// reworded line changes writer and reader together. Constants only: no code of the daemon's here.
#pragma once

namespace logline {

// Modem traffic (logAtTraffic): the standby, the direction, the text with CR and LF shown as
// kCarriageReturn and kLineFeed, cut after a bounded length.
constexpr char kTraffic[] = "[%d]%s%.*s";
constexpr char kTrafficSent[] = ">> ";
constexpr char kTrafficReceived[] = "<< ";
constexpr char kCarriageReturn[] = "<CR>";
constexpr char kLineFeed[] = "<LF>";

// Property reads (getProp) and writes (setProp, and the one direct write of the profile):
// the name as the daemon knows it, then the value.
constexpr char kPropertyGot[] = "get property: [%s]: [%s]";
constexpr char kPropertyEmptyWithDefault[] = "property \"%s\" is empty, use default value \"%s\"";
constexpr char kPropertyEmpty[] = "property \"%s\" is empty";
constexpr char kPropertySet[] = "set property: [%s]: [%s]";
constexpr char kPropertySetFailed[] = "set property: [%s]: [%s] failed";

// The policy's table lookups: each card's class (the index function, the card, the class), a
// card no class of the target takes, and the combination found.
constexpr char kCardClass[] = "%s() of card %d is %d";
constexpr char kCapabilityIndexFunction[] = "getIndexOf_STANDBY_RAT_CAPABILITY";
constexpr char kActualIndexFunction[] = "getIndexOf_STANDBY_ACTUAL_RAT";
constexpr char kCardNotCovered[] =
    "can not get index of %s by m_cardStatus(%d) & m_cardType(%d) & m_cardLocale(%d)";
constexpr char kCapabilityCombination[] = "combination of (U)SIM: %s";
constexpr char kActualCombination[] = "actual combination of (U)SIM: %s";

// The project RAT list filtered by the modem's capability.
constexpr char kModemRat[] = "using Modem RAT: %d";
constexpr char kRatListBefore[] = "before update: %s";
constexpr char kRatListAfter[] = "after update: %s";

// A rild file's DSTMEX against the one decided, and a hot-plug message as received.
constexpr char kOldDstmex[] = "standby %d, oldDstmex is %s, this DSTMEX is %s restartRIL = %d";
constexpr char kHotplugMessage[] = "sim_hot_plug_monitor_loop msg=%s";

// A start (the boot marker's stamp, then the build's) and the uevent socket that makes the daemon
// resident: lines whose arguments differ between two runs of the same inputs.
constexpr char kBootUp[] = "Boot up: %s %s";
constexpr char kBuildTime[] = "Build time: %s %s";
constexpr char kResident[] = "uevent_open_socket device_fd: %d";

// The modem's node: found, or an attempt that failed (attempt, attempts, path, errno, text).
constexpr char kDeviceReady[] = "device \"%s\" is ready.";
constexpr char kDeviceOpenFailed[] = "(%d/%d)open device \"%s\" fail: %d - %s";
constexpr char kDeviceAbsent[] = "(%d/%d)access device \"%s\" fail: %d - %s";
// The line hung up under the daemon, and opened again.
constexpr char kLineLost[] = "line of \"%s\" lost, opening it again";
// A read that waited out its bound: the monotonic clock (s:ns) at its start and its end.
constexpr char kReadTimeOut[] = "read time out: %ld:%ld -> %ld:%ld";

// The card history: a file that would not open, a card found in it.
constexpr char kOpenFailed[] = "open \"%s\" fail: %d - %s";
constexpr char kSavedCard[] = "Found a saved (U)SIM card info";
// Both standbys' IMEIs as checked.
constexpr char kImeis[] = "IMEI[0] = %s, IMEI[1] = %s";

// The actual-RAT decision's reasons and the NVRAM swap's verdict.
constexpr char kActualRatSingleCard[] = "[change actual RAT]single (U)SIM dual standby";
constexpr char kActualRatManual[] =
    "[change actual RAT]Replace actual RAT to %d for standby %d by the manual setting, and "
    "set other standby to %d.";
constexpr char kActualRatDstmex[] =
    "[change actual RAT]standbyDSTMEX[0] = %s, standbyDSTMEX[1] = %s";
constexpr char kSwitchNvram[] = "is switch nvram(%s)";

// The rild instances: the round over the standbys, and each request to init (the service).
constexpr char kRildRound[] = "startRildService g_isSwitchModem is %d, hotplug_sim: %d";
constexpr char kRildRequest[] = "start %s";
// A hot-plug restarts the slot's rild whatever its file says (the restart flag, the slot).
constexpr char kRildHotplugRestart[] = "startRildService set restartRIL as %d for hotplug_sim %d";

}  // namespace logline
