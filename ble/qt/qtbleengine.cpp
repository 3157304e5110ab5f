// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "qtbleengine.h"

#include "adapterwatch.h"
#include "devicekey.h"
#include "hostevents.h"
#include "qtblelink.h"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QLoggingCategory>
#include <QLowEnergyController>

Q_LOGGING_CATEGORY(lcEngine, "imucal.qtble", QtWarningMsg)

QtBleEngine::QtBleEngine(std::shared_ptr<LayerState> layerState, int connectTimeout,
                         int writeTimeout, QObject *parent)
    : QObject(parent),
      state(std::move(layerState)),
      connectTimeoutMs(connectTimeout),
      writeTimeoutMs(writeTimeout)
{
}

QtBleEngine::~QtBleEngine()
{
    closeAll();
}

void QtBleEngine::post(HostEvent event)
{
    state->post(generation, std::move(event));
}

void QtBleEngine::closeAll()
{
    dropAgent();
    for (auto &entry : links)
        entry.second->close();
    links.clear();
}

bool QtBleEngine::init(uint32_t newGeneration)
{
    // A new initialisation starts from an adapter just found: no links, no scan.
    closeAll();
    devices.clear();
    deviceOrder.clear();
    generation = newGeneration;
    initialised = true;
    started = false;
    awaitingStart = false;
    scanOnceKnown = false;
    if (!watch) {
        // Made here, on the layer's thread, so that the stack's signals are handled here.
        watch = new AdapterWatch(this);
        connect(watch, &AdapterWatch::refreshing, this, [this] { state->settling = true; });
        connect(watch, &AdapterWatch::refreshed, this, &QtBleEngine::onAdapterKnown);
        connect(watch, &AdapterWatch::lost, this, &QtBleEngine::onAdapterLost);
    }
    return true;
}

// Event 0 comes once the stack has said where its adapter stands: no adapter, or one that is
// switched off, is a dongle that failed to come up.
bool QtBleEngine::start()
{
    if (!initialised)
        return false;
    started = true;
    awaitingStart = true;
    watch->refresh();
    return true;
}

void QtBleEngine::onAdapterKnown()
{
    state->setAdapterPath(watch->path());
    state->settling = false;
    qCInfo(lcEngine) << "adapter" << watch->address() << "usable" << watch->usable();
    if (awaitingStart) {
        awaitingStart = false;
        post(hostReadyEvent(watch->usable()));
        if (!watch->usable())
            scanOnceKnown = false;   // event 0 has said it all
    }
    if (scanOnceKnown) {
        scanOnceKnown = false;
        startScan();
    }
}

// The adapter was removed or switched off, or bluetoothd stopped: every link ends as lost,
// and the scan with them. Qt's discovery cannot tell (after bluetoothd restarted it would
// keep waiting for a discovery that nobody runs), so its agent goes too; the next scan
// starts a new one.
void QtBleEngine::onAdapterLost()
{
    qCInfo(lcEngine) << "adapter lost";
    state->setAdapterPath(watch->path());
    dropAgent();
    std::map<uint32_t, QtBleLink *> lost;
    lost.swap(links);
    for (const auto &entry : lost)
        entry.second->lose();
}

bool QtBleEngine::startScan()
{
    if (!started)
        return false;
    if (awaitingStart || state->settling) {
        // Under way: it starts once the stack has said where the adapter is.
        scanOnceKnown = true;
        return true;
    }
    if (!watch->usable()) {
        post(hostReadyEvent(false));
        return false;
    }
    if (!agent)
        agent = makeAgent();
    if (agent->isActive())
        return true;
    QBluetoothDeviceDiscoveryAgent *starting = agent;
    starting->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
    // One that failed at once has been let go by its error handler: no adapter after all.
    if (agent == starting && starting->isActive())
        return true;
    post(hostReadyEvent(false));
    return false;
}

QBluetoothDeviceDiscoveryAgent *QtBleEngine::makeAgent()
{
    auto *made = new QBluetoothDeviceDiscoveryAgent(watch->address(), this);
    // Runs until stopped.
    made->setLowEnergyDiscoveryTimeout(0);
    connect(made, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this, &QtBleEngine::onDeviceSeen);
    connect(made, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
            [this](const QBluetoothDeviceInfo &info) { onDeviceSeen(info); });
    // A discovery that failed or ended on its own cannot be trusted to start again.
    connect(made, QOverload<QBluetoothDeviceDiscoveryAgent::Error>::of(&QBluetoothDeviceDiscoveryAgent::error),
            this, [this](QBluetoothDeviceDiscoveryAgent::Error error) {
                qCInfo(lcEngine) << "scan error" << error;
                dropAgent();
            });
    connect(made, &QBluetoothDeviceDiscoveryAgent::finished, this, &QtBleEngine::dropAgent);
    return made;
}

