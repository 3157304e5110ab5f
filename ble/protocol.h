// The controller's wire format, in one place: its service, its report notifications, the
// acknowledgement of a parameter write, the parameter frame, and the address texts that name
// controllers. Every encoder here has its decoder beside it; both sides of the host layer
// (the worker, and the virtual controller that answers it) use the same pair.
#pragma once

#include <cstdint>

namespace Protocol {

// The controller's own GATT service (16-bit UUID). Its first characteristic notifies the
// reports, its second takes the parameter frame.
constexpr uint16_t ServiceUuid = 0xFAEA;

} // namespace Protocol
