#include "windowfixture.h"

#include "btthread.h"
#include "calibthread.h"
#include "magthread.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

// One BtSender announcement.
struct Announcement
{
    int code;
    const char *text;
    const char *address;
};
using Announcements = QVector<Announcement>;

// One btnSender report.
using Report = QVector<short>;
using Reports = QVector<Report>;

// Orientation of the i-th sample of a scripted check.
using Script = std::function<IMU_POS(int)>;

bool showsPicture(const QLabel *label)
{
    return !label->pixmap(Qt::ReturnByValue).isNull();
}

IMU_POS pos(float a1, float a2, float a3)
{
    IMU_POS p;
    p.angle1 = a1;
    p.angle2 = a2;
    p.angle3 = a3;
    return p;
}

const char *const LightLabels[] = {"lab_light_right", "lab_light_back", "lab_light_middle",
                                   "lab_light_left", "lab_light_power", "lab_trigger_stick",
                                   "lab_rocker_light"};
const char *const LightImages[] = {"right", "back", "middle", "left", "power", "trigger",
                                   "rocker"};

QImage argb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

const QString statusPrefix = QStringLiteral("<html><head/><body><p><span style=\"color:#d4d4d4;\">");
const QString statusSuffix = QStringLiteral("</span></p></body></html>");

} // namespace

Q_DECLARE_METATYPE(Announcements)
Q_DECLARE_METATYPE(Reports)
Q_DECLARE_METATYPE(Script)

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void deviceList_data();
    void deviceList();
    void deviceBoxes_data();
    void deviceBoxes();
    void connectPicksSelectedEntry_data();
    void connectPicksSelectedEntry();
    void searchStartsWorkerThenRescans();

    void lights_data();
    void lights();
    void triggerAndJoystick_data();
    void triggerAndJoystick();
    void rawAndPosSamples();

    void calibration_data();
    void calibration();
    void calibrationInsideRangeChangesNothing();
    void startCalibResetsExtremesOnly();
    void save_data();
    void save();

    void checkProgress_data();
    void checkProgress();
    void checkVerdict_data();
    void checkVerdict();
    void checkRestartInTheMiddle();
    void checkIgnoresLateTicks();
    void checkRestartAfterStopKeepsTicking();

private:
    // Feeds `samples` orientation samples, each taken by one check tick.
    void feedCheck(int samples, const Script &script);
    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }

    std::unique_ptr<PictureDir> pictures;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
    RecordingBackend backend;
};

void TestWindow::initTestCase()
{
    pictures.reset(new PictureDir);
    QVERIFY(pictures->isValid());
    setHostBackend(&backend);
}

void TestWindow::init()
{
    backend.clear();
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
}

void TestWindow::cleanup()
{
    probe->stopWorkers();
    probe.reset();
    window.reset();
}

// ---- Device page ------------------------------------------------------------------------

void TestWindow::deviceList_data()
{
    QTest::addColumn<Announcements>("announcements");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("one controller")
        << Announcements{{3, "IMU-1", "00025B00A1B2"}}
        << QStringList{"IMU-1"} << QStringList{"00025B00A1B2"};
    QTest::newRow("seen again under another name keeps the first")
        << Announcements{{3, "Unknown Device", "00025B00A1B2"}, {3, "IMU-1", "00025B00A1B2"},
                         {3, "IMU-1", "00025B00A1B2"}}
        << QStringList{"Unknown Device"} << QStringList{"00025B00A1B2"};
    QTest::newRow("same name, two addresses")
        << Announcements{{3, "IMU", "00025B00A1B2"}, {3, "IMU", "00025B00A1B3"}}
        << QStringList{"IMU", "IMU"} << QStringList{"00025B00A1B2", "00025B00A1B3"};
    QTest::newRow("interleaved sightings keep first-seen order")
        << Announcements{{3, "A", "000000000001"}, {3, "B", "000000000002"},
                         {3, "A", "000000000001"}, {3, "C", "000000000003"},
                         {3, "B", "000000000002"}}
        << QStringList{"A", "B", "C"}
        << QStringList{"000000000001", "000000000002", "000000000003"};
    QTest::newRow("address compared exactly")
        << Announcements{{3, "A", "00000000000A"}, {3, "a", "00000000000a"}}
        << QStringList{"A", "a"} << QStringList{"00000000000A", "00000000000a"};
    QTest::newRow("missing name gives an empty name")
        << Announcements{{3, nullptr, "000000000001"}}
        << QStringList{""} << QStringList{"000000000001"};
    QTest::newRow("other codes list nothing")
        << Announcements{{-2, "Close All the button!\n", nullptr}, {0, "x", "000000000001"},
                         {1, "x", "000000000001"}, {5, "x", "000000000001"},
                         {-3, "x", "000000000001"}, {2, "ready\n", nullptr}}
        << QStringList{} << QStringList{};
}

