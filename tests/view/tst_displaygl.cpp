#include "displaygl.h"

#include <QtTest>

#include <GL/gl.h>

namespace {

// Gives the test the GL callbacks, so that it can draw one frame into the back buffer and read
// it without racing the widget's own timer.
class ProbeGL : public DisplayGL
{
public:
    using DisplayGL::resizeGL;
    int frames = 0;

    void paintGL() override
    {
        ++frames;
        DisplayGL::paintGL();
    }
};

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
    void resizeSetsViewport_data();
    void resizeSetsViewport();
    void timerRedraws();
    void setRotationShowsTheView();

private:
    ProbeGL *view = nullptr;
};

void TestDisplayGL::init()
{
    view = new ProbeGL;
    view->resize(viewWidth, viewHeight);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    QVERIFY(view->isValid());
    QCOMPARE(view->size(), QSize(viewWidth, viewHeight));
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
    QTest::newRow("angle1 -90: red bar swings left") << -90.0f << 0.0f << 0.0f << QVector<Sample>{
        {-0.3f, 0.05f, red}, {0.3f, 0.05f, clearColour}, {-0.05f, 0.3f, green}};
    QTest::newRow("angle1 450 is taken as it is") << 450.0f << 0.0f << 0.0f << QVector<Sample>{
        {0.3f, 0.05f, red}, {0.05f, 0.3f, green}};
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
        QVERIFY2(near(seen, s.colour),
                 qPrintable(QStringLiteral("model (%1, %2) at pixel (%3, %4): saw %5, wanted %6")
                                .arg(s.x).arg(s.y).arg(p.x()).arg(p.y())
                                .arg(seen.name(), s.colour.name())));
    }
}

void TestDisplayGL::resizeSetsViewport_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("viewport");
    QTest::newRow("form size") << QSize(350, 300) << QRect(-20, -20, 350, 300);
    QTest::newRow("height 0 keeps one row") << QSize(350, 0) << QRect(-20, -20, 350, 1);
    QTest::newRow("1 x 1") << QSize(1, 1) << QRect(-20, -20, 1, 1);
}

void TestDisplayGL::resizeSetsViewport()
{
    QFETCH(QSize, size);
    QFETCH(QRect, viewport);

    view->makeCurrent();
    // Leave something other than the identity behind, so that a missing reset shows.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glScalef(2.0f, 3.0f, 4.0f);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1.0f, 2.0f, 3.0f);

    view->resizeGL(size.width(), size.height());

    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    QCOMPARE(QRect(vp[0], vp[1], vp[2], vp[3]), viewport);

    GLfloat projection[16];
    GLfloat modelview[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    for (int i = 0; i < 16; ++i) {
        const float identity = (i % 5 == 0) ? 1.0f : 0.0f;
        QCOMPARE(projection[i], identity);
        QCOMPARE(modelview[i], identity);
    }
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    QCOMPARE(mode, GLint(GL_MODELVIEW));
}

void TestDisplayGL::timerRedraws()
{
    const int before = view->frames;
    QTRY_VERIFY_WITH_TIMEOUT(view->frames >= before + 5, 2000);
}

void TestDisplayGL::setRotationShowsTheView()
{
    view->hide();
    QVERIFY(!view->isVisible());
    view->setRotation(IMU_POS());
    QVERIFY(view->isVisible());
}

QTEST_MAIN(TestDisplayGL)
#include "tst_displaygl.moc"
