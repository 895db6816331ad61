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

}  // namespace logline
