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

// Every property, one row each: the constant's name in namespace prop, the daemon's own name, its
// kind, what the daemon does with it, and the vendor integration's name. The constants and
// kDaemonProperties are both made from these rows: a property not listed here cannot be named.
// clang-format off
#define MODEMPREP_PROPERTIES(X)                                                                   \
  /* Start-up: boot marker and master-card switch flag. */                                        \
  X(kBootCompleted, "sys.vx.boot.completed", kRuntime, kReadsAndWrites,                           \
    "vendor.vx.boot.completed")                                                                   \
  X(kMasterCardSwitch, "gsm.operator.mcard_switch", kRuntime, kReadsAndWrites,                    \
    "vendor.gsm.operator.mcard_switch")                                                           \
  /* Project profile, each setting published again as a read-only copy. */                        \
  X(kMsms, "persist.sys.vx.msms", kPersistent, kReadsAndWrites, "persist.vendor.vx.msms")         \
  X(kPublishedMsms, "ro.vx.msms", kReadOnly, kWrites, "ro.vendor.vx.msms")                        \
  X(kMultiSimConfig, "persist.radio.multisim.config", kPersistent, kWrites,                       \
    "persist.vendor.radio.multisim.config")                                                       \
  X(kProjectType, "persist.sys.vx.proj.type", kPersistent, kReads, "persist.vendor.vx.proj.type") \
  X(kPublishedProjectType, "ro.sys.vx.proj.type", kReadOnly, kWrites, "ro.vendor.vx.proj.type")   \
  X(kProjectTarget, "persist.sys.vx.proj.target", kPersistent, kReads,                            \
    "persist.vendor.vx.proj.target")                                                              \
  X(kPublishedProjectTarget, "ro.sys.vx.proj.target", kReadOnly, kWrites,                         \
    "ro.vendor.vx.proj.target")                                                                   \
  X(kProjectRat, "persist.sys.vx.proj.rat", kPersistent, kReads, "persist.vendor.vx.proj.rat")    \
  X(kPublishedRatList, "ro.sys.vx.proj.rat", kReadOnly, kWrites, "ro.vendor.vx.proj.rat")         \
  X(kProjectRat1, "persist.sys.vx.proj.rat1", kPersistent, kReads, "persist.vendor.vx.proj.rat1") \
  X(kPublishedRat1, "ro.sys.vx.proj.rat1", kReadOnly, kWrites, "ro.vendor.vx.proj.rat1")          \
  X(kDynamicRat, "persist.sys.vx.dynamic.rat", kPersistent, kReads,                               \
    "persist.vendor.vx.dynamic.rat")                                                              \
  X(kPublishedDynamicRat, "ro.vx.dynamic.rat", kReadOnly, kWrites, "ro.vendor.vx.dynamic.rat")    \
  X(kDualToSingle, "persist.sys.vx.dual2single", kPersistent, kReads,                             \
    "persist.vendor.vx.dual2single")                                                              \
  X(kPublishedDualToSingle, "ro.vx.dual2single", kReadOnly, kWrites, "ro.vendor.vx.dual2single")  \
  /* Manual RAT setting and operator PLMN lists. */                                               \
  X(kManualRat, "persist.sys.vx.manual.rat", kPersistent, kReads, "persist.vendor.vx.manual.rat") \
  X(kCmccPlmnList, "persist.sys.vx.plmn.cmcc", kPersistent, kReads,                               \
    "persist.vendor.vx.plmn.cmcc")                                                                \
  X(kCuccPlmnList, "persist.sys.vx.plmn.cucc", kPersistent, kReads,                               \
    "persist.vendor.vx.plmn.cucc")                                                                \
  /* Master card, default data card, IMEI check, RAT decision. */                                 \
  X(kMasterCard, "persist.radio.vx.master.card", kPersistent, kReadsAndWrites,                    \
    "persist.vendor.radio.vx.master.card")                                                        \
  X(kDefaultData, "persist.radio.default.data", kPersistent, kReads,                              \
    "persist.vendor.radio.default.data")                                                          \
  X(kCheckImei, "persist.sys.vx.check.imei", kPersistent, kReadsAndWrites,                        \
    "persist.vendor.vx.check.imei")                                                               \
  X(kPrefNetType, "persist.radio.pref.net.type", kPersistent, kReads,                             \
    "persist.vendor.radio.pref.net.type")                                                         \
  X(kActualRat, "persist.sys.vx.actual.rat", kPersistent, kWrites,                                \
    "persist.vendor.vx.actual.rat")                                                               \
  /* NVRAM swap and modem reset. */                                                               \
  X(kSwapNvram, "sys.vx.swap.nvram.standby", kRuntime, kWrites, "vendor.vx.swap.nvram.standby")   \
  X(kModemReset, "persist.sys.modem.reset", kPersistent, kReadsAndWrites,                         \
    "persist.vendor.modem.reset")                                                                 \
  X(kModemResetPrompt, "persist.sys.modem.reset.prompt", kPersistent, kReadsAndWrites,            \
    "persist.vendor.modem.reset.prompt")                                                          \
  /* rild instances: init's control properties keep their names, the services do not. */          \
  X(kStart, "ctl.start", kControl, kWrites, "ctl.start")                                          \
  X(kRestart, "ctl.restart", kControl, kWrites, "ctl.restart")                                    \
  X(kRildState, "init.svc.rild%d", kServiceState, kReads, "init.svc.vendor.rild%d")               \
  /* end of the list */
