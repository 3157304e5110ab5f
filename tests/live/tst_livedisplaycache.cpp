// The live display keeps each light's converted picture and leaves labels alone when a
// report changes nothing. These tests make sure that shortcut never leaves a label showing
// the wrong thing, and that it does spare the repaints it is there for.
#include "windowfixture.h"

#include <QLabel>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using Report = QVector<short>;
using Reports = QVector<Report>;
// Something done to a label between two reports, as other code could.
using Tamper = std::function<void(QLabel *)>;

QImage argb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

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

void settle()
{
    // Posted update requests are handled here, so every pending repaint is done on return.
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace

Q_DECLARE_METATYPE(Reports)
Q_DECLARE_METATYPE(Tamper)

class TestLiveDisplayCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lightShowsItsPicture_data();
    void lightShowsItsPicture();
    void repeatedReportPaintsNothing_data();
    void repeatedReportPaintsNothing();

private:
    std::unique_ptr<PictureDir> pictures;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestLiveDisplayCache::initTestCase()
{
    pictures.reset(new PictureDir);
    QVERIFY(pictures->isValid());
}

void TestLiveDisplayCache::init()
{
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestLiveDisplayCache::cleanup()
{
    probe.reset();
    window.reset();
}

void TestLiveDisplayCache::lightShowsItsPicture_data()
{
    QTest::addColumn<QString>("labelName");
    QTest::addColumn<QString>("imageName");
    QTest::addColumn<Reports>("before");
    QTest::addColumn<Tamper>("tamper");
    QTest::addColumn<Reports>("after");
    QTest::addColumn<bool>("lit");

    const Tamper none = [](QLabel *) {};
    const Tamper emptied = [](QLabel *label) { label->clear(); };
    const Tamper otherPicture = [](QLabel *label) {
        QPixmap other(8, 8);
        other.fill(Qt::black);
        label->setPixmap(other);
    };
    const Tamper text = [](QLabel *label) { label->setText(QStringLiteral("x")); };

    QTest::newRow("button lit, out, lit again")
        << "lab_light_right" << "right" << Reports{{0x01, -128, 0, 0}, {0, -128, 0, 0}}
        << none << Reports{{0x01, -128, 0, 0}} << true;
    QTest::newRow("button lit twice")
        << "lab_light_middle" << "middle" << Reports{{0x04, -128, 0, 0}} << none
        << Reports{{0x04, -128, 0, 0}} << true;
    QTest::newRow("trigger relit by the report that clears it")
        << "lab_trigger_stick" << "trigger" << Reports{{0x01, 0, 0, 0}} << none
        << Reports{{0x20, 0, 0, 0}} << true;
    QTest::newRow("joystick relit by the report that clears it")
        << "lab_rocker_light" << "rocker" << Reports{{0x01, -128, 60, 0}} << none
        << Reports{{0, -128, 0, -60}} << true;
    QTest::newRow("light emptied elsewhere is lit again")
        << "lab_light_back" << "back" << Reports{{0x02, -128, 0, 0}} << emptied
        << Reports{{0x02, -128, 0, 0}} << true;
    QTest::newRow("light given another picture gets its own back")
        << "lab_light_power" << "power" << Reports{{0x10, -128, 0, 0}} << otherPicture
        << Reports{{0x10, -128, 0, 0}} << true;
    QTest::newRow("light showing a text is put out")
        << "lab_light_left" << "left" << Reports{{0x08, -128, 0, 0}, {0, -128, 0, 0}} << text
        << Reports{{0, -128, 0, 0}} << false;
    QTest::newRow("light given a picture while out is put out")
        << "lab_light_left" << "left" << Reports{{0, -128, 0, 0}} << otherPicture
        << Reports{{0, -128, 0, 0}} << false;
}

void TestLiveDisplayCache::lightShowsItsPicture()
{
    QFETCH(QString, labelName);
    QFETCH(QString, imageName);
    QFETCH(Reports, before);
    QFETCH(Tamper, tamper);
    QFETCH(Reports, after);
    QFETCH(bool, lit);

    auto *label = window->findChild<QLabel *>(labelName);
    QVERIFY(label);
    for (const Report &r : before)
        probe->btnData(r[0], r[1], r[2], r[3]);
    tamper(label);
    for (const Report &r : after)
        probe->btnData(r[0], r[1], r[2], r[3]);

    const QPixmap shown = label->pixmap(Qt::ReturnByValue);
    if (lit) {
        QVERIFY(!shown.isNull());
        QCOMPARE(argb(shown.toImage()), argb(*probe->image(imageName.toLatin1().constData())));
    } else {
        QVERIFY(shown.isNull());
        QVERIFY(label->text().isEmpty());
    }
}

void TestLiveDisplayCache::repeatedReportPaintsNothing_data()
{
    QTest::addColumn<Reports>("controls");
    QTest::addColumn<int>("samples");   // 1: orientation, 2: raw, 0: none

    QTest::newRow("controls at rest") << Reports{{0, -128, 0, 0}} << 0;
    QTest::newRow("button held, trigger and joystick out")
        << Reports{{0x04, 20, 60, -40}} << 0;
    QTest::newRow("two buttons held") << Reports{{0x03, -128, 0, 0}} << 0;
    QTest::newRow("orientation with controls at rest") << Reports{{0, -128, 0, 0}} << 1;
    QTest::newRow("raw sample") << Reports{} << 2;
}

void TestLiveDisplayCache::repeatedReportPaintsNothing()
{
    QFETCH(Reports, controls);
    QFETCH(int, samples);

    IMU_POS pos;
    pos.angle1 = 12.5f;
    IMU_RAW raw;
    raw.mag_x = -5;
    auto report = [&] {
        if (samples == 1)
            probe->posSample(pos);
        if (samples == 2)
            probe->rawSample(raw);
        for (const Report &r : controls)
            probe->btnData(r[0], r[1], r[2], r[3]);
    };

    report();
    settle();

    LabelPaints paints;
    qApp->installEventFilter(&paints);
    report();
    settle();
    qApp->removeEventFilter(&paints);
    QCOMPARE(paints.count, 0);

    // The counter does see repaints: a report that changes a light causes one.
    paints.count = 0;
    qApp->installEventFilter(&paints);
    probe->btnData(0x10, 127, -100, 100);
    settle();
    qApp->removeEventFilter(&paints);
    QVERIFY(paints.count > 0);
}

QTEST_MAIN(TestLiveDisplayCache)
#include "tst_livedisplaycache.moc"
