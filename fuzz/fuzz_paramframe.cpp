// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Calibration values of any kind, built into the 20-byte frame and parsed back unchanged by
// the simulated controller; then arbitrary bytes of any length written to its parameter
// characteristic, which must tell frames from garbage without reading past them, and answer
// each write with the acknowledgement the worker decodes as the matching outcome.
#include "fuzzcheck.h"
#include "protocol.h"
#include "virtualcontroller.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <vector>

using namespace Protocol;

namespace {

bool sameParam(const MAG_PARAM &a, const MAG_PARAM &b)
{
    return a.max_x == b.max_x && a.max_y == b.max_y && a.max_z == b.max_z
            && a.min_x == b.min_x && a.min_y == b.min_y && a.min_z == b.min_z;
}

// The acknowledgement the controller sent for the last write, as the worker decodes it.
ReportAck lastAcknowledgement(VirtualController &controller, int64_t now)
{
    ReportAck ack = ReportAck::None;
    for (const auto &notification : controller.advanceTo(now)) {
        ReportState state;
        const ReportResult result = decodeReport(notification.bytes.data(), notification.bytes.size(),
                                                 state);
        FUZZ_CHECK(!result.pos && !result.raw);
        if (result.ack != ReportAck::None)
            ack = result.ack;
    }
    return ack;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    MAG_PARAM param;
    param.max_x = in.ConsumeIntegral<int16_t>();
    param.max_y = in.ConsumeIntegral<int16_t>();
    param.max_z = in.ConsumeIntegral<int16_t>();
    param.min_x = in.ConsumeIntegral<int16_t>();
    param.min_y = in.ConsumeIntegral<int16_t>();
    param.min_z = in.ConsumeIntegral<int16_t>();

    const ParamFrame frame = buildParamFrame(param);
    FUZZ_CHECK(frame[0] == 0x5A && frame[19] == 0xA5);
    MAG_PARAM back;
    FUZZ_CHECK(parseParamFrame(frame.data(), frame.size(), &back));
    FUZZ_CHECK(sameParam(back, param));

    VirtualController controller(in.ConsumeIntegral<uint32_t>());
    controller.startReports(0);
    FUZZ_CHECK(controller.writeParameter(frame.data(), frame.size(), 0));
    FUZZ_CHECK(controller.receivedFrames().size() == 1);
    FUZZ_CHECK(std::vector<uint8_t>(frame.begin(), frame.end()) == controller.receivedFrames()[0]);
    const std::array<int16_t, 3> centre = controller.magCentre();
    FUZZ_CHECK(centre[0] == int16_t((param.max_x + param.min_x) / 2));
    FUZZ_CHECK(centre[1] == int16_t((param.max_y + param.min_y) / 2));
    FUZZ_CHECK(centre[2] == int16_t((param.max_z + param.min_z) / 2));
    FUZZ_CHECK(lastAcknowledgement(controller, 0) == ReportAck::Success);

    // Any bytes at all on the parameter characteristic; the write is kept as received.
    const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    MAG_PARAM parsed;
    const bool valid = parseParamFrame(bytes.data(), bytes.size(), &parsed);
    if (valid) {
        // Read from where the builder writes: the same frame apart from the three spare
        // bytes, which the controller does not look at, and the checksum over them.
        const ParamFrame again = buildParamFrame(parsed);
        for (size_t i = 0; i < ParamFrameLength; ++i)
            FUZZ_CHECK((i >= 15 && i <= 18) || again[i] == bytes[i]);
    }
    FUZZ_CHECK(controller.writeParameter(bytes.data(), bytes.size(), 1) == valid);
    FUZZ_CHECK(controller.receivedFrames().size() == 2 && controller.receivedFrames()[1] == bytes);
    FUZZ_CHECK(lastAcknowledgement(controller, 1)
               == (valid ? ReportAck::Success : ReportAck::Fail));
    if (!valid) {
        FUZZ_CHECK(controller.magCentre() == centre);
    } else {
        FUZZ_CHECK(controller.magCentre()[0] == int16_t((parsed.max_x + parsed.min_x) / 2));
        FUZZ_CHECK(controller.magCentre()[1] == int16_t((parsed.max_y + parsed.min_y) / 2));
        FUZZ_CHECK(controller.magCentre()[2] == int16_t((parsed.max_z + parsed.min_z) / 2));
    }
    return 0;
}