void TestWindow::deviceList()
{
    QFETCH(Announcements, announcements);
    QFETCH(QStringList, names);
    QFETCH(QStringList, addresses);

    BoxCatcher boxes;
    for (const Announcement &a : announcements)
        probe->btDevice(a.code, a.text, a.address);
    QVERIFY(boxes.seen.isEmpty());

    auto *combo = window->findChild<QComboBox *>("comboBox");
    QCOMPARE(probe->deviceNames(), names);
    QCOMPARE(probe->deviceAddresses().size(), addresses.size());
    QCOMPARE(combo->count(), addresses.size());
    for (int i = 0; i < addresses.size(); ++i) {
        QCOMPARE(QString::fromLatin1(probe->deviceAddresses().at(i)), addresses.at(i));
        QCOMPARE(combo->itemText(i), addresses.at(i));
        QVERIFY(combo->itemIcon(i).isNull());
        QVERIFY(!combo->itemData(i).isValid());
    }
    // The first controller found is the one the connect button acts on.
    QCOMPARE(combo->currentIndex(), addresses.isEmpty() ? -1 : 0);
}

void TestWindow::deviceBoxes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("buttonsEnabled");

    QTest::newRow("dongle failed")
        << -1 << QByteArray("Dongle failed to initialize!Please insert the dongle to computer!\n")
        << false;
    QTest::newRow("write acknowledged") << 4 << QByteArray("Write data success!") << true;
    QTest::newRow("write refused") << 4 << QByteArray("Write data fail!") << true;
}

void TestWindow::deviceBoxes()
{
    QFETCH(int, code);
    QFETCH(QByteArray, text);
    QFETCH(bool, buttonsEnabled);

    auto *search = window->findChild<QPushButton *>("btn_search");
    auto *connectButton = window->findChild<QPushButton *>("btn_connect");
    if (!buttonsEnabled) {   // a failing dongle is announced while the worker starts
        search->setDisabled(true);
        connectButton->setDisabled(true);
    }

    BoxCatcher boxes;
    probe->btDevice(code, text.constData(), nullptr);

    QCOMPARE(boxes.seen.size(), 1);
    const BoxSeen &box = boxes.seen.first();
    QCOMPARE(box.title, QString());
    QCOMPARE(box.text, QString::fromLatin1(text));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.modal);
    QCOMPARE(box.parent, static_cast<QWidget *>(window.get()));
    QCOMPARE(search->isEnabled(), buttonsEnabled);
    QCOMPARE(connectButton->isEnabled(), buttonsEnabled);
    QCOMPARE(probe->deviceAddresses().size(), 0);
}

void TestWindow::connectPicksSelectedEntry_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("calls");

    const QStringList connectTo2{"disconnect", "stopLeSearch", "stopDeviceSearch",
                                 "setConnectionParams", "connect 000000000002"};
    QTest::newRow("before any search") << false << QStringList{} << -1 << QStringList{};
    QTest::newRow("empty list") << true << QStringList{} << -1 << QStringList{};
    QTest::newRow("second entry selected")
        << true << QStringList{"000000000001", "000000000002", "000000000003"} << 1
        << connectTo2;
    QTest::newRow("typed text matches no entry")
        << true << QStringList{"000000000001"} << -2 << QStringList{};
}

void TestWindow::connectPicksSelectedEntry()
{
    QFETCH(bool, worker);
    QFETCH(QStringList, listed);
    QFETCH(int, selected);
    QFETCH(QStringList, calls);

    std::unique_ptr<BtThread> thread(worker ? new BtThread : nullptr);
    probe->btThread() = thread.get();
    for (const QString &address : listed)
        probe->btDevice(3, "IMU", address.toLatin1().constData());
    auto *combo = window->findChild<QComboBox *>("comboBox");
    if (selected >= 0) {
        combo->setCurrentIndex(selected);
    } else if (selected == -2) {
        combo->setEditable(true);
        combo->setEditText(QStringLiteral("00000000000F"));
    }

    window->findChild<QPushButton *>("btn_connect")->click();
    QCOMPARE(backend.calls(), calls);
    probe->btThread() = nullptr;
}

