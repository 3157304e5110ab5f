#include "axismodel.h"

#include <QtTest>

#include <set>

namespace {

QString cornerText(AxisModel::Corner c)
{
    QString s;
    for (int axis = 0; axis < 3; ++axis)
        s += (c & (1 << axis)) ? QLatin1Char('H') : QLatin1Char('L');
    return s;
}

// The whole drawing order of one box as text: quads separated by '|', corners by ' '.
QString quadsText(const AxisModel::Box &box)
{
    QStringList quads;
    for (const AxisModel::Quad &q : box.quads) {
        QStringList corners;
        for (AxisModel::Corner c : q)
            corners << cornerText(c);
        quads << corners.join(QLatin1Char(' '));
    }
    return quads.join(QLatin1String(" | "));
}

QVector<float> v3(float a, float b, float c) { return {a, b, c}; }
QVector<float> v3(const std::array<float, 3> &a) { return {a[0], a[1], a[2]}; }

} // namespace

class TestAxisModel : public QObject
{
    Q_OBJECT

private slots:
    void boxes_data();
    void boxes();
    void facesAreClosedOutlines_data();
    void facesAreClosedOutlines();
    void vertexTakesBoundsPerAxis();
};

void TestAxisModel::boxes_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QVector<float>>("colour");
    QTest::addColumn<QVector<float>>("lower");
    QTest::addColumn<QVector<float>>("upper");
    QTest::addColumn<QString>("quads");

    QTest::newRow("1 red Z bar") << 0 << v3(1.0f, 0.0f, 0.0f) << v3(0, 0, 0) << v3(0.1f, 0.1f, 0.5f)
        << "LLL LHL HHL HLL | LLH LHH HHH HLH | LLL LLH HLH HLL | "
           "LHL LHH HHH HHL | LLL LLH LHH LHL | HLL HLH HHH HHL";
    QTest::newRow("2 blue X bar") << 1 << v3(0.0f, 0.0f, 0.9f) << v3(0, 0, 0) << v3(0.5f, 0.1f, 0.1f)
        << "LLL LLH LHH LHL | HLL HLH HHH HHL | LLL LLH HLH HLL | "
           "LHL LHH HHH HHL | LLH LHH HHH HLH | LLL LHL HHL HLL";
    QTest::newRow("3 green Y bar") << 2 << v3(0.0f, 1.0f, 0.0f) << v3(0, 0, 0) << v3(0.1f, 0.5f, 0.1f)
        << "LLL LLH HLH HLL | LHL LHH HHH HHL | LLL LLH LHH LHL | "
           "HLL HLH HHH HHL | LLL LHL HHL HLL | LLH LHH HHH HLH";
    QTest::newRow("4 grey corner cube") << 3 << v3(0.8f, 0.8f, 0.8f)
        << v3(-0.01f, -0.01f, -0.01f) << v3(0.11f, 0.11f, 0.11f)
        << "LLL LLH HLH HLL | LHL LHH HHH HHL | LLH LHH HHH HLH | "
           "LLL LLH LHH LHL | LLL LHL HHL HLL | HLL HLH HHH HHL";
}

void TestAxisModel::boxes()
{
    QFETCH(int, index);
    QFETCH(QVector<float>, colour);
    QFETCH(QVector<float>, lower);
    QFETCH(QVector<float>, upper);
    QFETCH(QString, quads);

    QCOMPARE(int(AxisModel::boxes().size()), 4);
    const AxisModel::Box &box = AxisModel::boxes()[size_t(index)];
    QCOMPARE(v3(box.colour), colour);
    QCOMPARE(v3(box.lower), lower);
    QCOMPARE(v3(box.upper), upper);
    QCOMPARE(quadsText(box), quads);
}

void TestAxisModel::facesAreClosedOutlines_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("Z bar") << 0;
    QTest::newRow("X bar") << 1;
    QTest::newRow("Y bar") << 2;
    QTest::newRow("corner cube") << 3;
}

// Every quad must lie in one face of its box and walk round it (a bow-tie order would draw two
// triangles with a gap), and the six quads must close the box.
void TestAxisModel::facesAreClosedOutlines()
{
    QFETCH(int, index);
    const AxisModel::Box &box = AxisModel::boxes()[size_t(index)];

    std::set<int> faces;
    for (const AxisModel::Quad &q : box.quads) {
        const std::set<int> distinct(q.begin(), q.end());
        QCOMPARE(int(distinct.size()), 4);

        const int common = ~(q[0] ^ q[1] ^ q[2] ^ q[3]) & 7;
        int sharedAxis = -1;
        for (int axis = 0; axis < 3; ++axis) {
            const int bit = 1 << axis;
            if ((q[0] & bit) == (q[1] & bit) && (q[1] & bit) == (q[2] & bit)
                && (q[2] & bit) == (q[3] & bit)) {
                QCOMPARE(sharedAxis, -1);
                sharedAxis = axis;
            }
        }
        if (sharedAxis < 0)
            QFAIL("the face's corners share no axis");
        QVERIFY(common & (1 << sharedAxis));
        faces.insert(sharedAxis * 2 + ((q[0] >> sharedAxis) & 1));

        for (int c = 0; c < 4; ++c) {
            const int diff = q[size_t(c)] ^ q[size_t((c + 1) % 4)];
            QVERIFY2(diff == 1 || diff == 2 || diff == 4, "neighbouring corners share an edge");
        }
    }
    QCOMPARE(int(faces.size()), 6);
}

void TestAxisModel::vertexTakesBoundsPerAxis()
{
    const AxisModel::Box &zBar = AxisModel::boxes()[0];
    // Second quad (z = H), fourth corner: (H,L,H).
    const AxisModel::Vertex v = zBar.vertex(1, 3);
    QCOMPARE(v.x, 0.1f);
    QCOMPARE(v.y, 0.0f);
    QCOMPARE(v.z, 0.5f);

    const AxisModel::Box &cube = AxisModel::boxes()[3];
    const AxisModel::Vertex w = cube.vertex(0, 0);
    QCOMPARE(w.x, -0.01f);
    QCOMPARE(w.y, -0.01f);
    QCOMPARE(w.z, -0.01f);
}

QTEST_GUILESS_MAIN(TestAxisModel)
#include "tst_axismodel.moc"
