// SIM hot-plug events: the kernel's uevent messages that name a SIM slot and whether its card
// came or went.
#pragma once

#include <stdint.h>

constexpr int UEVENT_SOCKET_BUFFER = 65536;
constexpr int UEVENT_MESSAGE_SIZE = 1024;

// The online mask a received message asks for, from the stored one: "USIM0" or "USIM1" followed,
// one character later, by "IN" or "OUT" sets or clears that slot's bit. When a message names
// both slots only slot 1's change is kept. message has room for length + 2 bytes; its NUL
// separators become blanks.
uint32_t hotplugCandidate(char* message, int length, uint32_t stored);