void TestWindow::searchStartsWorkerThenRescans()
{
    auto *search = window->findChild<QPushButton *>("btn_search");
    auto *connectButton = window->findChild<QPushButton *>("btn_connect");
    auto *combo = window->findChild<QComboBox *>("comboBox");

    search->click();
    QVERIFY(probe->btThread());
    QVERIFY(!search->isEnabled());
    QVERIFY(!connectButton->isEnabled());
    QTRY_VERIFY(backend.calls().contains(QStringLiteral("start")));

    // The four worker signals reach their slots.
    BtThread *worker = probe->btThread();
    emit worker->BtSender(2, const_cast<char *>("ready\n"), nullptr);
    QVERIFY(search->isEnabled());
    QVERIFY(connectButton->isEnabled());
    emit worker->BtSender(3, const_cast<char *>("IMU"), const_cast<char *>("000000000001"));
    QCOMPARE(combo->count(), 1);
    emit worker->posSender(pos(1.0f, 2.0f, 3.0f));
    QCOMPARE(probe->posData().angle3, 3.0f);
    IMU_RAW raw;
    raw.mag_y = 77;
    emit worker->rawSender(raw);
    QCOMPARE(probe->rawData().mag_y, int16_t(77));
    emit worker->btnSender(0, 0, 127, 0);
    QCOMPARE(label("lab_rocker_cross")->geometry().topLeft(), QPoint(321, 87));

    // A later press empties the list and scans again with the same worker.
    backend.clear();
    search->click();
    QCOMPARE(probe->btThread(), worker);
    QCOMPARE(combo->count(), 0);
    QVERIFY(probe->deviceNames().isEmpty());
    QVERIFY(probe->deviceAddresses().isEmpty());
    QCOMPARE(backend.calls(), (QStringList{"cancel", "disconnect", "startLeScan"}));
    QVERIFY(search->isEnabled());
}

// ---- Live display -----------------------------------------------------------------------

void TestWindow::lights_data()
{
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QStringList>("lit");

    const Report rest{0, -128, 0, 0};
    QTest::newRow("right") << Reports{{0x01, -128, 0, 0}} << QStringList{"right"};
    QTest::newRow("each button in turn stays lit")
        << Reports{{0x02, -128, 0, 0}, {0x04, -128, 0, 0}, {0x08, -128, 0, 0},
                   {0x10, -128, 0, 0}}
        << QStringList{"back", "middle", "left", "power"};
    QTest::newRow("0x03 lights right only, back keeps its state")
        << Reports{{0x03, -128, 0, 0}} << QStringList{"right"};
    QTest::newRow("0x03 after back keeps back lit")
        << Reports{{0x02, -128, 0, 0}, {0x03, -128, 0, 0}} << QStringList{"back", "right"};
    QTest::newRow("all bits light right") << Reports{{-1, -128, 0, 0}} << QStringList{"right"};
    QTest::newRow("0x20 clears everything")
        << Reports{{0x01, 0, 50, 0}, {0x20, -128, 0, 0}} << QStringList{};
    QTest::newRow("0x40 clears, trigger and joystick relight")
        << Reports{{0x01, 0, 50, 0}, {0x02, -128, 0, 0}, {0x40, 0, 0, -50}}
        << QStringList{"trigger", "rocker"};
    QTest::newRow("no button clears") << Reports{{0x10, -128, 0, 0}, rest} << QStringList{};
    QTest::newRow("button held keeps trigger and joystick lit after release")
        << Reports{{0x01, 0, 50, 0}, {0x01, -128, 0, 0}}
        << QStringList{"right", "trigger", "rocker"};
}

void TestWindow::lights()
{
    QFETCH(Reports, reports);
    QFETCH(QStringList, lit);

    for (const Report &r : reports)
        probe->btnData(r[0], r[1], r[2], r[3]);

    for (int i = 0; i < 7; ++i) {
        QLabel *light = label(LightLabels[i]);
        QVERIFY2(showsPicture(light) == lit.contains(LightImages[i]), LightLabels[i]);
        if (showsPicture(light))
            QCOMPARE(argb(light->pixmap(Qt::ReturnByValue).toImage()),
                     argb(*probe->image(LightImages[i])));
    }
}

