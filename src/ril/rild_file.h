// One rild instance's configuration file, "rild.cfgN": its record, its keys in file order, and
// the text both ways. The daemon writes it; radioplan, the tests and the fuzz target read it back
// through the same key table.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "card/record.h"
#include "profile/profile.h"
#include "rat/policy.h"

struct RildConfig {
  int32_t count;       // standbys, one rild each
  int32_t simSlot;     // the SIM slot this standby serves; -1 none
  int32_t cardStatus;  // that slot's card
  int32_t cardType;
  int32_t cardLocale;
  char cardID[CARD_ID_SIZE];
  int32_t rat;        // RATs the table gives the standby
  int32_t actualRat;  // RATs it really gets
  char dstmex[DSTMEX_SIZE];
  int32_t cs;
  int32_t ps;
  int32_t cardStatusOther;  // 1 when the other card is present
  int32_t cardLocaleOther;
};

// A key of the file and the field it holds: a number, or a text of textSize bytes.
struct RildKey {
  const char* name;
  size_t offset;
  size_t textSize;  // 0: a number
};
extern const RildKey kRildKeys[13];
// The key whose value the daemon compares with the new DSTMEX before restarting a rild.
constexpr char kRildDstmexKey[] = "rild.rat.DSTMEX";

// What standby's file says for this plan and these cards.
RildConfig rildConfigFor(const ProjectProfile& profile, const CardInfo (&cards)[MAX_SIM],
                         const RadioPlan& plan, int standby);
// The file's text, "key = value" lines in key order; its length, or -1 when size is too small.
int formatRildConfig(const RildConfig& config, char* out, size_t size);
// Reads a file's text back; false with the key that is missing or not a number in *badKey (texts
// may be empty; a line that is no key's is skipped).
bool parseRildConfig(const char* text, size_t length, RildConfig& config, const char** badKey);
