// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "boxcatcher.h"
#include "picturedir.h"
#include "waits.h"
#include "windowprobe.h"

#include "backdropcache.h"
#include "btthread.h"
#include "labeltextcache.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <memory>

namespace {

using Reports = QVector<QVector<short>>;   // btn, trig, x, y
using Script = std::function<IMU_POS(int)>;   // orientation of the i-th sample of a check

QImage argb(const QImage &image) { return image.convertToFormat(QImage::Format_ARGB32); }

// Counts paint events of every label in the window, or of one.
class LabelPaints : public QObject
{
public:
    explicit LabelPaints(QObject *only = nullptr) : only(only) { qApp->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && qobject_cast<QLabel *>(watched)
                && (!only || watched == only))
            ++count;
        return false;
    }
private:
    QObject *only;
};

} // namespace

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
    void lights_data();
    void lights();
    void repeatedReportPaintsNothing_data();
    void repeatedReportPaintsNothing();
    void statusPaintedAsTheLabelWould();
    void panelPaintedAsWithoutItsCache_data();
    void panelPaintedAsWithoutItsCache();
    void triggerAndJoystick_data();
    void triggerAndJoystick();

    void calibration_data();
    void calibration();
    void save_data();
    void save();

    void checkVerdict_data();
    void checkVerdict();

private:
    void report(const Reports &reports)
    {
        for (const QVector<short> &r : reports)
            probe->btnData(r[0], r[1], r[2], r[3]);
    }
    // Feeds samples first..last-1 of `script`, each taken by one check tick.
    void feedCheck(int first, int last, const Script &script)
    {
        for (int i = first; i < last; ++i) {
            probe->posSample(script(i));
            probe->validTick();
        }
    }
    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }

    std::unique_ptr<PictureDir> pictures;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestWindow::initTestCase()
{
    pictures.reset(new PictureDir);
    QVERIFY(pictures->isValid());
}

void TestWindow::init()
{
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
    QTest::addColumn<QStringList>("announcements");   // name|address
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("addresses");
    QTest::newRow("seen again under another name keeps the first")
        << QStringList{"Unknown Device|00025B00A1B2", "IMU-1|00025B00A1B2"}
        << QStringList{"Unknown Device"} << QStringList{"00025B00A1B2"};
    QTest::newRow("same name, two addresses, first-seen order")
        << QStringList{"IMU|00025B00A1B3", "IMU|00025B00A1B2", "IMU|00025B00A1B3"}
        << QStringList{"IMU", "IMU"} << QStringList{"00025B00A1B3", "00025B00A1B2"};
    QTest::newRow("a name that looks like markup") << QStringList{"<b>IMU</b> & co|00025B00A1B4"}
        << QStringList{"<b>IMU</b> & co"} << QStringList{"00025B00A1B4"};
}

void TestWindow::deviceList()
{
    QFETCH(QStringList, announcements);
    QFETCH(QStringList, names);
    QFETCH(QStringList, addresses);

    BoxCatcher boxes;
    for (const QString &a : announcements)
        probe->btDevice(3, a.section('|', 0, 0).toLatin1(), a.section('|', 1).toLatin1());
    QVERIFY(boxes.seen.isEmpty());

    auto *combo = window->findChild<QComboBox *>("comboBox");
    QStringList stored, listed;
    for (const QByteArray &address : probe->deviceAddresses())
        stored << QString::fromLatin1(address);
    for (int i = 0; i < combo->count(); ++i) {
        listed << combo->itemText(i);
        // The tool tip tells units apart by name, with nothing in it taken for markup.
        QVERIFY(combo->itemData(i, Qt::ToolTipRole).toString().contains(names.at(i).toHtmlEscaped()));
    }
    QCOMPARE(probe->deviceNames(), names);
    QCOMPARE(stored, addresses);
    QCOMPARE(listed, addresses);
    QCOMPARE(combo->currentIndex(), 0);
}