void TestWindow::triggerAndJoystick_data()
{
    QTest::addColumn<short>("trig");
    QTest::addColumn<short>("x");
    QTest::addColumn<short>("y");
    QTest::addColumn<bool>("litBefore");
    QTest::addColumn<int>("top");
    QTest::addColumn<QPoint>("cross");
    QTest::addColumn<bool>("triggerLit");
    QTest::addColumn<bool>("rockerLit");

    // A button is held, so lights that are on stay on unless the report lights them.
    QTest::newRow("released, centre, dark stays dark")
        << short(-128) << short(-3) << short(3) << false << 158 << QPoint(287, 87)
        << false << false;
    QTest::newRow("rest band edges keep lit lights lit")
        << short(-125) << short(10) << short(-10) << true << 157 << QPoint(289, 85)
        << true << true;
    QTest::newRow("rest band edges leave dark lights dark")
        << short(-125) << short(10) << short(-10) << false << 157 << QPoint(289, 85)
        << false << false;
    QTest::newRow("just out of rest")
        << short(-124) << short(11) << short(0) << false << 156 << QPoint(290, 87)
        << true << true;
    QTest::newRow("full travel")
        << short(127) << short(-128) << short(127) << false << 2 << QPoint(252, 121)
        << true << true;
}

void TestWindow::triggerAndJoystick()
{
    QFETCH(short, trig);
    QFETCH(short, x);
    QFETCH(short, y);
    QFETCH(bool, litBefore);
    QFETCH(int, top);
    QFETCH(QPoint, cross);
    QFETCH(bool, triggerLit);
    QFETCH(bool, rockerLit);

    if (litBefore)
        probe->btnData(0x01, 0, 50, 50);
    probe->btnData(0x01, trig, x, y);

    // The picture's top rows show from row `top` down to the label's bottom edge; nothing of
    // it is drawn above.
    QLabel *bar = label("lab_trigger_progress");
    QCOMPARE(bar->frameRect().topLeft(), QPoint(0, top));
    const QImage drawn = bar->grab().toImage();
    QCOMPARE(drawn.height(), 161);
    QCOMPARE(QColor(drawn.pixel(40, top)), QColor(0, 0, 200));
    QCOMPARE(QColor(drawn.pixel(40, 160)), QColor(160 - top, 0, 200));
    QVERIFY(qBlue(drawn.pixel(40, top - 1)) != 200);
    QCOMPARE(label("lab_rocker_cross")->geometry(), QRect(cross, QSize(17, 18)));
    QCOMPARE(showsPicture(label("lab_trigger_stick")), triggerLit);
    QCOMPARE(showsPicture(label("lab_rocker_light")), rockerLit);
}

void TestWindow::rawAndPosSamples()
{
    IMU_RAW raw;
    raw.first_x = 9;
    raw.mag_x = -5;
    raw.mag_y = 0;
    raw.mag_z = 32767;
    probe->rawSample(raw);
    QCOMPARE(label("lab_magdata_x")->text(), QStringLiteral("-5"));
    QCOMPARE(label("lab_magdata_y")->text(), QStringLiteral("0"));
    QCOMPARE(label("lab_magdata_z")->text(), QStringLiteral("32767"));
    QCOMPARE(probe->rawData().first_x, int16_t(9));
    QCOMPARE(label("lab_status")->text(), statusPrefix + "Status:Calibration!" + statusSuffix);

    probe->posSample(pos(10.0f, 20.0f, 30.0f));
    QCOMPARE(probe->lastPosData().angle1, 0.0f);
    QCOMPARE(probe->posData().angle2, 20.0f);
    QVERIFY(probe->posUpdated());
    QCOMPARE(label("lab_status")->text(), statusPrefix + "Status:Normal!" + statusSuffix);

    probe->posSample(pos(11.0f, 21.0f, 31.0f));
    QCOMPARE(probe->lastPosData().angle3, 30.0f);
    QCOMPARE(probe->posData().angle1, 11.0f);
}

// ---- Magnetometer calibration -----------------------------------------------------------

