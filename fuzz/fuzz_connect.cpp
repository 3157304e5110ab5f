// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Any text handed to connectDevice, as the window would hand over an entry of its list: the
// address-text parser decides, and the worker either leaves the host layer alone or stops the
// scan and connects to exactly the address the text spells. The text is copied into a buffer
// of its length plus the NUL, so reading past the NUL is an ASan report.
#include "btthread.h"
#include "fuzzcheck.h"
#include "hostlayer.h"
#include "protocol.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class RecordingBackend : public HostBackend
{
public:
    bool paramsOk = true;
    std::vector<std::string> calls;
    BleAddress connected{};

    bool init(const HostEventTarget &) override { return true; }
    bool start() override { return true; }
    bool startLeScan() override { return record("scan"); }
    bool stopLeSearch() override { return record("stopLeSearch"); }
    bool stopDeviceSearch() override { return record("stopDeviceSearch"); }
    bool cancel() override { return record("cancel"); }
    bool setConnectionParams(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e,
                             uint16_t f) override
    {
        char text[64];
        std::snprintf(text, sizeof text, "params %u %u %u %u %u %u", a, b, c, d, e, f);
        record(text);
        return paramsOk;
    }
    bool connect(const BleAddress &address) override
    {
        connected = address;
        return record("connect");
    }
    bool disconnect(uint32_t) override { return record("disconnect"); }
    bool justWorksResult(const BleAddress &, uint8_t, uint8_t) override { return record("pair"); }
    bool acceptConnUpdate(uint32_t, uint16_t, uint8_t) override { return record("update"); }
    bool discoverDatabase(uint32_t) override { return record("discover"); }
    bool writeConfiguration(uint32_t, uint16_t, uint16_t, uint16_t) override
    {
        return record("configure");
    }
    bool writeCharByHandle(uint32_t, uint16_t, uint16_t, uint16_t, const uint8_t *) override
    {
        return record("write");
    }

private:
    bool record(const char *call)
    {
        calls.emplace_back(call);
        return true;
    }
};

bool isAddressText(const char *text)
{
    for (int i = 0; i < 12; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return text[12] == '\0';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // "OK" and "Fail" per connection attempt; the fuzzer's own output is on stderr.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static BtThread worker;     // never started: connectDevice runs on the caller's thread
    RecordingBackend backend;
    backend.paramsOk = (data[0] & 1) == 0;

    const size_t length = size - 1;
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data + 1, length);
    text[length] = '\0';

    const bool valid = isAddressText(text.get());
    BleAddress parsed{};
    std::memset(&parsed, 0xA5, sizeof parsed);
    const BleAddress untouched = parsed;
    FUZZ_CHECK(Protocol::parseAddressText(text.get(), &parsed) == valid);
    if (!valid) {
        FUZZ_CHECK(std::memcmp(&parsed, &untouched, sizeof parsed) == 0);
    } else {
        // Formatting the parsed address gives the text back, in capitals.
        char again[Protocol::AddressTextLength + 1];
        Protocol::formatAddressText(parsed, again);
        for (int i = 0; i < 12; ++i)
            FUZZ_CHECK(again[i] == std::toupper(static_cast<unsigned char>(text[i])));
        FUZZ_CHECK(parsed.kind == 0 && (parsed.lap >> 24) == 0);
    }

    setHostBackend(&backend);
    worker.connectDevice(text.get());
    setHostBackend(nullptr);

    if (!valid) {
        FUZZ_CHECK(backend.calls.empty());
        return 0;
    }
    std::vector<std::string> expected{"stopLeSearch", "stopDeviceSearch",
                                      "params 65535 65535 6 6 0 500"};
    if (backend.paramsOk)
        expected.emplace_back("connect");
    FUZZ_CHECK(backend.calls == expected);
    if (backend.paramsOk) {
        FUZZ_CHECK(backend.connected.kind == 0);
        FUZZ_CHECK(backend.connected.nap == parsed.nap && backend.connected.uap == parsed.uap
                   && backend.connected.lap == parsed.lap);
    }
    return 0;
}
