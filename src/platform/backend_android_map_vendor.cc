// Vendor integration: the daemon's names moved into the namespaces a vendor domain may label and
// set ("vendor.", "persist.vendor.", "ro.vendor.", services "vendor.*" and their
// "init.svc.vendor.*" states) and its data into /data/vendor. "persist." names stay persistent and
// "ro." names read-only. Nothing else in the daemon changes: its log lines keep its own names.
#include <stdio.h>
#include <string.h>

#include "platform/android_property_map.h"

namespace {

enum class NameKind { kProperty, kService, kDirectory };

// A name ending in "%d" stands for that name followed by a standby number.
struct VendorName {
  NameKind kind;
  const char* name;
  const char* vendorName;
};

constexpr VendorName kVendorNames[] = {
    // Start-up: boot marker and master-card switch flag.
    {NameKind::kProperty, "sys.vx.boot.completed", "vendor.vx.boot.completed"},
    {NameKind::kProperty, "gsm.operator.mcard_switch", "vendor.gsm.operator.mcard_switch"},
    // Project profile and its read-only copies.
    {NameKind::kProperty, "persist.sys.vx.msms", "persist.vendor.vx.msms"},
    {NameKind::kProperty, "ro.vx.msms", "ro.vendor.vx.msms"},
    {NameKind::kProperty, "persist.radio.multisim.config", "persist.vendor.radio.multisim.config"},
    {NameKind::kProperty, "persist.sys.vx.proj.type", "persist.vendor.vx.proj.type"},
    {NameKind::kProperty, "ro.sys.vx.proj.type", "ro.vendor.vx.proj.type"},
    {NameKind::kProperty, "persist.sys.vx.proj.target", "persist.vendor.vx.proj.target"},
    {NameKind::kProperty, "ro.sys.vx.proj.target", "ro.vendor.vx.proj.target"},
    {NameKind::kProperty, "persist.sys.vx.proj.rat", "persist.vendor.vx.proj.rat"},
    {NameKind::kProperty, "ro.sys.vx.proj.rat", "ro.vendor.vx.proj.rat"},
    {NameKind::kProperty, "persist.sys.vx.proj.rat1", "persist.vendor.vx.proj.rat1"},
    {NameKind::kProperty, "ro.sys.vx.proj.rat1", "ro.vendor.vx.proj.rat1"},
    {NameKind::kProperty, "persist.sys.vx.dynamic.rat", "persist.vendor.vx.dynamic.rat"},
    {NameKind::kProperty, "ro.vx.dynamic.rat", "ro.vendor.vx.dynamic.rat"},
    {NameKind::kProperty, "persist.sys.vx.dual2single", "persist.vendor.vx.dual2single"},
    {NameKind::kProperty, "ro.vx.dual2single", "ro.vendor.vx.dual2single"},
    // Manual RAT setting and operator PLMN lists.
    {NameKind::kProperty, "persist.sys.vx.manual.rat", "persist.vendor.vx.manual.rat"},
    {NameKind::kProperty, "persist.sys.vx.plmn.cmcc", "persist.vendor.vx.plmn.cmcc"},
    {NameKind::kProperty, "persist.sys.vx.plmn.cucc", "persist.vendor.vx.plmn.cucc"},
    // Master card, default data card, IMEI check, RAT decision.
    {NameKind::kProperty, "persist.radio.vx.master.card", "persist.vendor.radio.vx.master.card"},
    {NameKind::kProperty, "persist.radio.default.data", "persist.vendor.radio.default.data"},
    {NameKind::kProperty, "persist.sys.vx.check.imei", "persist.vendor.vx.check.imei"},
    {NameKind::kProperty, "persist.radio.pref.net.type", "persist.vendor.radio.pref.net.type"},
    {NameKind::kProperty, "persist.sys.vx.actual.rat", "persist.vendor.vx.actual.rat"},
    // NVRAM swap and modem reset.
    {NameKind::kProperty, "sys.vx.swap.nvram.standby", "vendor.vx.swap.nvram.standby"},
    {NameKind::kProperty, "persist.sys.modem.reset", "persist.vendor.modem.reset"},
    {NameKind::kProperty, "persist.sys.modem.reset.prompt", "persist.vendor.modem.reset.prompt"},
    // rild instances: init's control properties keep their names, the services do not.
    {NameKind::kProperty, "ctl.start", "ctl.start"},
    {NameKind::kProperty, "ctl.restart", "ctl.restart"},
    {NameKind::kProperty, "init.svc.rild%d", "init.svc.vendor.rild%d"},
    {NameKind::kService, "rild%d", "vendor.rild%d"},
    // Card history and rild configuration files.
    {NameKind::kDirectory, "/data/vantorel/radio/", "/data/vendor/radio/"},
};

constexpr char kNumberSuffix[] = "%d";
constexpr size_t kMaxNumberDigits = 3;

// Length of a name without its "%d" suffix, and whether it had one.
size_t stemLength(const char* name, bool* numbered) {
  size_t length = strlen(name);
  size_t suffix = sizeof kNumberSuffix - 1;
  *numbered = length >= suffix && strcmp(name + length - suffix, kNumberSuffix) == 0;
  return *numbered ? length - suffix : length;
}

// The vendor form of name per the table's entries of that kind, or nullptr.
const char* mapName(NameKind kind, const char* name, char* buffer, size_t size) {
  for (const VendorName& entry : kVendorNames) {
    if (entry.kind != kind) continue;
    bool numbered = false;
    size_t stem = stemLength(entry.name, &numbered);
    if (!numbered) {
      if (strcmp(name, entry.name) == 0) return entry.vendorName;
      continue;
    }
    if (strncmp(name, entry.name, stem) != 0) continue;
    const char* digits = name + stem;
    size_t count = strspn(digits, "0123456789");
    if (count == 0 || count > kMaxNumberDigits || digits[count] != '\0') continue;
    bool vendorNumbered = false;
    size_t vendorStem = stemLength(entry.vendorName, &vendorNumbered);
    int n =
        snprintf(buffer, size, "%.*s%s", static_cast<int>(vendorStem), entry.vendorName, digits);
    return n >= 0 && static_cast<size_t>(n) < size ? buffer : nullptr;
  }
  return nullptr;
}

}  // namespace

const char* androidPropertyName(const char* name, char* buffer, size_t size) {
  return mapName(NameKind::kProperty, name, buffer, size);
}

const char* androidPropertyValue(const char* name, const char* value, char* buffer, size_t size) {
  if (strcmp(name, "ctl.start") != 0 && strcmp(name, "ctl.restart") != 0) return value;
  return mapName(NameKind::kService, value, buffer, size);
}

int androidPath(const char* path, char* out, size_t size) {
  const char* replacement = "";
  size_t skip = 0;
  for (const VendorName& entry : kVendorNames) {
    size_t length = strlen(entry.name);
    if (entry.kind == NameKind::kDirectory && strncmp(path, entry.name, length) == 0) {
      replacement = entry.vendorName;
      skip = length;
      break;
    }
  }
  int n = snprintf(out, size, "%s%s", replacement, path + skip);
  return n >= 0 && static_cast<size_t>(n) < size ? 0 : -1;
}
