// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "displaygl.h"
#include "waits.h"

#include <QtTest>

#include <GL/gl.h>

namespace {

// Lets the test draw one frame itself and read it, and counts the frames drawn.
class ProbeGL : public DisplayGL
{
public:
    using DisplayGL::resizeGL;
    void paintGL() override
    {
        ++frames;
        if (sinceFrame.isValid())
            gapMs = sinceFrame.restart();
        else
            sinceFrame.start();
        DisplayGL::paintGL();
    }
    int frames = 0;
    qint64 gapMs = -1;   // since the frame before
    QElapsedTimer sinceFrame;
};

// No timer of the view's is running, so it cannot draw again until something changes.
bool still(QObject *view)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(view).isEmpty();
}

struct Sample {
    float x, y;     // model coordinates (after turning), in the plane of the screen
    QColor colour;
};

const QColor clearColour(37, 60, 74);   // 0.1445, 0.2343, 0.289
const QColor red(255, 0, 0);
const QColor blue(0, 0, 230);
const QColor green(0, 255, 0);
const QColor grey(204, 204, 204);

constexpr int viewWidth = 350;
constexpr int viewHeight = 300;

// Where a model point lands in the grabbed image: the viewport is the widget's size shifted by
// (-20, -20), so one model unit is half the width (or height) and the origin sits off-centre.
QPoint pixelOf(float x, float y)
{
    const double glX = -20 + (x + 1.0) * viewWidth / 2.0;
    const double glY = -20 + (y + 1.0) * viewHeight / 2.0;
    return QPoint(int(glX), viewHeight - 1 - int(glY));
}

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 2 && qAbs(a.green() - b.green()) <= 2
        && qAbs(a.blue() - b.blue()) <= 2;
}

} // namespace

Q_DECLARE_METATYPE(QVector<Sample>)

class TestDisplayGL : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void picture_data();
    void picture();
    void resizeSetsViewport();
    void drawsOnlyWhenSomethingChanged();

private:
    ProbeGL *view = nullptr;
};

void TestDisplayGL::init()
{
    view = new ProbeGL;
    view->resize(viewWidth, viewHeight);
    QVERIFY(showAndWait(view));
    QVERIFY(view->isValid());
}

void TestDisplayGL::cleanup()
{
    delete view;
    view = nullptr;
}

void TestDisplayGL::picture_data()
{
    QTest::addColumn<float>("angle1");
    QTest::addColumn<float>("angle2");
    QTest::addColumn<float>("angle3");
    QTest::addColumn<QVector<Sample>>("samples");

    QTest::newRow("at rest") << 0.0f << 0.0f << 0.0f << QVector<Sample>{
        {0.3f, 0.05f, blue}, {0.45f, 0.05f, blue}, {0.05f, 0.3f, green}, {0.05f, 0.45f, green},
        {0.05f, 0.05f, grey}, {-0.005f, -0.005f, grey},
        {0.6f, 0.05f, clearColour}, {0.05f, 0.6f, clearColour}, {0.3f, 0.3f, clearColour},
        {-0.3f, -0.3f, clearColour}, {-0.7f, 0.9f, clearColour}};
    QTest::newRow("angle1 90: red bar swings right") << 90.0f << 0.0f << 0.0f << QVector<Sample>{
        {0.3f, 0.05f, red}, {0.05f, 0.3f, green}, {0.05f, 0.05f, grey}};
    QTest::newRow("angle2 90 turns the other way: blue down")
        << 0.0f << 90.0f << 0.0f << QVector<Sample>{
        {0.05f, -0.3f, blue}, {0.3f, -0.05f, green}, {0.3f, 0.05f, clearColour},
        {0.05f, 0.3f, clearColour}};
    QTest::newRow("angle3 90: red bar points down") << 0.0f << 0.0f << 90.0f << QVector<Sample>{
        {0.05f, -0.3f, red}, {0.3f, -0.05f, blue}, {0.3f, 0.05f, clearColour},
        {0.05f, 0.3f, clearColour}};
    // About X first, then about Y: green ends up pointing right and red down. The other
    // order would leave green end-on and put red on the right.
    QTest::newRow("angle3 then angle1") << 90.0f << 0.0f << 90.0f << QVector<Sample>{
        {0.3f, -0.05f, green}, {0.05f, -0.3f, red}, {0.3f, 0.05f, clearColour},
        {0.05f, 0.3f, clearColour}};
}

void TestDisplayGL::picture()
{
    QFETCH(float, angle1);
    QFETCH(float, angle2);
    QFETCH(float, angle3);
    QFETCH(QVector<Sample>, samples);

    IMU_POS pos;
    pos.angle1 = angle1;
    pos.angle2 = angle2;
    pos.angle3 = angle3;
    view->setRotation(pos);

    view->makeCurrent();
    view->paintGL();
    glFinish();
    const QImage frame = view->grabFrameBuffer();
    QCOMPARE(frame.size(), QSize(viewWidth, viewHeight));

    for (const Sample &s : samples) {
        const QPoint p = pixelOf(s.x, s.y);
        const QColor seen = frame.pixelColor(p);
        QVERIFY2(near(seen, s.colour), qPrintable(QStringLiteral("(%1, %2): saw %3, wanted %4")
                                                      .arg(s.x).arg(s.y).arg(seen.name(), s.colour.name())));
    }
}

void TestDisplayGL::resizeSetsViewport()
{
    view->makeCurrent();
    for (const QSize &size : {QSize(350, 300), QSize(350, 0)}) {
        view->resizeGL(size.width(), size.height());
        GLint vp[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, vp);
        // Height 0 keeps one row.
        QCOMPARE(QRect(vp[0], vp[1], vp[2], vp[3]), QRect(-20, -20, 350, qMax(size.height(), 1)));
    }
}

void TestDisplayGL::drawsOnlyWhenSomethingChanged()
{
    QTRY_VERIFY_WITH_TIMEOUT(view->frames > 0 && still(view), WaitDeadline);
    const int shown = view->frames;
    IMU_POS pos;
    pos.angle1 = 10.0f;

    view->setRotation(pos);
    QTRY_COMPARE_WITH_TIMEOUT(view->frames, shown + 1, WaitDeadline);
    QVERIFY(still(view));

    view->setRotation(pos);
    QVERIFY(still(view));

    // Right after a frame a new pose waits for the frame interval, then is drawn once.
    pos.angle2 = 0.1f;
    view->setRotation(pos);
    QVERIFY(!still(view));
    QTRY_COMPARE_WITH_TIMEOUT(view->frames, shown + 2, WaitDeadline);
    QVERIFY(still(view));
    QVERIFY(view->gapMs >= DisplayGL::FrameIntervalMs - 1);

    view->hide();
    QVERIFY(showAndWait(view));
    QTRY_VERIFY_WITH_TIMEOUT(view->frames > shown + 2, WaitDeadline);
}

QTEST_MAIN(TestDisplayGL)
#include "tst_displaygl.moc"
