// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// What the window does with device announcements carrying any name and any address text:
// names that are not UTF-8, 248 bytes long or full of control characters, and address texts
// of any length. The texts are freed as soon as the slot returns, so a slot that kept a
// pointer instead of a copy is an ASan report. Each distinct address must be listed exactly
// once, in order of first announcement.
//
// Needs an X display (the form holds the OpenGL view): tools/fuzz.sh runs it under xvfb-run.
#include "fuzzcheck.h"
#include "mainwindow.h"
#include "protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// A fresh window once the list has grown this long, to keep each input fast.
constexpr int MaxListed = 2000;
constexpr int MaxAnnouncements = 64;
constexpr size_t MaxTextLength = 300;

QApplication *app = nullptr;
MainWindow *window = nullptr;
std::set<std::string> listed;
std::vector<std::string> listedInOrder;

// The whole list, entry by entry, against what was announced.
void checkWholeList()
{
    auto *combo = window->findChild<QComboBox *>(QStringLiteral("comboBox"));
    FUZZ_CHECK(combo && combo->count() == int(listedInOrder.size()));
    for (int i = 0; i < combo->count(); ++i)
        FUZZ_CHECK(combo->itemText(i) == QString::fromUtf8(listedInOrder[size_t(i)].c_str()));
}

void freshWindow()
{
    // Entries listed by earlier inputs must still stand as they were listed.
    if (window)
        checkWholeList();
    delete window;
    window = new MainWindow;
    listed.clear();
    listedInOrder.clear();
}

std::unique_ptr<char[]> copyText(const std::string &text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    app = new QApplication(*argc, *argv);
    freshWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (int(listed.size()) > MaxListed)
        freshWindow();
    auto *combo = window->findChild<QComboBox *>(QStringLiteral("comboBox"));
    auto *connectButton = window->findChild<QPushButton *>(QStringLiteral("btn_connect"));
    FUZZ_CHECK(combo && connectButton);

    const int firstNew = combo->count();
    FuzzedDataProvider in(data, size);
    for (int n = 0; n < MaxAnnouncements && in.remaining_bytes() > 0; ++n) {
        // Codes -1 and 4 open a modal box; the others are all the window acts on or ignores.
        const int code = in.PickValueInArray({-2, 0, 1, 2, 3, 3, 3, 3, 5, 1000});
        const std::string name = in.ConsumeBool()
                ? std::string(248, char(in.ConsumeIntegralInRange<int>(1, 255)))
                : in.ConsumeRandomLengthString(MaxTextLength);
        std::string address;
        if (in.ConsumeBool()) {
            BleAddress a{};
            a.nap = in.ConsumeIntegral<uint16_t>();
            a.lap = in.ConsumeIntegral<uint32_t>();
            char text[Protocol::AddressTextLength + 1];
            Protocol::formatAddressText(a, text);
            address = text;
        } else {
            address = in.ConsumeRandomLengthString(24);
        }
        const bool nullName = in.ConsumeBool() && in.ConsumeBool();

        auto nameCopy = copyText(name);
        auto addressCopy = copyText(address);
        char *namePointer = nullName ? nullptr : nameCopy.get();
        char *addressPointer = addressCopy.get();
        const int before = combo->count();
        FUZZ_CHECK(QMetaObject::invokeMethod(window, "DisplayBtDevice", Qt::DirectConnection,
                                             Q_ARG(int, code), Q_ARG(char *, namePointer),
                                             Q_ARG(char *, addressPointer)));
        nameCopy.reset();
        addressCopy.reset();

        const std::string key = address.substr(0, address.find('\0'));  // up to its first NUL
        if (code == 3 && listed.insert(key).second) {
            listedInOrder.push_back(key);
            FUZZ_CHECK(combo->count() == before + 1);
        } else {
            FUZZ_CHECK(combo->count() == before);
        }
        if (code == 2)
            FUZZ_CHECK(connectButton->isEnabled());
    }

    // This input's entries here; all of them once more before the window is replaced (reading
    // back up to two thousand entries after every input made the target four times slower).
    FUZZ_CHECK(combo->count() == int(listedInOrder.size()));
    for (int i = firstNew; i < combo->count(); ++i)
        FUZZ_CHECK(combo->itemText(i) == QString::fromUtf8(listedInOrder[size_t(i)].c_str()));
    return 0;
}
