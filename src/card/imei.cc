// IMEI consistency check: on request, gives standby 1 the IMEI of standby 0 when its own is
// missing or zero.
#include "card/imei.h"

#include <stdio.h>
#include <string.h>

#include "card/classify.h"
#include "modem/commands.h"
#include "platform/log_lines.h"
#include "platform/platform.h"

namespace {

constexpr int kPropertyTries = 3;
constexpr int kImeiSize = 20;
constexpr uint64_t kStandbyPauseUs = 100000;

// Reads one standby's IMEI into imei (left empty on any failure); the answer buffer is shared.
void readImei(ModemLink& link, int standby, char (&imei)[kImeiSize], AtAnswer& answer) {
  if (!switchToStandby(link, standby)) return;
  const AtCommand& cmd = cardCommand(CardCommand::kImei).command;
  if (!sendAtSyncOk(link, cmd, &answer).succeeded()) return;
  answer.copyValue(cmd.prefix, imei, sizeof imei);
}

// Deliberately IMEI[0]'s second and third characters (not its first two), and IMEI[1]'s first.
// Both texts live in zeroed 20-byte buffers, so reading past a short text reads zeros.
bool secondImeiNeedsReplacing(const char* first, const char* second) {
  return first[1] != '\0' && first[2] != '0' && (second[0] == '\0' || second[0] == '0');
}

}  // namespace

void checkIMEI(ModemLink& link, int32_t simCount) {
  char request[PROPERTY_VALUE_SIZE] = {};
  getProp(prop::kCheckImei, request, "0");
  if (request[0] != '1') return;
  // One-shot: the request is consumed whether or not the check applies.
  setProp(prop::kCheckImei, "0", kPropertyTries);
  if (simCount != 2) return;

  char imei[2][kImeiSize] = {};
  AtAnswer answer = {};
  for (int standby = 0; standby < 2; standby++) {
    readImei(link, standby, imei[standby], answer);
    platformSleepUs(kStandbyPauseUs);
  }
  LOGD(logline::kImeis, imei[0], imei[1]);
  if (!secondImeiNeedsReplacing(imei[0], imei[1])) return;

  LOGD("replace IMEI[1] with IMEI[0]");
  sendAtSyncOk(link, cardCommand(CardCommand::kImeiWrite).command, &answer, imei[0]);
}