void TestWindow::lights_data()
{
    QTest::addColumn<Reports>("before");
    QTest::addColumn<QString>("tampered");   // a label given another picture between reports
    QTest::addColumn<Reports>("after");
    QTest::addColumn<QStringList>("lit");

    QTest::newRow("0x03 after back keeps back lit")
        << Reports{{0x02, -128, 0, 0}} << QString() << Reports{{0x03, -128, 0, 0}}
        << QStringList{"back_light", "right_light"};
    QTest::newRow("all bits light right")
        << Reports{} << QString() << Reports{{-1, -128, 0, 0}} << QStringList{"right_light"};
    QTest::newRow("0x20 clears, trigger and joystick relight")
        << Reports{{0x01, 0, 50, 0}} << QString() << Reports{{0x20, 0, 0, -50}}
        << QStringList{"trigger_stick", "rocker_light"};
    QTest::newRow("light given another picture gets its own back")
        << Reports{{0x10, -128, 0, 0}} << "lab_light_power" << Reports{{0x10, -128, 0, 0}}
        << QStringList{"power_light"};
    QTest::newRow("light given a picture while out is put out")
        << Reports{{0, -128, 0, 0}} << "lab_light_left" << Reports{{0, -128, 0, 0}} << QStringList{};
}

void TestWindow::lights()
{
    QFETCH(Reports, before);
    QFETCH(QString, tampered);
    QFETCH(Reports, after);
    QFETCH(QStringList, lit);

    report(before);
    if (QLabel *victim = window->findChild<QLabel *>(tampered)) {
        QPixmap other(8, 8);
        other.fill(Qt::black);
        victim->setPixmap(other);
    }
    report(after);

    const char *const lights[][2] = {
        {"lab_light_right", "right_light"}, {"lab_light_back", "back_light"},
        {"lab_light_middle", "middle_light"}, {"lab_light_left", "left_light"},
        {"lab_light_power", "power_light"}, {"lab_trigger_stick", "trigger_stick"},
        {"lab_rocker_light", "rocker_light"}};
    for (const auto &light : lights) {
        const QPixmap shown = label(light[0])->pixmap(Qt::ReturnByValue);
        QVERIFY2(shown.isNull() != lit.contains(light[1]), light[0]);
        if (!shown.isNull())
            QCOMPARE(argb(shown.toImage()), argb(QImage(QStringLiteral("image/%1.png").arg(light[1]))));
    }
}

void TestWindow::repeatedReportPaintsNothing_data()
{
    QTest::addColumn<short>("btn");
    QTest::newRow("button held") << short(0x04);
    // All lights go out, and the trigger's and the joystick's come on again at once.
    QTest::newRow("no button") << short(0);
}

void TestWindow::repeatedReportPaintsNothing()
{
    QFETCH(short, btn);
    QVERIFY(showAndWait(window.get()));
    // Once the close button has repainted, so has everything changed before it.
    QWidget *marker = window->findChild<QPushButton *>("btn_close");
    auto allPainted = [&] { return repaintAndWait(marker); };
    IMU_RAW sample;
    sample.mag_x = -5;
    auto send = [&] {
        probe->rawSample(sample);
        probe->btnData(btn, 20, 60, -40);   // trigger and joystick out
    };
    send();
    QVERIFY(allPainted());
    LabelPaints paints;
    send();
    QVERIFY(allPainted());
    QCOMPARE(paints.count, 0);

    // A new status text is painted once, and a changed light is painted.
    LabelPaints statusPaints(label("lab_status"));
    probe->posSample(IMU_POS());
    probe->btnData(0x10, 127, -100, 100);
    QVERIFY(allPainted());
    QCOMPARE(statusPaints.count, 1);
    QVERIFY(paints.count > 1);
}

