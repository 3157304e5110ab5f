#include "windowfixture.h"

#include "btthread.h"
#include "calibthread.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

struct Announcement
{
    int code;
    const char *text;
    const char *address;
};
using Announcements = QVector<Announcement>;
using Reports = QVector<QVector<short>>;   // btn, trig, x, y
using Script = std::function<IMU_POS(int)>;   // orientation of the i-th sample of a check

enum Tamper { NoTamper, Emptied, OtherPicture };

IMU_POS pos(float a1, float a2, float a3)
{
    IMU_POS p;
    p.angle1 = a1;
    p.angle2 = a2;
    p.angle3 = a3;
    return p;
}

QImage argb(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

const char *const LightLabels[] = {"lab_light_right", "lab_light_back", "lab_light_middle",
                                   "lab_light_left", "lab_light_power", "lab_trigger_stick",
                                   "lab_rocker_light"};
const char *const LightImages[] = {"right", "back", "middle", "left", "power", "trigger",
                                   "rocker"};

// Counts paint events of every label in the window.
class LabelPaints : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && qobject_cast<QLabel *>(watched))
            ++count;
        return false;
    }
};

// Handles posted update requests, so every pending repaint is done on return.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

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
    void connectPicksSelectedEntry_data();
    void connectPicksSelectedEntry();

    void lights_data();
    void lights();
    void repeatedReportPaintsNothing_data();
    void repeatedReportPaintsNothing();
    void triggerAndJoystick_data();
    void triggerAndJoystick();

    void calibration_data();
    void calibration();
    void calibrationInsideRangeChangesNothing();
    void save_data();
    void save();

    void checkProgress_data();
    void checkProgress();
    void checkVerdict_data();
    void checkVerdict();
    void checkRestartInTheMiddle();

private:
    void report(const Reports &reports)
    {
        for (const QVector<short> &r : reports)
            probe->btnData(r[0], r[1], r[2], r[3]);
    }
    // Feeds `samples` orientation samples, each taken by one check tick.
    void feedCheck(int samples, const Script &script)
    {
        for (int i = 0; i < samples; ++i) {
            probe->posSample(script(i));
            probe->validTick();
        }
    }
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

void TestWindow::deviceList_data()
{
    QTest::addColumn<Announcements>("announcements");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("seen again under another name keeps the first")
        << Announcements{{3, "Unknown Device", "00025B00A1B2"}, {3, "IMU-1", "00025B00A1B2"}}
        << QStringList{"Unknown Device"} << QStringList{"00025B00A1B2"};
    QTest::newRow("same name, two addresses, first-seen order")
        << Announcements{{3, "IMU", "00025B00A1B3"}, {3, "IMU", "00025B00A1B2"},
                         {3, "IMU", "00025B00A1B3"}}
        << QStringList{"IMU", "IMU"} << QStringList{"00025B00A1B3", "00025B00A1B2"};
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
    }
    QCOMPARE(combo->currentIndex(), 0);
}

void TestWindow::connectPicksSelectedEntry_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("empty list") << QStringList{} << -1 << QStringList{};
    QTest::newRow("second entry selected")
        << QStringList{"000000000001", "000000000002", "000000000003"} << 1
        << QStringList{"disconnect", "stopLeSearch", "stopDeviceSearch", "setConnectionParams",
                       "connect 000000000002"};
}

void TestWindow::connectPicksSelectedEntry()
{
    QFETCH(QStringList, listed);
    QFETCH(int, selected);
    QFETCH(QStringList, calls);

    BtThread thread;
    probe->btThread() = &thread;
    auto forget = qScopeGuard([this] { probe->btThread() = nullptr; });
    for (const QString &address : listed)
        probe->btDevice(3, "IMU", address.toLatin1().constData());
    if (selected >= 0)
        window->findChild<QComboBox *>("comboBox")->setCurrentIndex(selected);
    window->findChild<QPushButton *>("btn_connect")->click();
    QCOMPARE(backend.calls(), calls);
}

