// Calibration values of any kind, built into the 20-byte frame and taken apart again by the
// controller's side (the frame parser and the simulated controller); then arbitrary bytes of
// any length written to the simulated controller's parameter characteristic, which must tell
// frames from garbage and answer each with the matching acknowledgement.
#include "fuzzcheck.h"
#include "paramframe.h"
#include "reportdecoder.h"
#include "virtualcontroller.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <vector>

namespace {

bool sameParam(const MAG_PARAM &a, const MAG_PARAM &b)
{
    return a.max_x == b.max_x && a.max_y == b.max_y && a.max_z == b.max_z
            && a.min_x == b.min_x && a.min_y == b.min_y && a.min_z == b.min_z;
}

// The acknowledgement the controller sent for the last write, as the worker decodes it.
ReportAck lastAcknowledgement(VirtualController &controller, int64_t now)
{
    const auto sent = controller.advanceTo(now);
    ReportAck ack = ReportAck::None;
    for (const auto &notification : sent) {
        const ReportAck a = reportAcknowledgement(notification.bytes.data(),
                                                  notification.bytes.size());
        if (a != ReportAck::None)
            ack = a;
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
    FUZZ_CHECK(VirtualController::frameValid(frame.data(), frame.size()));
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
    const bool valid = VirtualController::frameValid(bytes.data(), bytes.size());
    MAG_PARAM parsed;
    const bool parses = parseParamFrame(bytes.data(), bytes.size(), &parsed);
    // The controller is at least as strict as the frame parser.
    FUZZ_CHECK(!valid || parses);
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