void TestWindow::statusPaintedAsTheLabelWould()
{
    QVERIFY(showAndWait(window.get()));
    QLabel *status = label("lab_status");
    auto grabStatus = [&](bool normal) {
        normal ? probe->posSample(IMU_POS()) : probe->rawSample(IMU_RAW());
        return window->grab(status->geometry()).toImage();
    };
    const QImage normal = grabStatus(true), calibration = grabStatus(false);
    QVERIFY(normal != calibration);
    delete status->findChild<LabelTextCache *>();
    QCOMPARE(grabStatus(true), normal);
    QCOMPARE(grabStatus(false), calibration);
}

void TestWindow::panelPaintedAsWithoutItsCache_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("as the skin leaves it") << QString();
    QTest::newRow("panel given another picture") << "picture";
    QTest::newRow("panel moved") << "move";
    QTest::newRow("window given another background") << "background";
}

// The window's pixels on screen are the same whether the picture panel paints from its cache
// or the panel and the background under it paint themselves, also after a change that the
// cache must notice.
void TestWindow::panelPaintedAsWithoutItsCache()
{
    QFETCH(QString, change);
    QVERIFY(showAndWait(window.get()));
    QLabel *panel = label("lab_block");
    auto *cache = panel->findChild<BackdropCache *>();
    QVERIFY(cache);
    probe->rawSample(IMU_RAW());   // status text over the panel

    QWidget *marker = window->findChild<QPushButton *>("btn_close");
    auto onScreen = [&] {
        window->update();
        if (!repaintAndWait(marker))
            return QImage();
        QImage shown = window->screen()->grabWindow(window->winId()).toImage();
        // The 3-D view is a window of its own, drawn by GL; it is not the panel's business.
        QWidget *view = window->findChild<QWidget *>("glwg_rotation");
        QPainter(&shown).fillRect(QRect(view->mapTo(window.get(), QPoint()), view->size()),
                                  Qt::black);
        return argb(shown);
    };
    QVERIFY(!onScreen().isNull());
    const int buildsBefore = cache->builds();
    QVERIFY(buildsBefore >= 1);

    if (change == "picture") {
        QPixmap stripes(64, 64);
        stripes.fill(Qt::darkCyan);
        QPainter(&stripes).fillRect(0, 0, 64, 21, QColor(200, 40, 90, 160));
        panel->setPixmap(stripes);
    } else if (change == "move") {
        panel->move(panel->pos() + QPoint(3, 7));
    } else if (change == "background") {
        QPixmap tiles(37, 23);
        tiles.fill(QColor(90, 60, 20));
        QPainter(&tiles).fillRect(5, 5, 20, 9, QColor(10, 130, 200));
        QPalette palette = window->palette();
        palette.setBrush(QPalette::Window, QBrush(tiles));
        window->setPalette(palette);
    }
    const QImage cached = onScreen();
    QVERIFY(!cached.isNull());
    QCOMPARE(cache->builds(), change.isEmpty() ? buildsBefore : buildsBefore + 1);

    delete cache;
    const QImage uncached = onScreen();
    QCOMPARE(cached.size(), uncached.size());
    QVERIFY(cached == uncached);
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
    QTest::newRow("rest band edges light nothing")
        << short(-125) << short(10) << short(-10) << false << 157 << QPoint(289, 85) << false;
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
    QTest::addColumn<QStringList>("shown");   // per axis: max, min, bar geometry

    QTest::newRow("worked example on x")
        << QVector<QVector<int>>{{120, 0, 0}, {-75, 0, 0}}
        << QStringList{"120 -75 80,132 80x126", "0 0 330,210 80x0", "0 0 580,210 80x0"};
    QTest::newRow("beyond the limits")
        << QVector<QVector<int>>{{350, 0, -350}}
        << QStringList{"200 0 80,80 80x130", "0 0 330,210 80x0", "0 -200 580,210 80x130"};
}