void TestWindow::lights_data()
{
    QTest::addColumn<Reports>("before");
    QTest::addColumn<QString>("tampered");   // a label changed by other code between reports
    QTest::addColumn<int>("tamper");
    QTest::addColumn<Reports>("after");
    QTest::addColumn<QStringList>("lit");

    const QString none;
    QTest::newRow("0x03 after back keeps back lit")
        << Reports{{0x02, -128, 0, 0}} << none << 0 << Reports{{0x03, -128, 0, 0}}
        << QStringList{"back", "right"};
    QTest::newRow("all bits light right")
        << Reports{} << none << 0 << Reports{{-1, -128, 0, 0}} << QStringList{"right"};
    QTest::newRow("0x20 clears, trigger and joystick relight")
        << Reports{{0x01, 0, 50, 0}} << none << 0 << Reports{{0x20, 0, 0, -50}}
        << QStringList{"trigger", "rocker"};
    QTest::newRow("button held keeps trigger and joystick lit")
        << Reports{{0x01, 0, 50, 0}} << none << 0 << Reports{{0x01, -128, 0, 0}}
        << QStringList{"right", "trigger", "rocker"};
    QTest::newRow("no button clears")
        << Reports{{0x10, -128, 0, 0}} << none << 0 << Reports{{0, -128, 0, 0}} << QStringList{};
    QTest::newRow("light emptied elsewhere is lit again")
        << Reports{{0x02, -128, 0, 0}} << "lab_light_back" << int(Emptied)
        << Reports{{0x02, -128, 0, 0}} << QStringList{"back"};
    QTest::newRow("light given another picture gets its own back")
        << Reports{{0x10, -128, 0, 0}} << "lab_light_power" << int(OtherPicture)
        << Reports{{0x10, -128, 0, 0}} << QStringList{"power"};
    QTest::newRow("light given a picture while out is put out")
        << Reports{{0, -128, 0, 0}} << "lab_light_left" << int(OtherPicture)
        << Reports{{0, -128, 0, 0}} << QStringList{};
}

void TestWindow::lights()
{
    QFETCH(Reports, before);
    QFETCH(QString, tampered);
    QFETCH(int, tamper);
    QFETCH(Reports, after);
    QFETCH(QStringList, lit);

    report(before);
    if (QLabel *victim = window->findChild<QLabel *>(tampered)) {
        QPixmap other(8, 8);
        other.fill(Qt::black);
        if (tamper == Emptied)
            victim->clear();
        else
            victim->setPixmap(other);
    }
    report(after);

    for (int i = 0; i < 7; ++i) {
        const QPixmap shown = label(LightLabels[i])->pixmap(Qt::ReturnByValue);
        QVERIFY2(shown.isNull() != lit.contains(LightImages[i]), LightLabels[i]);
        if (!shown.isNull())
            QCOMPARE(argb(shown), probe->image(LightImages[i])->convertToFormat(QImage::Format_ARGB32));
    }
}

void TestWindow::repeatedReportPaintsNothing_data()
{
    QTest::addColumn<Reports>("controls");
    QTest::addColumn<bool>("raw");

    QTest::newRow("button held, trigger and joystick out") << Reports{{0x04, 20, 60, -40}} << false;
    QTest::newRow("raw sample") << Reports{} << true;
}

void TestWindow::repeatedReportPaintsNothing()
{
    QFETCH(Reports, controls);
    QFETCH(bool, raw);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    IMU_RAW sample;
    sample.mag_x = -5;
    auto send = [&] {
        if (raw)
            probe->rawSample(sample);
        report(controls);
        settle();
    };
    send();
    LabelPaints paints;
    qApp->installEventFilter(&paints);
    send();
    QCOMPARE(paints.count, 0);
    // The counter does see repaints: a report that changes a light causes one.
    probe->btnData(0x10, 127, -100, 100);
    settle();
    qApp->removeEventFilter(&paints);
    QVERIFY(paints.count > 0);
}

