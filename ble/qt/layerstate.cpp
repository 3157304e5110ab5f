// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "layerstate.h"

uint32_t LayerState::beginInit(const HostEventTarget &newTarget)
{
    std::lock_guard<std::mutex> lock(mutex);
    target = newTarget;
    closing.clear();
    started = false;
    settling = false;
    scanWanted = false;
    return ++generation;
}

uint32_t LayerState::currentInit() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return generation;
}

void LayerState::post(uint32_t forGeneration, HostEvent event)
{
    std::lock_guard<std::mutex> posting(postMutex);
    HostEventTarget to;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (forGeneration != generation)
            return;
        to = target;
    }
    to.post(std::move(event));
}

void LayerState::beginDisconnect(uint32_t connId)
{
    std::lock_guard<std::mutex> lock(mutex);
    closing.insert(connId);
}

void LayerState::endDisconnect(uint32_t connId)
{
    std::lock_guard<std::mutex> lock(mutex);
    closing.erase(connId);
}

bool LayerState::disconnecting(uint32_t connId) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return closing.count(connId) != 0;
}

void LayerState::setAdapterPath(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    adapter = path;
}

QString LayerState::adapterPath() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return adapter;
}