void TestWindow::calibration_data()
{
    QTest::addColumn<QVector<QVector<int>>>("samples");
    QTest::addColumn<QStringList>("maxTexts");
    QTest::addColumn<QStringList>("minTexts");
    QTest::addColumn<QVector<QRect>>("bars");

    QTest::newRow("worked example on x")
        << QVector<QVector<int>>{{120, 0, 0}, {-75, 0, 0}}
        << QStringList{"120", "0", "0"} << QStringList{"-75", "0", "0"}
        << QVector<QRect>{{80, 132, 80, 126}, {330, 210, 80, 0}, {580, 210, 80, 0}};
    QTest::newRow("first sample after start")
        << QVector<QVector<int>>{{10, -10, 0}}
        << QStringList{"10", "0", "0"} << QStringList{"0", "-10", "0"}
        << QVector<QRect>{{80, 204, 80, 6}, {330, 210, 80, 6}, {580, 210, 80, 0}};
    QTest::newRow("beyond the limits")
        << QVector<QVector<int>>{{350, 0, -350}}
        << QStringList{"200", "0", "0"} << QStringList{"0", "0", "-200"}
        << QVector<QRect>{{80, 80, 80, 130}, {330, 210, 80, 0}, {580, 210, 80, 130}};
}

void TestWindow::calibration()
{
    QFETCH(QVector<QVector<int>>, samples);
    QFETCH(QStringList, maxTexts);
    QFETCH(QStringList, minTexts);
    QFETCH(QVector<QRect>, bars);

    for (const QVector<int> &s : samples) {
        IMU_RAW raw;
        raw.mag_x = int16_t(s[0]);
        raw.mag_y = int16_t(s[1]);
        raw.mag_z = int16_t(s[2]);
        probe->rawSample(raw);
        probe->magTick();
    }

    const char *const maxNames[] = {"lab_max_x", "lab_max_y", "lab_max_z"};
    const char *const minNames[] = {"lab_min_x", "lab_min_y", "lab_min_z"};
    const char *const barNames[] = {"lab_block_x", "lab_block_y", "lab_block_z"};
    const char *const valueNames[] = {"lab_magdata_x", "lab_magdata_y", "lab_magdata_z"};
    const QString tab(QLatin1Char('\t'));
    const QString extremeSheet =
        "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;"
        "border-width: 0px;" + tab.repeated(9) + " border-color: rgba(255, 255, 255, 0);"
        "/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
    const QString valueSheet =
        "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;"
        "border-width: 0px;" + tab.repeated(10) + " border-color: rgba(255, 255, 255, 0);"
        "/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
    for (int axis = 0; axis < 3; ++axis) {
        QCOMPARE(label(maxNames[axis])->text(), maxTexts[axis]);
        QCOMPARE(label(minNames[axis])->text(), minTexts[axis]);
        QCOMPARE(label(barNames[axis])->geometry(), bars[axis]);
        QCOMPARE(label(maxNames[axis])->styleSheet(), extremeSheet);
        QCOMPARE(label(minNames[axis])->styleSheet(), extremeSheet);
        QCOMPARE(label(valueNames[axis])->styleSheet(), valueSheet);
    }
    // The limited extremes are what stays recorded.
    QVERIFY(probe->magMax()[0] <= 200 && probe->magMin()[2] >= -200);
}

void TestWindow::calibrationInsideRangeChangesNothing()
{
    IMU_RAW raw;
    raw.mag_x = 100;
    raw.mag_y = -100;
    probe->rawSample(raw);
    probe->magTick();

    const char *const names[] = {"lab_max_x", "lab_min_y", "lab_magdata_x", "lab_block_x"};
    for (const char *name : names)
        label(name)->setStyleSheet(QStringLiteral("QLabel{}"));
    const QRect bar = label("lab_block_x")->geometry();

    raw.mag_x = 50;
    raw.mag_y = -100;
    raw.mag_z = 0;
    probe->rawSample(raw);
    probe->magTick();

    for (const char *name : names)
        QCOMPARE(label(name)->styleSheet(), QStringLiteral("QLabel{}"));
    QCOMPARE(label("lab_block_x")->geometry(), bar);
    QCOMPARE(label("lab_max_x")->text(), QStringLiteral("100"));
}

