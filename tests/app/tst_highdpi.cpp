// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The skin with its real pictures, on a screen of the pixel ratio the test runs at
// (QT_SCALE_FACTOR: CTest runs it at 1 and at 2). Where the window shows an opaque picture, its
// pixels are that picture's: name.png at ratio 1, name@2x.png at ratio 2. At 2 they are sharp,
// so they differ from name.png enlarged, which is what a screen of ratio 2 showed before.
#include "mainwindow.h"
#include "waits.h"

#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

QImage rgb(const QImage &image) { return image.convertToFormat(QImage::Format_RGB32); }

// Share of pixels in which some channel differs by more than 16 levels.
double differing(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 16 || std::abs(qGreen(p) - qGreen(q)) > 16
                    || std::abs(qBlue(p) - qBlue(q)) > 16)
                ++count;
        }
    }
    return double(count) / double(a.width() * a.height());
}

} // namespace

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowSize();
    void pictures_data();
    void pictures();

private:
    QString oldDir;
    std::unique_ptr<MainWindow> window;
    qreal ratio = 1.0;
};

void TestHighDpi::initTestCase()
{
    ratio = qApp->devicePixelRatio();
    QVERIFY2(ratio == 1.0 || ratio == 2.0, qPrintable(QString::number(ratio)));
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral(IMUCAL_SOURCE_DIR)));   // its ./image
    window.reset(new MainWindow);
    QVERIFY(showAndWait(window.get()));
}

void TestHighDpi::cleanupTestCase()
{
    window.reset();
    QDir::setCurrent(oldDir);
}

// The window keeps its size in logical pixels, whichever pictures it took.
void TestHighDpi::windowSize()
{
    QCOMPARE(window->size(), QSize(800, 580));
}

void TestHighDpi::pictures_data()
{
    QTest::addColumn<QString>("widget");   // empty: the window
    QTest::addColumn<QRect>("area");       // in the widget, logical pixels
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QPoint>("at");        // where the area lies in the picture
    QTest::addColumn<bool>("edges");       // whether it holds edges that the 2x picture sharpens

    QTest::newRow("background under the title") << QString() << QRect(0, 0, 700, 80)
                                                << "background" << QPoint(0, 0) << true;
    QTest::newRow("setup tab, down") << "btn_setup" << QRect(0, 0, 70, 28) << "Setup_down" << QPoint() << true;
    QTest::newRow("magnetometer tab, up") << "btn_magnet" << QRect(0, 0, 114, 28) << "Magnet_up" << QPoint() << true;
    QTest::newRow("validation tab, up") << "btn_valid" << QRect(0, 0, 93, 28) << "Valid_up" << QPoint() << true;
    QTest::newRow("minimise") << "btn_smallest" << QRect(0, 0, 35, 20) << "settng-nor-01" << QPoint() << true;
    QTest::newRow("close") << "btn_close" << QRect(0, 0, 35, 20) << "settng-nor-03" << QPoint() << true;
    // A smooth gradient: its 2x picture is the 1x one enlarged.
    QTest::newRow("picture panel") << "lab_block" << QRect(0, 0, 743, 445) << "block" << QPoint()
                                   << false;
}

void TestHighDpi::pictures()
{
    QFETCH(QString, widget);
    QFETCH(QRect, area);
    QFETCH(QString, picture);
    QFETCH(QPoint, at);
    QFETCH(bool, edges);

    QWidget *shown = widget.isEmpty() ? window.get() : window->findChild<QWidget *>(widget);
    QVERIFY(shown);
    const QImage grabbed = rgb(shown->grab(area).toImage());
    const int r = int(ratio);
    QCOMPARE(grabbed.size(), area.size() * r);

    const QString base = QStringLiteral("image/") + picture;
    const QImage single = rgb(QImage(base + QStringLiteral(".png")));
    const QImage twice = rgb(QImage(base + QStringLiteral("@2x.png")));
    QVERIFY(!single.isNull() && !twice.isNull());
    const QImage expected = (r == 1 ? single : twice).copy(QRect(at * r, area.size() * r));
    QCOMPARE(grabbed, expected);
    if (r == 2 && edges) {
        const QImage enlarged = single.copy(QRect(at, area.size()))
                                        .scaled(area.size() * 2, Qt::IgnoreAspectRatio,
                                                Qt::SmoothTransformation);
        QVERIFY2(differing(grabbed, enlarged) > 0.01,
                 qPrintable(QString::number(differing(grabbed, enlarged))));
    }
}

QTEST_MAIN(TestHighDpi)
#include "tst_highdpi.moc"
