// The card history file: read and written in four pieces, replaced whole.
#pragma once

#include "card/history.h"

// True when the whole file was read; otherwise the record holds what was read and zeros.
bool readSavedCardInfo(saved_card_info_st& info);
bool writeSavedCardInfo(const saved_card_info_st& info);