void TestWindow::startCalibResetsExtremesOnly()
{
    IMU_RAW raw;
    raw.mag_x = 100;
    probe->rawSample(raw);
    probe->magTick();
    const QRect bar = label("lab_block_x")->geometry();

    probe->startCalibPressed();
    MagThread *ticker = probe->magThread();
    QVERIFY(ticker);
    QVERIFY(!probe->calibIdle());
    QCOMPARE(probe->magMax()[0], int16_t(0));
    QCOMPARE(label("lab_max_x")->text(), QStringLiteral("100"));
    QCOMPARE(label("lab_block_x")->geometry(), bar);

    // A second start reuses the ticker.
    probe->magMax()[1] = 5;
    probe->startCalibPressed();
    QCOMPARE(probe->magThread(), ticker);
    QCOMPARE(probe->magMax()[1], int16_t(0));

    // The ticker drives the page: the held sample is a new extreme after the reset.
    QTRY_COMPARE(probe->magMax()[0], int16_t(100));
}

void TestWindow::save_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<QStringList>("texts");   // max x, y, z, min x, y, z
    QTest::addColumn<QVector<int>>("param");

    QTest::newRow("before any calibration")
        << true << QStringList{} << QVector<int>{0, 0, 0, 0, 0, 0};
    QTest::newRow("shown values")
        << true << QStringList{"120", "7", "200", "-75", "-0", "-200"}
        << QVector<int>{120, 7, 200, -75, 0, -200};
    QTest::newRow("text that is no number saves 0")
        << true << QStringList{"12a", "", " 5", "-", "99999", "-200"}
        << QVector<int>{0, 0, 5, 0, 0, -200};
    QTest::newRow("no worker") << false << QStringList{} << QVector<int>{};
}

void TestWindow::save()
{
    QFETCH(bool, worker);
    QFETCH(QStringList, texts);
    QFETCH(QVector<int>, param);

    const char *const names[] = {"lab_max_x", "lab_max_y", "lab_max_z",
                                 "lab_min_x", "lab_min_y", "lab_min_z"};
    for (int i = 0; i < texts.size(); ++i)
        label(names[i])->setText(texts[i]);
    if (texts.isEmpty() && worker) {   // the form's own start texts
        QCOMPARE(label("lab_max_x")->text(), QStringLiteral("0"));
        QCOMPARE(label("lab_min_x")->text(), QStringLiteral("-0"));
    }

    // A worker that is not running cannot write: the save reports failure.
    std::unique_ptr<BtThread> thread(worker ? new BtThread : nullptr);
    probe->btThread() = thread.get();
    MAG_PARAM &saved = probe->magParam();
    saved.max_x = saved.max_y = saved.max_z = saved.min_x = saved.min_y = saved.min_z = 1234;

    BoxCatcher boxes;
    probe->savePressed();
    probe->btThread() = nullptr;

    if (!worker) {
        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(saved.max_x, int16_t(1234));
        return;
    }
    const QVector<int> got{saved.max_x, saved.max_y, saved.max_z,
                           saved.min_x, saved.min_y, saved.min_z};
    QCOMPARE(got, param);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QString());
    QCOMPARE(boxes.seen[0].text, QStringLiteral("Save Parameter Failed!"));
    QCOMPARE(boxes.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(boxes.seen[0].parent, static_cast<QWidget *>(window.get()));
}

// ---- Stationary check -------------------------------------------------------------------

void TestWindow::feedCheck(int samples, const Script &script)
{
    for (int i = 0; i < samples; ++i) {
        probe->posSample(script(i));
        probe->validTick();
    }
}

void TestWindow::checkProgress_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<int>("boxes");

    QTest::newRow("first sample") << 1 << 0 << "0" << 0;
    QTest::newRow("sample 421") << 422 << 275 << "42" << 0;
    QTest::newRow("sample 999") << 1000 << 654 << "99" << 0;
    QTest::newRow("sample 1000 ends the check") << 1001 << 655 << "100" << 1;
}

