// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "eventscheduler.h"

#if defined(__linux__)
#include <pthread.h>
#endif

#include <algorithm>

EventScheduler::EventScheduler(Clock clockKind, Stream ownerStream)
    : clock(clockKind),
      epoch(std::chrono::steady_clock::now()),
      stream(std::move(ownerStream))
{
}

EventScheduler::~EventScheduler()
{
    stop();
}

void EventScheduler::start()
{
    if (clock == Clock::RealTime && !thread.joinable())
        thread = std::thread(&EventScheduler::threadMain, this);
}

void EventScheduler::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

int64_t EventScheduler::now() const
{
    if (clock == Clock::Manual)
        return manualNow.load();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - epoch)
            .count();
}

void EventScheduler::advance(int64_t ms)
{
    if (clock != Clock::Manual || ms < 0)
        return;
    runDue(manualNow += ms);
}

EventScheduler::Lock::Lock(const EventScheduler &owner)
    : scheduler(owner),
      state(owner.mutex)
{
}

EventScheduler::Lock::Lock(const EventScheduler &owner, Drained)
    : scheduler(owner),
      delivery(owner.delivery),
      state(owner.mutex)
{
}

EventScheduler::Lock::~Lock()
{
    state.unlock();
    scheduler.wake.notify_all();
}

void EventScheduler::schedule(int64_t due, bool cancellable, Work work)
{
    actions.emplace(std::make_pair(due, actionSeq++), Action{cancellable, std::move(work)});
}

void EventScheduler::dropCancellable()
{
    for (auto it = actions.begin(); it != actions.end();) {
        if (it->second.cancellable)
            it = actions.erase(it);
        else
            ++it;
    }
}

void EventScheduler::restart(const HostEventTarget &newTarget)
{
    actions.clear();
    target = newTarget;
}

void EventScheduler::setWatch(Watch newWatch)
{
    watch = std::move(newWatch);
}

int64_t EventScheduler::nextDue() const
{
    const int64_t action = actions.empty() ? Never : actions.begin()->first.first;
    return std::min(action, stream.nextDue());
}

void EventScheduler::runDue(int64_t upTo)
{
    std::lock_guard<std::mutex> delivering(delivery);
    Events out;
    HostEventTarget to;
    Watch watching;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // One piece at a time in time order: work may schedule further actions or start a
        // stream, and those must still come in order within this batch. On a tie the action
        // goes first.
        for (;;) {
            const int64_t action = actions.empty() ? Never : actions.begin()->first.first;
            const int64_t streamDue = stream.nextDue();
            if (std::min(action, streamDue) > upTo)
                break;
            if (streamDue < action) {
                stream.run(streamDue, out);
            } else {
                auto node = actions.extract(actions.begin());
                node.mapped().run(node.key().first, out);
            }
        }
        to = target;
        watching = watch;
    }
    for (HostEvent &event : out) {
        if (watching)
            watching(event);
        to.post(std::move(event));
    }
}

void EventScheduler::threadMain()
{
#if defined(__linux__)
    // Named so that per-thread figures (top -H, /proc/<pid>/task) tell it from the others.
    pthread_setname_np(pthread_self(), "VirtualDongle");
#endif
    std::unique_lock<std::mutex> lock(mutex);
    while (!quitting) {
        const int64_t due = nextDue();
        const int64_t t = now();
        if (due <= t) {
            lock.unlock();
            runDue(t);
            lock.lock();
            continue;
        }
        if (due == Never)
            wake.wait(lock);
        else
            wake.wait_for(lock, std::chrono::milliseconds(due - t));
    }
}
