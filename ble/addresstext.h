// A controller's 48-bit address as the twelve-digit text that keys the device lists.
#pragma once

#include "hostlayer.h"

// Twelve capital hex digits, most significant byte first (nap high, nap low, uap, then the
// three low bytes of lap), and a terminating NUL. `kind` is not part of the text.
void formatAddressText(const BleAddress &address, char text[13]);

// The reverse: `text` must be exactly twelve hex digits followed by its NUL (either case is
// accepted). Anything else returns false and leaves `address` untouched. Reads no further
// than the text's NUL.
bool parseAddressText(const char *text, BleAddress *address);
