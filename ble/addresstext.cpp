#include "addresstext.h"

#include <cstdio>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void formatAddressText(const BleAddress &address, char text[13])
{
    std::snprintf(text, 13, "%02X%02X%02X%02X%02X%02X",
                  unsigned(address.nap >> 8) & 0xFFu, unsigned(address.nap) & 0xFFu,
                  unsigned(address.uap),
                  unsigned(address.lap >> 16) & 0xFFu, unsigned(address.lap >> 8) & 0xFFu,
                  unsigned(address.lap) & 0xFFu);
}

bool parseAddressText(const char *text, BleAddress *address)
{
    if (!text || !address)
        return false;
    uint64_t value = 0;
    for (int i = 0; i < 12; ++i) {
        // A NUL before the twelfth digit is not a hex digit, so the loop stops on it.
        const int digit = hexDigit(text[i]);
        if (digit < 0)
            return false;
        value = (value << 4) | uint64_t(digit);
    }
    if (text[12] != '\0')
        return false;

    BleAddress parsed{};
    parsed.nap = uint16_t(value >> 32);
    parsed.uap = uint8_t(value >> 24);
    parsed.lap = uint32_t(value & 0xFFFFFFu);
    *address = parsed;
    return true;
}
