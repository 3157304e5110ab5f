// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "donglefaults.h"

#include "virtualdongle.h"

void DongleFaults::set(bool Settings::*setting, bool on)
{
    EventScheduler::Lock lock(dongle.scheduler);
    settings.*setting = on;
}

void DongleFaults::setDongleAbsent(bool absent)
{
    set(&Settings::dongleAbsent, absent);
}

void DongleFaults::setConnectRefused(bool refused)
{
    set(&Settings::connectRefused, refused);
}

void DongleFaults::setConnectFails(bool fails)
{
    set(&Settings::connectFails, fails);
}

void DongleFaults::setWriteRefused(bool refused)
{
    set(&Settings::writeRefused, refused);
}

void DongleFaults::setWriteFailsLater(bool fails)
{
    set(&Settings::writeFailsLater, fails);
}

void DongleFaults::setWriteUnanswered(bool unanswered)
{
    set(&Settings::writeUnanswered, unanswered);
}

void DongleFaults::setAdapterGone(bool gone)
{
    EventScheduler::Lock lock(dongle.scheduler);
    dongle.setAdapterGone(gone);
}

void DongleFaults::setFlood(int perSecond)
{
    EventScheduler::Lock lock(dongle.scheduler);
    dongle.setFlood(perSecond);
}

void DongleFaults::setAddedHardIron(const std::array<int16_t, 3> &offset)
{
    EventScheduler::Lock lock(dongle.scheduler);
    for (VirtualDongle::Controller &controller : dongle.controllers)
        controller.model.setAddedHardIron(offset);
}

void DongleFaults::setMagnet(int64_t fromMs, int64_t untilMs, int counts)
{
    EventScheduler::Lock lock(dongle.scheduler);
    for (VirtualDongle::Controller &controller : dongle.controllers)
        controller.model.setMagnet(fromMs, untilMs, counts);
}

void DongleFaults::injectLinkFailure()
{
    EventScheduler::Lock lock(dongle.scheduler);
    VirtualDongle *d = &dongle;
    dongle.scheduler.schedule(dongle.now(), false,
                              [d](int64_t, EventScheduler::Events &out) { d->failLinks(out); });
}

void DongleFaults::injectNotification(const std::vector<uint8_t> &bytes)
{
    EventScheduler::Lock lock(dongle.scheduler);
    VirtualDongle *d = &dongle;
    dongle.scheduler.schedule(dongle.now(), false, [d, bytes](int64_t, EventScheduler::Events &out) {
        d->notifyAll(bytes, out);
    });
}

void DongleFaults::injectMagSpike(int axis, int16_t value, int reports)
{
    EventScheduler::Lock lock(dongle.scheduler);
    VirtualDongle *d = &dongle;
    dongle.scheduler.schedule(dongle.now(), false, [d, axis, value, reports](int64_t, EventScheduler::Events &) {
        for (VirtualDongle::Controller &controller : d->controllers) {
            if (controller.connId != 0 && controller.reportsOn)
                controller.model.spikeMag(axis, value, reports);
        }
    });
}

void DongleFaults::addAdvertisers(int count)
{
    EventScheduler::Lock lock(dongle.scheduler);
    dongle.addAdvertisers(count, 0);
}

void DongleFaults::addRenamingAdvertisers(int count, int nameLength)
{
    EventScheduler::Lock lock(dongle.scheduler);
    dongle.addAdvertisers(count, nameLength);
}
