// Every system property the daemon reads or writes, every service it asks init for and its data
// directory, each declared once: the daemon's own name, what kind of property it is, what the
// daemon does with it, and the name the vendor integration gives it. getProp and setProp take
// these declarations, and the Android backend's vendor map and the Android checks iterate them.
// Defaults and write attempts stay where each read or write is made.
#pragma once

#include <stddef.h>

enum class PropertyKind {
  kRuntime,       // lost at reboot ("sys.", "gsm.")
  kPersistent,    // kept across reboots ("persist.")
  kReadOnly,      // written once a boot ("ro.")
  kControl,       // a request to init; the value names a service
  kServiceState,  // init's state of a service ("init.svc.")
};

// What the daemon does with a property.
enum PropertyUse : unsigned { kReads = 1, kWrites = 2, kReadsAndWrites = kReads | kWrites };

// A name ending in "%d" stands for that name followed by a standby number.
struct Property {
  const char* name;
  PropertyKind kind;
  unsigned use;
  const char* vendorName;
};

struct Service {
  const char* name;
  const char* vendorName;
};

namespace prop {

using K = PropertyKind;

// Start-up: boot marker and master-card switch flag.
constexpr Property kBootCompleted = {"sys.vx.boot.completed", K::kRuntime, kReadsAndWrites,
                                     "vendor.vx.boot.completed"};
constexpr Property kMasterCardSwitch = {"gsm.operator.mcard_switch", K::kRuntime, kReadsAndWrites,
                                        "vendor.gsm.operator.mcard_switch"};
// Project profile, each setting published again as a read-only copy.
constexpr Property kMsms = {"persist.sys.vx.msms", K::kPersistent, kReadsAndWrites,
                            "persist.vendor.vx.msms"};
constexpr Property kPublishedMsms = {"ro.vx.msms", K::kReadOnly, kWrites, "ro.vendor.vx.msms"};
constexpr Property kMultiSimConfig = {"persist.radio.multisim.config", K::kPersistent, kWrites,
                                      "persist.vendor.radio.multisim.config"};
constexpr Property kProjectType = {"persist.sys.vx.proj.type", K::kPersistent, kReads,
                                   "persist.vendor.vx.proj.type"};
constexpr Property kPublishedProjectType = {"ro.sys.vx.proj.type", K::kReadOnly, kWrites,
                                            "ro.vendor.vx.proj.type"};
constexpr Property kProjectTarget = {"persist.sys.vx.proj.target", K::kPersistent, kReads,
                                     "persist.vendor.vx.proj.target"};
constexpr Property kPublishedProjectTarget = {"ro.sys.vx.proj.target", K::kReadOnly, kWrites,
                                              "ro.vendor.vx.proj.target"};
constexpr Property kProjectRat = {"persist.sys.vx.proj.rat", K::kPersistent, kReads,
                                  "persist.vendor.vx.proj.rat"};
constexpr Property kPublishedRatList = {"ro.sys.vx.proj.rat", K::kReadOnly, kWrites,
                                        "ro.vendor.vx.proj.rat"};
constexpr Property kProjectRat1 = {"persist.sys.vx.proj.rat1", K::kPersistent, kReads,
                                   "persist.vendor.vx.proj.rat1"};
constexpr Property kPublishedRat1 = {"ro.sys.vx.proj.rat1", K::kReadOnly, kWrites,
                                     "ro.vendor.vx.proj.rat1"};
constexpr Property kDynamicRat = {"persist.sys.vx.dynamic.rat", K::kPersistent, kReads,
                                  "persist.vendor.vx.dynamic.rat"};
constexpr Property kPublishedDynamicRat = {"ro.vx.dynamic.rat", K::kReadOnly, kWrites,
                                           "ro.vendor.vx.dynamic.rat"};
constexpr Property kDualToSingle = {"persist.sys.vx.dual2single", K::kPersistent, kReads,
                                    "persist.vendor.vx.dual2single"};
constexpr Property kPublishedDualToSingle = {"ro.vx.dual2single", K::kReadOnly, kWrites,
                                             "ro.vendor.vx.dual2single"};
// Manual RAT setting and operator PLMN lists.
constexpr Property kManualRat = {"persist.sys.vx.manual.rat", K::kPersistent, kReads,
                                 "persist.vendor.vx.manual.rat"};
constexpr Property kCmccPlmnList = {"persist.sys.vx.plmn.cmcc", K::kPersistent, kReads,
                                    "persist.vendor.vx.plmn.cmcc"};
constexpr Property kCuccPlmnList = {"persist.sys.vx.plmn.cucc", K::kPersistent, kReads,
                                    "persist.vendor.vx.plmn.cucc"};
// Master card, default data card, IMEI check, RAT decision.
constexpr Property kMasterCard = {"persist.radio.vx.master.card", K::kPersistent, kReadsAndWrites,
                                  "persist.vendor.radio.vx.master.card"};
constexpr Property kDefaultData = {"persist.radio.default.data", K::kPersistent, kReads,
                                   "persist.vendor.radio.default.data"};
constexpr Property kCheckImei = {"persist.sys.vx.check.imei", K::kPersistent, kReadsAndWrites,
                                 "persist.vendor.vx.check.imei"};
constexpr Property kPrefNetType = {"persist.radio.pref.net.type", K::kPersistent, kReads,
                                   "persist.vendor.radio.pref.net.type"};
constexpr Property kActualRat = {"persist.sys.vx.actual.rat", K::kPersistent, kWrites,
                                 "persist.vendor.vx.actual.rat"};
// NVRAM swap and modem reset.
constexpr Property kSwapNvram = {"sys.vx.swap.nvram.standby", K::kRuntime, kWrites,
                                 "vendor.vx.swap.nvram.standby"};
constexpr Property kModemReset = {"persist.sys.modem.reset", K::kPersistent, kReadsAndWrites,
                                  "persist.vendor.modem.reset"};
constexpr Property kModemResetPrompt = {"persist.sys.modem.reset.prompt", K::kPersistent,
                                        kReadsAndWrites, "persist.vendor.modem.reset.prompt"};
// rild instances: init's control properties keep their names, the services do not.
constexpr Property kStart = {"ctl.start", K::kControl, kWrites, "ctl.start"};
constexpr Property kRestart = {"ctl.restart", K::kControl, kWrites, "ctl.restart"};
constexpr Property kRildState = {"init.svc.rild%d", K::kServiceState, kReads,
                                 "init.svc.vendor.rild%d"};

}  // namespace prop