void QtBleEngine::dropAgent()
{
    if (!agent)
        return;
    QBluetoothDeviceDiscoveryAgent *old = agent;
    agent = nullptr;
    old->disconnect(this);
    // Stopping gives back Qt's process-wide claim on the adapter's discovery; an agent
    // deleted while active would keep it, and no later agent would make the adapter scan.
    if (old->isActive())
        old->stop();
    old->deleteLater();
}

bool QtBleEngine::stopScan()
{
    if (!started)
        return false;
    if (agent && agent->isActive())
        agent->stop();
    return true;
}

void QtBleEngine::onDeviceSeen(const QBluetoothDeviceInfo &info)
{
    if (!(info.coreConfigurations() & QBluetoothDeviceInfo::LowEnergyCoreConfiguration))
        return;
    // A scan stopped by the caller reports nothing more, even while its agent winds down.
    if (!state->scanWanted)
        return;
    const uint64_t key = deviceKey(info);
    auto known = devices.find(key);
    if (known == devices.end()) {
        if (devices.size() >= KeptDevices) {
            devices.erase(deviceOrder.front());
            deviceOrder.pop_front();
        }
        deviceOrder.push_back(key);
        // What a connection needs, without the name: names can be long and change often.
        QBluetoothDeviceInfo kept(info.address(), QString(), 0);
        kept.setDeviceUuid(info.deviceUuid());
        kept.setCoreConfigurations(info.coreConfigurations());
        devices.emplace(key, kept);
    }
    const QByteArray name = announcedName(info.name(), key);
    post(hostDeviceFoundEvent(makeBleAddress(key), name.isNull() ? nullptr : name.constData(),
                              info.rssi()));
}

bool QtBleEngine::cancel()
{
    if (!started)
        return false;
    // What is pending is a connection still being made; it goes without a result.
    for (auto it = links.begin(); it != links.end();) {
        if (it->second->isConnecting()) {
            it->second->close();
            it = links.erase(it);
        } else {
            ++it;
        }
    }
    return true;
}

bool QtBleEngine::connectTo(uint64_t key, uint32_t cancelMark)
{
    if (!started || !watch->usable())
        return false;
    // Cancelled before the layer got to it: dropped as cancel drops any connection under way.
    if (state->cancels.load() != cancelMark)
        return true;
    for (const auto &entry : links) {
        if (entry.second->isConnecting())
            return false;
    }
    QLowEnergyController *controller = nullptr;
    const auto known = devices.find(key);
    if (known != devices.end()) {
        controller = QLowEnergyController::createCentral(known->second);
    } else {
        // Not seen in a scan: reachable by address only, through our adapter. (Qt's BlueZ
        // path needs the local adapter's address here; without it the attempt goes nowhere.)
        controller = QLowEnergyController::createCentral(QBluetoothAddress(quint64(key)),
                                                         watch->address());
    }
    if (!controller)
        return false;

    const uint32_t id = nextConnId++;
    if (nextConnId == 0)
        nextConnId = 1;
    LinkContext context;
    context.state = state;
    context.generation = generation;
    context.cancelMark = cancelMark;
    context.connectTimeoutMs = connectTimeoutMs;
    context.writeTimeoutMs = writeTimeoutMs;
    auto *newLink = new QtBleLink(id, makeBleAddress(key), controller, context, this);
    connect(newLink, &QtBleLink::finished, this, &QtBleEngine::onLinkFinished);
    links[id] = newLink;
    newLink->open();
    return true;
}

void QtBleEngine::onLinkFinished(uint32_t connId)
{
    links.erase(connId);
}

QtBleLink *QtBleEngine::link(uint32_t connId) const
{
    const auto it = links.find(connId);
    return it == links.end() ? nullptr : it->second;
}

bool QtBleEngine::disconnect(uint32_t connId)
{
    QtBleLink *l = link(connId);
    if (!l)
        return false;
    links.erase(connId);
    l->close();
    return true;
}

bool QtBleEngine::knowsDevice(uint64_t key) const
{
    return devices.count(key) != 0;
}

bool QtBleEngine::hasLink(uint32_t connId) const
{
    return link(connId) != nullptr;
}

bool QtBleEngine::discoverDatabase(uint32_t connId)
{
    QtBleLink *l = link(connId);
    return l && l->discoverDatabase();
}

bool QtBleEngine::writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                     uint16_t valueHandle, uint16_t value)
{
    QtBleLink *l = link(connId);
    return l && l->writeConfiguration(descriptorHandle, valueHandle, value);
}

bool QtBleEngine::write(uint32_t connId, uint16_t valueHandle, const QByteArray &data,
                        std::chrono::steady_clock::time_point deadline)
{
    QtBleLink *l = link(connId);
    return l && l->write(valueHandle, data, deadline);
}
