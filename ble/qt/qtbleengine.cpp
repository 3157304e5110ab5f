#include "qtbleengine.h"

#include "devicekey.h"
#include "hostevents.h"
#include "qtblelink.h"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothLocalDevice>
#include <QLoggingCategory>
#include <QLowEnergyController>

Q_LOGGING_CATEGORY(lcEngine, "imucal.qtble", QtWarningMsg)

QtBleEngine::QtBleEngine(int connectTimeout, QObject *parent)
    : QObject(parent),
      connectTimeoutMs(connectTimeout)
{
}

QtBleEngine::~QtBleEngine()
{
    closeAll();
}

void QtBleEngine::closeAll()
{
    if (agent)
        agent->stop();
    for (auto &entry : links)
        entry.second->close();
    links.clear();
}

bool QtBleEngine::init(const HostEventTarget &newTarget)
{
    // A new initialisation starts from an adapter just found: no links, no scan.
    closeAll();
    delete agent;
    agent = nullptr;
    devices.clear();
    target = newTarget;
    initialised = true;
    started = false;
    ready = false;
    return true;
}

bool QtBleEngine::start()
{
    if (!initialised)
        return false;
    started = true;
    // No adapter, or one that is switched off, is a dongle that failed to come up.
    const QList<QBluetoothHostInfo> adapters = QBluetoothLocalDevice::allDevices();
    ready = false;
    if (!adapters.isEmpty()) {
        adapter = adapters.first().address();
        QBluetoothLocalDevice local(adapter);
        ready = local.isValid() && local.hostMode() != QBluetoothLocalDevice::HostPoweredOff;
    }
    qCInfo(lcEngine) << "adapters" << adapters.size() << "ready" << ready;
    target.post(hostReadyEvent(ready));
    return true;
}

bool QtBleEngine::startScan()
{
    if (!ready)
        return false;
    if (!agent) {
        agent = new QBluetoothDeviceDiscoveryAgent(adapter, this);
        // Runs until stopped.
        agent->setLowEnergyDiscoveryTimeout(0);
        connect(agent, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
                &QtBleEngine::onDeviceSeen);
        connect(agent, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
                [this](const QBluetoothDeviceInfo &info) { onDeviceSeen(info); });
    }
    if (agent->isActive())
        return true;
    agent->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
    qCInfo(lcEngine) << "scan" << agent->isActive() << agent->error() << agent->errorString();
    return agent->isActive() || agent->error() == QBluetoothDeviceDiscoveryAgent::NoError;
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
    const uint64_t key = deviceKey(info);
    devices[key] = info;
    const QByteArray name = announcedName(info.name(), key);
    target.post(hostDeviceFoundEvent(makeBleAddress(key), name.isNull() ? nullptr : name.constData(),
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

bool QtBleEngine::connectTo(uint64_t key)
{
    if (!ready)
        return false;
    for (const auto &entry : links) {
        if (entry.second->isConnecting())
            return false;
    }
    QLowEnergyController *controller = nullptr;
    const auto known = devices.find(key);
    if (known != devices.end()) {
        controller = QLowEnergyController::createCentral(known->second);
    } else {
        // Never seen in a scan: reachable by address only, through our adapter. (Qt's BlueZ
        // path needs the local adapter's address here; without it the attempt goes nowhere.)
        controller = QLowEnergyController::createCentral(QBluetoothAddress(quint64(key)), adapter);
    }
    if (!controller)
        return false;

    const uint32_t id = nextConnId++;
    if (nextConnId == 0)
        nextConnId = 1;
    auto *newLink = new QtBleLink(id, makeBleAddress(key), controller, target, connectTimeoutMs, this);
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

std::shared_ptr<WriteResult> QtBleEngine::write(uint32_t connId, uint16_t valueHandle,
                                                const QByteArray &data)
{
    QtBleLink *l = link(connId);
    return l ? l->write(valueHandle, data) : nullptr;
}