constexpr const Property* kDaemonProperties[] = {
    &prop::kBootCompleted,
    &prop::kMasterCardSwitch,
    &prop::kMsms,
    &prop::kPublishedMsms,
    &prop::kMultiSimConfig,
    &prop::kProjectType,
    &prop::kPublishedProjectType,
    &prop::kProjectTarget,
    &prop::kPublishedProjectTarget,
    &prop::kProjectRat,
    &prop::kPublishedRatList,
    &prop::kProjectRat1,
    &prop::kPublishedRat1,
    &prop::kDynamicRat,
    &prop::kPublishedDynamicRat,
    &prop::kDualToSingle,
    &prop::kPublishedDualToSingle,
    &prop::kManualRat,
    &prop::kCmccPlmnList,
    &prop::kCuccPlmnList,
    &prop::kMasterCard,
    &prop::kDefaultData,
    &prop::kCheckImei,
    &prop::kPrefNetType,
    &prop::kActualRat,
    &prop::kSwapNvram,
    &prop::kModemReset,
    &prop::kModemResetPrompt,
    &prop::kStart,
    &prop::kRestart,
    &prop::kRildState,
};

// The rild instances, one per standby, started and restarted through kStart and kRestart; their
// state is kRildState.
constexpr Service kRildService = {"rild%d", "vendor.rild%d"};
constexpr const Service* kDaemonServices[] = {&kRildService};

// The directory of the card history, the rild files and the NVRAM swap's record.
constexpr Service kDataDirectory = {"/data/vantorel/radio/", "/data/vendor/modemprep/"};

namespace propertycheck {

constexpr bool startsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; text++, prefix++) {
    if (*text != *prefix) return false;
  }
  return true;
}

// A kind must agree with the name's namespace in both integrations: a "persist." name stays
// persistent and an "ro." name read-only when the vendor integration renames it.
constexpr bool kindFits(const char* name, PropertyKind kind) {
  switch (kind) {
    case PropertyKind::kPersistent:
      return startsWith(name, "persist.");
    case PropertyKind::kReadOnly:
      return startsWith(name, "ro.");
    case PropertyKind::kControl:
      return startsWith(name, "ctl.");
    case PropertyKind::kServiceState:
      return startsWith(name, "init.svc.");
    case PropertyKind::kRuntime:
      return !startsWith(name, "persist.") && !startsWith(name, "ro.") &&
             !startsWith(name, "ctl.") && !startsWith(name, "init.svc.");
  }
  return false;
}

constexpr bool everyKindFits() {
  for (const Property* p : kDaemonProperties) {
    if (!kindFits(p->name, p->kind) || !kindFits(p->vendorName, p->kind)) return false;
  }
  return true;
}
static_assert(everyKindFits(), "a property's kind must match both of its names");

}  // namespace propertycheck
