// Modem-level commands: channel open and close, the RAT capability query, the standby switch.
#include "modem/commands.h"

#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr int kDmccLeadingNumbers = 3;

// The three leading numbers are only used to tell whether the record was filled.
bool capabilityKnown(const ModemCapability& capability) {
  return capability.dmccValue1 > 0 && capability.modemStandbyCount > 0 && capability.dmccValue3 > 0;
}

}  // namespace

bool parseCapability(const AtAnswer& answer, ModemCapability& capability) {
  // Only the numbers of its own line: the line's end ends the last one.
  const char* numbers = answer.value(modemCommand(ModemCommand::kCapability).prefix);
  if (numbers == nullptr) return false;
  int32_t* const fields[] = {
      &capability.dmccValue1,       &capability.modemStandbyCount, &capability.dmccValue3,
      &capability.standbyRatCap[0], &capability.standbyRatCap[1],  &capability.standbyRatCap[2],
      &capability.standbyRatCap[3], &capability.standbyRatCap[4],
  };
  int stored = 0;
  const char* cursor = numbers;
  size_t length = 0;
  while (stored < static_cast<int>(sizeof fields / sizeof fields[0])) {
    const char* token = nextToken(&cursor, &length);
    if (token == nullptr) break;
    *fields[stored++] = atoi(token);  // the number ends at its first non-digit
  }
  return stored > kDmccLeadingNumbers;
}

void openModemChannel(ModemLink& link) {
  if (!link.isOpen()) openModemLine(link);
}

bool queryModemCapability(ModemLink& link, bool force) {
  if (!force && capabilityKnown(link.capability)) return true;
  AtAnswer answer;
  return retryCommand(link, modemCommand(ModemCommand::kCapability), answer,
                      [&link](const AtOutcome& outcome, const AtAnswer& got) {
                        return outcome.succeeded() && parseCapability(got, link.capability);
                      });
}

bool switchToStandby(ModemLink& link, int standby) {
  // A channel closed after use passes here and is refused by the exchange.
  if (link.neverOpened() || standby < 0) {
    LOGE("%s() parameter error: %d, %d", __func__, link.neverOpened(), standby < 0);
    return false;
  }
  link.wantedStandby = standby;
  if (standby == link.currentStandby && !link.standbyUnknown) return true;
  return sendStandbySwitch(link, standby);
}

void closeModemChannel(ModemLink& link, bool keepStandby) {
  if (!link.isOpen()) return;
  // Leave the modem on standby 0 for whoever opens the channel next.
  if (!keepStandby) switchToStandby(link, 0);
  closeLine(link.line);
  // A late answer does not outlive the channel.
  link.lateAnswerPending = false;
  link.carried[0] = '\0';
  link.midLine = false;
}
