// The card history: a ring of the last 20 cards seen and the identity that stood in each slot at
// the last update. Its file's bytes are encoded and decoded here without any I/O (history_file.h
// reads and writes the file), so that every tool reads a history as the daemon does.
#pragma once

#include <stddef.h>

#include "card/record.h"

constexpr size_t kHistoryFileSize = sizeof(saved_card_info_st);

// The file's bytes for a history: its memory image with little-endian numbers.
void encodeHistory(const saved_card_info_st& info, unsigned char (&bytes)[kHistoryFileSize]);
// The history a file's bytes hold: what the file lacks reads as zeros, what it holds beyond the
// history is not read.
saved_card_info_st decodeHistory(const unsigned char* bytes, size_t length);
// Brings the history up to date from the first simCount card records.
void updateSavedCardInfo(saved_card_info_st& info, const CardInfo (&cards)[MAX_SIM],
                         int32_t simCount);