// clang-format on

namespace prop {
#define MODEMPREP_DECLARE_PROPERTY(id, name, kind, use, vendorName) \
  constexpr Property id = {name, PropertyKind::kind, use, vendorName};
MODEMPREP_PROPERTIES(MODEMPREP_DECLARE_PROPERTY)
#undef MODEMPREP_DECLARE_PROPERTY
}  // namespace prop

constexpr const Property* kDaemonProperties[] = {
#define MODEMPREP_LIST_PROPERTY(id, ...) &prop::id,
    MODEMPREP_PROPERTIES(MODEMPREP_LIST_PROPERTY)
#undef MODEMPREP_LIST_PROPERTY
};

// The rild instances, one per standby, started and restarted through kStart and kRestart; their
// state is kRildState.
constexpr Service kRildService = {"rild%d", "vendor.rild%d"};
constexpr const Service* kDaemonServices[] = {&kRildService};

// The directory of the card history, the rild files and the NVRAM swap's record, and where the
// vendor integration moves it.
struct Directory {
  const char* path;
  const char* vendorPath;
};
constexpr Directory kDataDirectory = {"/data/vantorel/radio/", "/data/vendor/modemprep/"};

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

// A name the daemon may hand to the platform: a declared name, or a numbered one with its number.
constexpr bool nameMatches(const char* pattern, const char* name) {
  for (; *pattern != '\0'; pattern++, name++) {
    if (pattern[0] == '%' && pattern[1] == 'd' && pattern[2] == '\0') {
      if (*name < '0' || *name > '9') return false;
      while (*name >= '0' && *name <= '9') name++;
      return *name == '\0';
    }
    if (*pattern != *name) return false;
  }
  return *name == '\0';
}

constexpr bool everyKindFits() {
  for (const Property* p : kDaemonProperties) {
    if (!kindFits(p->name, p->kind) || !kindFits(p->vendorName, p->kind)) return false;
  }
  return true;
}
static_assert(everyKindFits(), "a property's kind must match both of its names");

}  // namespace propertycheck

// The declaration of a property name as the platform sees it ("init.svc.rild1" is kRildState);
// nullptr for a name not declared above.
constexpr const Property* declaredProperty(const char* name) {
  for (const Property* p : kDaemonProperties) {
    if (propertycheck::nameMatches(p->name, name)) return p;
  }
  return nullptr;
}
static_assert(declaredProperty("init.svc.rild12") == &prop::kRildState &&
                  declaredProperty("init.svc.rild") == nullptr &&
                  declaredProperty("init.svc.rild1x") == nullptr &&
                  declaredProperty("ro.vx.msms") == &prop::kPublishedMsms &&
                  declaredProperty("ro.vx.msms.x") == nullptr,
              "a numbered name takes its number, every other name is matched whole");