void TestWindow::calibration()
{
    QFETCH(QVector<QVector<int>>, samples);
    QFETCH(QStringList, shown);

    auto feed = [this](const QVector<int> &s) {
        IMU_RAW raw;
        raw.mag_x = int16_t(s[0]);
        raw.mag_y = int16_t(s[1]);
        raw.mag_z = int16_t(s[2]);
        probe->rawSample(raw);
        probe->magTick();
    };
    auto find = [this](const char *name, const char *axis) {
        return window->findChild<QLabel *>(QLatin1String(name) + axis);
    };
    auto page = [&](const QString &sheet) {
        QStringList got;
        for (const char *axis : {"x", "y", "z"}) {
            const QRect bar = find("lab_block_", axis)->geometry();
            got << QStringLiteral("%1 %2 %3,%4 %5x%6")
                       .arg(find("lab_max_", axis)->text(), find("lab_min_", axis)->text())
                       .arg(bar.x()).arg(bar.y()).arg(bar.width()).arg(bar.height());
            for (const char *name : {"lab_max_", "lab_min_", "lab_magdata_", "lab_block_"}) {
                if (sheet.isEmpty())
                    find(name, axis)->setStyleSheet(QStringLiteral("QLabel{}"));
                else if (find(name, axis)->styleSheet() != sheet)
                    got << QLatin1String(name) + axis + " restyled";
            }
        }
        return got;
    };
    for (const QVector<int> &s : samples)
        feed(s);
    // An update restyles the extremes and the live values with sheets of their own, which
    // differ from the skin's only in their runs of tabs.
    const auto sheet = [](const char *colour, int tabs) {
        return QStringLiteral("QLabel{color:%1;background-color:rgba(255, 255, 255, 0);"
                              "border-style: solid;border-width: 0px;%2 border-color: "
                              "rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;"
                              "min-width: 10em;padding: 2px;*/}")
            .arg(QLatin1String(colour), QString(tabs, QLatin1Char('\t')));
    };
    QCOMPARE(find("lab_min_", "z")->styleSheet(), sheet("#d4d4d4", 9));
    QCOMPARE(find("lab_magdata_", "y")->styleSheet(), sheet("#7d7d7d", 10));
    QCOMPARE(sheet("#d4d4d4", 9).size(), 214);
    QCOMPARE(page(QString()), shown);
    // A sample inside the range changes nothing, not even a style sheet.
    feed({0, 0, 0});
    QCOMPARE(page(QStringLiteral("QLabel{}")), shown);
}

void TestWindow::save_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<QStringList>("texts");   // max x, y, z, min x, y, z; empty: the form's
    QTest::addColumn<QString>("param");

    QTest::newRow("form's 0 and -0") << true << QStringList{} << "0 0 0 0 0 0";
    QTest::newRow("shown values; text that is no number saves 0")
        << true << QStringList{"12a", "", " 5", "-0", "99999", "-200"} << "0 0 5 0 0 -200";
    // A missing worker cannot write: nothing is saved and no box shows.
    QTest::newRow("no worker") << false << QStringList{} << "1234 1234 1234 1234 1234 1234";
}

void TestWindow::save()
{
    QFETCH(bool, worker);
    QFETCH(QStringList, texts);
    QFETCH(QString, param);

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
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6").arg(saved.max_x).arg(saved.max_y).arg(saved.max_z)
                 .arg(saved.min_x).arg(saved.min_y).arg(saved.min_z), param);
    QCOMPARE(boxes.seen.size(), worker ? 1 : 0);
    if (worker)
        QCOMPARE(boxes.seen[0].title + "|" + boxes.seen[0].text, QStringLiteral("|Save Parameter Failed!"));
}