void TestWindow::checkProgress()
{
    QFETCH(int, samples);
    QFETCH(int, width);
    QFETCH(QString, percent);
    QFETCH(int, boxes);

    probe->checkPressed();
    BoxCatcher catcher;
    feedCheck(samples, [](int) { return pos(1.0f, 2.0f, 3.0f); });

    QCOMPARE(label("lab_check_progress")->geometry(), QRect(50, 100, width, 61));
    QLabel *count = label("lab_count");
    QCOMPARE(count->text(),
             "<html><head/><body><p><span style=\" color:#d4d4d4;\">" + percent
                 + "%</span></p></body></html>");
    QCOMPARE(count->geometry(), QRect(552, 95, 150, 61));
    QCOMPARE(count->alignment(), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(catcher.seen.size(), boxes);
    QCOMPARE(probe->checkCount(), samples);
    QCOMPARE(probe->checkActive(), boxes == 0);
}

void TestWindow::checkVerdict_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("lying still")
        << Script([](int) { return pos(5.0f, -3.0f, 90.0f); }) << "Station check success!";
    QTest::newRow("angle2 creeps 0.1 in every sample")
        << Script([](int i) { return pos(0.0f, 0.1f * float(i), 0.0f); })
        << "Station check failed!";
    QTest::newRow("angle2 creeps 0.1 in 900 samples")
        << Script([](int i) { return pos(0.0f, 0.1f * float(std::min(i, 900)), 0.0f); })
        << "Station check success!";
    QTest::newRow("angle1 jitters across the seam")
        << Script([](int i) { return pos(i % 2 ? 359.9f : 0.0f, 0.0f, 0.0f); })
        << "Station check success!";
    QTest::newRow("angle3 turning")
        << Script([](int i) { return pos(0.0f, 0.0f, std::fmod(float(i), 360.0f)); })
        << "Station check failed!";
}

void TestWindow::checkVerdict()
{
    QFETCH(Script, script);
    QFETCH(QString, verdict);

    probe->posSample(script(0));   // the sample before the check
    probe->checkPressed();
    BoxCatcher catcher;
    feedCheck(1001, [&script](int i) { return script(i + 1); });

    QCOMPARE(catcher.seen.size(), 1);
    QCOMPARE(catcher.seen[0].title, QStringLiteral("Stationary"));
    QCOMPARE(catcher.seen[0].text, verdict);
    QCOMPARE(catcher.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(catcher.seen[0].modal);
    QCOMPARE(catcher.seen[0].parent, static_cast<QWidget *>(window.get()));
}

void TestWindow::checkRestartInTheMiddle()
{
    probe->checkPressed();
    CalibThread *ticker = probe->calibThread();
    feedCheck(500, [](int i) { return pos(0.0f, float(i), 0.0f); });   // would fail
    QCOMPARE(probe->checkCount(), 500);

    probe->checkPressed();
    QCOMPARE(probe->calibThread(), ticker);
    QCOMPARE(probe->checkCount(), 0);
    QCOMPARE(probe->checkSum()[1], 0.0);

    BoxCatcher catcher;
    feedCheck(1001, [](int) { return pos(0.0f, 499.0f, 0.0f); });
    QCOMPARE(catcher.seen.size(), 1);
    QCOMPARE(catcher.seen[0].text, QStringLiteral("Station check success!"));
}

void TestWindow::checkIgnoresLateTicks()
{
    probe->checkPressed();
    int countWhileOpen = -1;
    BoxCatcher catcher([&] {
        // Ticks while the verdict is up take nothing.
        probe->posSample(pos(50.0f, 50.0f, 50.0f));
        probe->validTick();
        countWhileOpen = probe->checkCount();
    });
    feedCheck(1001, [](int) { return pos(0.0f, 0.0f, 0.0f); });
    QCOMPARE(catcher.seen.size(), 1);
    QCOMPARE(countWhileOpen, 1000);
    QCOMPARE(probe->checkCount(), 1001);

    feedCheck(5, [](int i) { return pos(float(i), 0.0f, 0.0f); });
    QCOMPARE(probe->checkCount(), 1001);
    QCOMPARE(catcher.seen.size(), 1);
    QCOMPARE(label("lab_check_progress")->width(), 655);
}

void TestWindow::checkRestartAfterStopKeepsTicking()
{
    // The ticker is told to stop at the end of a check and a new check starts before its
    // loop has necessarily noticed: the new check still gets its ticks.
    probe->checkPressed();
    probe->calibThread()->stop();
    probe->checkActive() = false;
    probe->checkPressed();

    for (int i = 0; i < 3; ++i) {
        probe->posSample(pos(0.0f, 0.0f, 0.0f));
        QTRY_VERIFY(!probe->posUpdated());
    }
    QCOMPARE(probe->checkCount(), 3);
    QVERIFY(probe->calibThread()->isRunning());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