void TestWindow::triggerAndJoystick_data()
{
    QTest::addColumn<short>("trig");
    QTest::addColumn<short>("x");
    QTest::addColumn<short>("y");
    QTest::addColumn<bool>("litBefore");
    QTest::addColumn<int>("top");
    QTest::addColumn<QPoint>("cross");
    QTest::addColumn<bool>("lit");

    // A button is held, so lights stay as they are unless the report lights them.
    QTest::newRow("released, centre") << short(-128) << short(-3) << short(3) << false << 158
                                      << QPoint(287, 87) << false;
    QTest::newRow("rest band edges keep lit lights lit")
        << short(-125) << short(10) << short(-10) << true << 157 << QPoint(289, 85) << true;
    QTest::newRow("just out of rest") << short(-124) << short(11) << short(0) << false << 156
                                      << QPoint(290, 87) << true;
    QTest::newRow("full travel") << short(127) << short(-128) << short(127) << false << 2
                                 << QPoint(252, 121) << true;
}

void TestWindow::triggerAndJoystick()
{
    QFETCH(short, trig);
    QFETCH(short, x);
    QFETCH(short, y);
    QFETCH(bool, litBefore);
    QFETCH(int, top);
    QFETCH(QPoint, cross);
    QFETCH(bool, lit);

    if (litBefore)
        probe->btnData(0x01, 0, 50, 50);
    probe->btnData(0x01, trig, x, y);

    // Each picture row holds its own number in red: the picture's top rows show from row `top`
    // down to the label's bottom edge, and nothing of it above.
    const QImage drawn = label("lab_trigger_progress")->grab().toImage();
    QCOMPARE(drawn.height(), 161);
    QCOMPARE(QColor(drawn.pixel(40, top)), QColor(0, 0, 200));
    QCOMPARE(QColor(drawn.pixel(40, 160)), QColor(160 - top, 0, 200));
    QVERIFY(qBlue(drawn.pixel(40, top - 1)) != 200);
    QCOMPARE(label("lab_rocker_cross")->geometry(), QRect(cross, QSize(17, 18)));
    QCOMPARE(!label("lab_trigger_stick")->pixmap(Qt::ReturnByValue).isNull(), lit);
    QCOMPARE(!label("lab_rocker_light")->pixmap(Qt::ReturnByValue).isNull(), lit);
}

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
    const char *const names[3][3] = {{"lab_max_x", "lab_min_x", "lab_block_x"},
                                     {"lab_max_y", "lab_min_y", "lab_block_y"},
                                     {"lab_max_z", "lab_min_z", "lab_block_z"}};
    for (int axis = 0; axis < 3; ++axis) {
        QCOMPARE(label(names[axis][0])->text(), maxTexts[axis]);
        QCOMPARE(label(names[axis][1])->text(), minTexts[axis]);
        QCOMPARE(label(names[axis][2])->geometry(), bars[axis]);
    }
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
    probe->rawSample(raw);
    probe->magTick();
    for (const char *name : names)
        QCOMPARE(label(name)->styleSheet(), QStringLiteral("QLabel{}"));
    QCOMPARE(label("lab_block_x")->geometry(), bar);
    QCOMPARE(label("lab_max_x")->text(), QStringLiteral("100"));
}

void TestWindow::save_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<QStringList>("texts");   // max x, y, z, min x, y, z; empty: the form's
    QTest::addColumn<QVector<int>>("param");

    QTest::newRow("form's 0 and -0") << true << QStringList{} << QVector<int>{0, 0, 0, 0, 0, 0};
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
}

void TestWindow::checkProgress_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<int>("boxes");

    QTest::newRow("first sample") << 1 << 0 << "0" << 0;
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
    // Late ticks after the verdict take nothing.
    if (boxes)
        feedCheck(5, [](int i) { return pos(float(i), 0.0f, 0.0f); });

    QCOMPARE(label("lab_check_progress")->geometry(), QRect(50, 100, width, 61));
    QCOMPARE(label("lab_count")->text(), "<html><head/><body><p><span style=\" color:#d4d4d4;\">" + percent
                                + "%</span></p></body></html>");
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
}

void TestWindow::checkRestartInTheMiddle()
{
    probe->checkPressed();
    feedCheck(500, [](int i) { return pos(0.0f, float(i), 0.0f); });   // would fail
    probe->checkPressed();
    QCOMPARE(probe->checkCount(), 0);

    BoxCatcher catcher;
    feedCheck(1001, [](int) { return pos(0.0f, 499.0f, 0.0f); });
    QCOMPARE(catcher.seen.size(), 1);
    QCOMPARE(catcher.seen[0].text, QStringLiteral("Station check success!"));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
