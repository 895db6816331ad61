// The declarations as JSON; see names.h.
#include "radioplan/names.h"

#include <string>

#include "card/classify.h"
#include "platform/log_lines.h"
#include "platform/platform.h"
#include "platform/properties.h"
#include "profile/targets.h"
#include "rat/policy.h"

namespace radioplan {
namespace {

const char* kindName(PropertyKind kind) {
  switch (kind) {
    case PropertyKind::kRuntime:
      return "runtime";
    case PropertyKind::kPersistent:
      return "persistent";
    case PropertyKind::kReadOnly:
      return "read-only";
    case PropertyKind::kControl:
      return "control";
    case PropertyKind::kServiceState:
      return "service state";
  }
  return "?";
}

Json cardClasses() {
  Json targets = Json::object();
  for (const ProjectTargetName* t = projectTargetTable; t->name[0] != '\0'; t++) {
    const CardClassTable* table = cardClassTable(t->code);
    if (table == nullptr) continue;
    Json rows = Json::array();
    for (int i = 0; i < table->count; i++) {
      const CardClassRow& row = table->rows[i];
      rows.push_back({{"index", row.index},
                      {"type", static_cast<int>(row.type)},
                      {"locale", static_cast<int>(row.locale)},
                      {"label", row.label}});
    }
    targets[t->name] = rows;
  }
  return targets;
}

}  // namespace

Json daemonNames() {
  Json properties = Json::array();
  for (const Property* p : kDaemonProperties) {
    properties.push_back({{"name", p->name},
                          {"kind", kindName(p->kind)},
                          {"reads", (p->use & kReads) != 0},
                          {"writes", (p->use & kWrites) != 0},
                          {"vendor_name", p->vendorName}});
  }
  Json services = Json::array();
  for (const Service* s : kDaemonServices) {
    services.push_back({{"name", s->name}, {"vendor_name", s->vendorName}});
  }
  Json names = {{"properties", properties},
                {"services", services},
                {"data_directory",
                 {{"name", kDataDirectory.path}, {"vendor_name", kDataDirectory.vendorPath}}},
                {"paths",
                 {{"modem_device", kModemDevicePath},
                  {"factory_file", kFactoryFilePath},
                  {"card_history", kCardHistoryPath},
                  {"rild_config_base", kRildConfigBasePath},
                  {"restore_record", kRestoreRecordPath},
                  {"uevent_socket", kUeventSocketPath}}},
                {"card_classes", cardClasses()}};
  // What the tools look for in the daemon's traffic and log: the properties that hold the factory
  // setting and publish the target, the card's identity query, and the start of the line the
  // daemon logs once it is resident.
  names["roles"] = {{"factory_setting", prop::kMsms.name},
                    {"published_target", prop::kPublishedProjectTarget.name}};
  names["commands"] = {{"card_id", cardCommand(CardCommand::kId).command.text}};
  const std::string resident = logline::kResident;
  names["log"] = {{"resident", resident.substr(0, resident.find('%'))}};
  return names;
}

}  // namespace radioplan