void TestWindow::checkVerdict_data()
{
    QTest::addColumn<int>("restartAfter");   // samples of a failing check before pressing again
    QTest::addColumn<int>("link");   // sample 0 then: 0 on this link, 1 on the last, 2 none
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<double>("angle2Limit");   // the station's own; 0: the default

    QTest::newRow("lying still")
        << 0 << 0 << Script([](int) { return IMU_POS{5.0f, -3.0f, 90.0f}; }) << "Station check success!" << 0.0;
    QTest::newRow("angle2 creeps 0.1 in every sample")
        << 0 << 0 << Script([](int i) { return IMU_POS{0.0f, 0.1f * float(i), 0.0f}; })
        << "Station check failed!" << 0.0;
    QTest::newRow("angle2 creeps 0.1 in 900 samples")
        << 0 << 0 << Script([](int i) { return IMU_POS{0.0f, 0.1f * float(std::min(i, 900)), 0.0f}; })
        << "Station check success!" << 0.0;
    QTest::newRow("angle1 jitters across the seam")
        << 0 << 0 << Script([](int i) { return IMU_POS{i % 2 ? 359.9f : 0.0f, 0.0f, 0.0f}; })
        << "Station check success!" << 0.0;
    QTest::newRow("restart in the middle starts afresh")
        << 500 << 0 << Script([](int) { return IMU_POS{0.0f, 499.0f, 0.0f}; }) << "Station check success!" << 0.0;
    // A link's first report is no turn from the zero record or from another link's last pose.
    QTest::newRow("first report after connecting again")
        << 0 << 1 << Script([](int i) { return IMU_POS{0.0f, i ? -30.0f : 150.0f, 0.0f}; })
        << "Station check success!" << 0.0;
    QTest::newRow("first report of the first link")
        << 0 << 2 << Script([](int) { return IMU_POS{0.0f, -150.0f, 0.0f}; }) << "Station check success!" << 0.0;
    // A station's limits judge the window's check as they judge the command line's.
    QTest::newRow("angle2 creeps 0.1 in every sample, under a looser limit")
        << 0 << 0 << Script([](int i) { return IMU_POS{0.0f, 0.1f * float(i), 0.0f}; })
        << "Station check success!" << 0.15;
    QTest::newRow("angle2 creeps 0.1 in 900 samples, over a tighter limit")
        << 0 << 0 << Script([](int i) { return IMU_POS{0.0f, 0.1f * float(std::min(i, 900)), 0.0f}; })
        << "Station check failed!" << 0.05;
}

void TestWindow::checkVerdict()
{
    QFETCH(int, restartAfter);
    QFETCH(int, link);
    QFETCH(Script, script);
    QFETCH(QString, verdict);
    QFETCH(double, angle2Limit);

    if (angle2Limit > 0.0)
        window->setCheckLimits(StationaryCheck::Limits{1.0, angle2Limit, 0.6});
    if (restartAfter) {
        probe->checkPressed();
        feedCheck(0, restartAfter, [](int i) { return IMU_POS{0.0f, float(i), 0.0f}; });
    }
    if (link != 2)
        probe->posSample(script(0));   // the sample before the check
    if (link == 1) {
        BtThread idle;   // never started: its calls reach no backend
        probe->btThread() = &idle;
        probe->btDevice(3, "IMU", "00025B00A1B2");
        probe->connectPressed();
        probe->btThread() = nullptr;
    }
    auto progress = [this](int width, int percent) {
        QCOMPARE(label("lab_check_progress")->geometry(), QRect(50, 100, width, 61));
        QCOMPARE(label("lab_count")->geometry(), QRect(552, 95, 150, 61));
        QCOMPARE(label("lab_count")->text(), QStringLiteral("<html><head/><body><p><span style=\" "
                 "color:#d4d4d4;\">%1%</span></p></body></html>").arg(percent));
    };
    probe->checkPressed();
    BoxCatcher catcher;
    feedCheck(1, 2, script);
    progress(0, 0);
    feedCheck(2, 1001, script);
    progress(654, 99);
    QCOMPARE(catcher.seen.size(), 0);
    feedCheck(1001, 1002, script);
    progress(655, 100);
    QCOMPARE(catcher.seen.size(), 1);
    QCOMPARE(catcher.seen[0].title + ": " + catcher.seen[0].text, "Stationary: " + verdict);
    // Late ticks after the verdict take nothing.
    feedCheck(0, 5, script);
    QCOMPARE(probe->checkCount(), 1001);
    QVERIFY(!probe->checkActive());
    QCOMPARE(catcher.seen.size(), 1);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
