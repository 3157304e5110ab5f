#include "mainwindow.h"

#include <QtTest>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {

// Widgets in creation order, which is also the focus order.
const QStringList creationOrder = {
    "btn_smallest", "btn_close", "btn_setup", "btn_magnet", "btn_valid",
    "frame_setup", "comboBox", "btn_search", "btn_connect", "lab_joy_up", "lab_joy_right",
    "glwg_rotation", "lab_light_left", "lab_light_middle", "lab_light_right", "lab_light_power",
    "lab_light_back", "lab_rocker_disk", "lab_trigger_progress", "lab_rocker_cross",
    "lab_trigger_stick", "lab_rocker_light", "lab_trigger_progress_bottom",
    "frame_Magnet", "btn_start_calib", "btn_save_param", "lab_block_x", "lab_block_y",
    "lab_block_z", "lab_mag_x", "lab_mag_y", "lab_mag_z", "lab_max_x", "lab_max_y", "lab_max_z",
    "lab_min_x", "lab_min_y", "lab_min_z", "lab_magdata_x", "lab_magdata_y", "lab_magdata_z",
    "frame_valid", "btn_stationary_check", "lab_check_progress", "lab_count",
    "lab_block", "lab_status",
};

const QString countText = QStringLiteral(
    "<html><head/><body><p><span style=\" color:#d4d4d4;\">100%</span></p></body></html>");
const QString statusText = QStringLiteral(
    "<html><head/><body><p><span style=\" font-size:6pt; color:#d4d4d4;\">"
    "Status:Unconnected!</span></p></body></html>");

QStringList namedChildren(const QWidget *parent)
{
    QStringList names;
    for (const QObject *child : parent->children()) {
        if (child->isWidgetType() && creationOrder.contains(child->objectName()))
            names << child->objectName();
    }
    return names;
}

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void window();
    void widget_data();
    void widget();
    void stacking_data();
    void stacking();
    void focusChain();
    void styleSheets_data();
    void styleSheets();
    void arialHasAMetricTwin();

private:
    QTemporaryDir workDir;
    QString oldDir;
    MainWindow *w = nullptr;
};

void TestMainWindowForm::initTestCase()
{
    // No pictures: what is checked here is the form itself.
    QVERIFY(workDir.isValid());
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    w = new MainWindow;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
}

void TestMainWindowForm::cleanupTestCase()
{
    delete w;
    QDir::setCurrent(oldDir);
}

void TestMainWindowForm::window()
{
    QCOMPARE(w->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w->windowTitle(), QStringLiteral("IMU Calibration Tool"));
    QCOMPARE(w->font().pointSize(), 9);
    QCOMPARE(w->font().weight(), 75);
    QVERIFY(w->autoFillBackground());
    QVERIFY(w->styleSheet().isEmpty());
    QCOMPARE(w->windowModality(), Qt::NonModal);
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w->size(), QSize(1045, 697));

    QWidget *central = w->centralWidget();
    QVERIFY(central);
    QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
    QVERIFY(central->autoFillBackground());
    QCOMPARE(central->geometry(), QRect(QPoint(0, 0), w->size()));
}

void TestMainWindowForm::widget_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("family");     // empty: the window's
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("iconSize");     // push buttons only
    QTest::addColumn<int>("alignment");      // labels only

    const QString central = "centralWidget";
    const int left = int(Qt::AlignLeft | Qt::AlignVCenter);
    const int centre = int(Qt::AlignCenter);
    auto button = [&](const char *name, const QString &parent, QRect r) {
        QTest::newRow(name) << "QPushButton" << parent << r << QString() << 9 << 75 << false
                            << QString() << r.size() << 0;
    };
    auto label = [&](const char *name, const QString &parent, QRect r, const QString &text = {},
                     int align = int(Qt::AlignLeft | Qt::AlignVCenter)) {
        QTest::newRow(name) << "QLabel" << parent << r << QString() << 9 << 75 << false << text
                            << QSize() << align;
    };
    auto other = [&](const char *name, const char *cls, const QString &parent, QRect r) {
        QTest::newRow(name) << cls << parent << r << QString() << 9 << 75 << false << QString()
                            << QSize() << 0;
    };

    button("btn_smallest", central, {715, 15, 35, 20});
    button("btn_close", central, {750, 15, 35, 20});
    button("btn_setup", central, {28, 84, 70, 28});
    button("btn_magnet", central, {98, 84, 114, 28});
    button("btn_valid", central, {212, 84, 93, 28});
    other("frame_setup", "QFrame", central, {28, 111, 743, 445});
    other("comboBox", "QComboBox", "frame_setup", {25, 325, 200, 25});
    button("btn_search", "frame_setup", {210, 400, 101, 32});
    button("btn_connect", "frame_setup", {410, 400, 101, 32});
    label("lab_joy_up", "frame_setup", {25, -10, 120, 375});
    label("lab_joy_right", "frame_setup", {105, -10, 158, 375});
    other("glwg_rotation", "DisplayGL", "frame_setup", {365, 50, 350, 300});
    label("lab_light_left", "frame_setup", {39, 88, 20, 43});
    label("lab_light_middle", "frame_setup", {53, 101, 13, 16});
    label("lab_light_right", "frame_setup", {66, 100, 14, 17});
    label("lab_light_power", "frame_setup", {50, 150, 18, 16});
    label("lab_light_back", "frame_setup", {137, 139, 13, 19});
    label("lab_rocker_disk", "frame_setup", {250, 50, 91, 92});
    label("lab_trigger_progress", "frame_setup", {250, 190, 92, 161});
    label("lab_rocker_cross", "frame_setup", {287, 87, 17, 18});
    label("lab_trigger_stick", "frame_setup", {111, 92, 29, 41});
    label("lab_rocker_light", "frame_setup", {48, 120, 22, 22});
    label("lab_trigger_progress_bottom", "frame_setup", {250, 348, 92, 4});
    other("frame_Magnet", "QFrame", central, {28, 111, 743, 445});
    button("btn_start_calib", "frame_Magnet", {210, 400, 101, 32});
    button("btn_save_param", "frame_Magnet", {410, 400, 101, 32});
    label("lab_block_x", "frame_Magnet", {80, 80, 80, 260});
    label("lab_block_y", "frame_Magnet", {330, 80, 80, 260});
    label("lab_block_z", "frame_Magnet", {580, 80, 80, 260});
    const char *const mags[] = {"lab_mag_x", "lab_mag_y", "lab_mag_z"};
    for (int i = 0; i < 3; ++i) {
        QTest::newRow(mags[i]) << "QLabel" << "frame_Magnet" << QRect(50 + 250 * i, 20, 135, 30)
                               << "Arial" << 9 << 50 << false
                               << QStringLiteral("Magnetometer_") + QChar('X' + i) << QSize()
                               << left;
    }
    const char *const extremes[] = {"lab_max_x", "lab_max_y", "lab_max_z",
                                    "lab_min_x", "lab_min_y", "lab_min_z"};
    for (int i = 0; i < 6; ++i) {
        QTest::newRow(extremes[i]) << "QLabel" << "frame_Magnet"
                                   << QRect(80 + 250 * (i % 3), i < 3 ? 60 : 340, 80, 20)
                                   << QString() << 9 << 75 << true << (i < 3 ? "0" : "-0")
                                   << QSize() << centre;
    }
    label("lab_magdata_x", "frame_Magnet", {80, 200, 80, 20}, "0", centre);
    label("lab_magdata_y", "frame_Magnet", {330, 200, 80, 20}, "0", centre);
    label("lab_magdata_z", "frame_Magnet", {580, 200, 80, 20}, "0", centre);
    other("frame_valid", "QFrame", central, {28, 111, 743, 445});
    button("btn_stationary_check", "frame_valid", {280, 250, 212, 89});
    label("lab_check_progress", "frame_valid", {50, 100, 655, 61});
    QTest::newRow("lab_count") << "QLabel" << "frame_valid" << QRect(562, 95, 150, 61) << "Arial"
                               << 28 << 75 << false << countText << QSize() << left;
    label("lab_block", central, {28, 111, 743, 445});
    QTest::newRow("lab_status") << "QLabel" << central << QRect(55, 470, 200, 25) << "Arial" << 8
                                << 75 << false << statusText << QSize() << left;
}

void TestMainWindowForm::widget()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, weight);
    QFETCH(bool, underline);
    QFETCH(QString, text);
    QFETCH(QSize, iconSize);
    QFETCH(int, alignment);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> found = w->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.first();

    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->font().family(), family.isEmpty() ? w->font().family() : family);
    QCOMPARE(widget->font().pointSize(), pointSize);
    QCOMPARE(widget->font().weight(), weight);
    QCOMPARE(widget->font().underline(), underline);

    if (auto *b = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(b->text(), text);
        QCOMPARE(b->iconSize(), iconSize);
    }
    if (auto *l = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(l->text(), text);
        QCOMPARE(int(l->alignment()), alignment);
        QCOMPARE(l->textFormat(), Qt::AutoText);
    }
    if (auto *f = qobject_cast<QFrame *>(widget); f && className == "QFrame") {
        QCOMPARE(f->frameShape(), QFrame::StyledPanel);
        QCOMPARE(f->frameShadow(), QFrame::Raised);
    }
    // Only the setup page is up at start; its own widgets and the shared ones are shown.
    const bool onHiddenPage = name == "frame_Magnet" || name == "frame_valid"
        || parentName == "frame_Magnet" || parentName == "frame_valid";
    QCOMPARE(widget->isVisible(), !onHiddenPage);
}

void TestMainWindowForm::stacking_data()
{
    QTest::addColumn<QStringList>("bottomToTop");
    QTest::newRow("centralWidget") << QStringList{
        "lab_block", "frame_setup", "btn_smallest", "btn_close", "btn_setup", "btn_magnet",
        "btn_valid", "frame_Magnet", "frame_valid", "lab_status"};
    QTest::newRow("frame_setup") << QStringList{
        "lab_joy_up", "lab_joy_right", "btn_connect", "btn_search", "comboBox", "glwg_rotation",
        "lab_light_left", "lab_light_middle", "lab_light_right", "lab_light_power",
        "lab_light_back", "lab_rocker_disk", "lab_trigger_progress", "lab_rocker_cross",
        "lab_trigger_stick", "lab_rocker_light", "lab_trigger_progress_bottom"};
    QTest::newRow("frame_Magnet") << QStringList{
        "btn_start_calib", "btn_save_param", "lab_block_x", "lab_block_y", "lab_block_z",
        "lab_mag_x", "lab_mag_y", "lab_mag_z", "lab_max_x", "lab_max_y", "lab_max_z",
        "lab_min_x", "lab_min_y", "lab_min_z", "lab_magdata_x", "lab_magdata_y",
        "lab_magdata_z"};
    QTest::newRow("frame_valid") << QStringList{
        "btn_stationary_check", "lab_check_progress", "lab_count"};
}

void TestMainWindowForm::stacking()
{
    QFETCH(QStringList, bottomToTop);
    auto *parent = w->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(parent);
    QCOMPARE(namedChildren(parent), bottomToTop);

    // What covers what on screen: at a point inside both, the upper one is found.
    if (parent == w->centralWidget()) {
        QCOMPARE(parent->childAt(60, 480)->objectName(), QStringLiteral("lab_status"));
        QCOMPARE(parent->childAt(50, 500)->objectName(), QStringLiteral("frame_setup"));
    }
}

void TestMainWindowForm::focusChain()
{
    QStringList chain;
    QWidget *next = w->nextInFocusChain();
    for (int guard = 0; next != w && guard < 1000; ++guard, next = next->nextInFocusChain()) {
        if (creationOrder.contains(next->objectName()))
            chain << next->objectName();
    }
    QCOMPARE(chain, creationOrder);
}

void TestMainWindowForm::styleSheets_data()
{
    QTest::addColumn<QStringList>("widgets");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("tabs");
    QTest::addColumn<int>("blanksBeforeBorderColour");

    QTest::newRow("A") << QStringList{"lab_block"} << "QLabel{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;                                   border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 0 << 35;
    QTest::newRow("B") << QStringList{"btn_setup", "btn_valid"} << "QPushButton{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;                                 border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 0 << 33;
    QTest::newRow("C") << QStringList{"btn_magnet"} << "QPushButton{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;                                  border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 0 << 34;
    QTest::newRow("D") << QStringList{"btn_search"} << "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t border-color: rgba(255, 255, 255, 0);}" << 8 << 1;
    QTest::newRow("E") << QStringList{"btn_connect"} << "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t  border-color: rgba(255, 255, 255, 0);}" << 8 << 2;
    QTest::newRow("F") << QStringList{"comboBox"} << "QComboBox{color:#d4d4d4;background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 8 << 1;
    QTest::newRow("G") << QStringList{"btn_start_calib"} << "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 8 << 1;
    QTest::newRow("H") << QStringList{"btn_save_param"} << "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t\t   border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 9 << 3;
    QTest::newRow("I") << QStringList{"btn_stationary_check"} << "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t\t  border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}" << 9 << 2;
    QTest::newRow("J") << QStringList{"lab_max_x"} << "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t   border-color: rgba(255, 255, 255, 0);}" << 8 << 3;
    QTest::newRow("K") << QStringList{"lab_max_y", "lab_max_z", "lab_min_x", "lab_min_y", "lab_min_z"} << "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t border-color: rgba(255, 255, 255, 0);}" << 8 << 1;
    QTest::newRow("L") << QStringList{"lab_magdata_x"} << "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t border-color: rgba(255, 255, 255, 0);}" << 8 << 1;
    QTest::newRow("M") << QStringList{"lab_magdata_y", "lab_magdata_z"} << "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t\t border-color: rgba(255, 255, 255, 0);}" << 9 << 1;
    QStringList bare = creationOrder;
    for (const char *styled : {"lab_block", "btn_setup", "btn_valid", "btn_magnet", "btn_search",
                               "btn_connect", "comboBox", "btn_start_calib", "btn_save_param",
                               "btn_stationary_check", "lab_max_x", "lab_max_y", "lab_max_z",
                               "lab_min_x", "lab_min_y", "lab_min_z", "lab_magdata_x",
                               "lab_magdata_y", "lab_magdata_z"})
        bare.removeOne(QString::fromLatin1(styled));
    QTest::newRow("none") << bare << QString() << 0 << 0;
}

void TestMainWindowForm::styleSheets()
{
    QFETCH(QStringList, widgets);
    QFETCH(QString, sheet);
    QFETCH(int, tabs);
    QFETCH(int, blanksBeforeBorderColour);

    // The golden text's own whitespace run, counted independently of how it was typed.
    if (!sheet.isEmpty()) {
        const int end = sheet.indexOf(QLatin1String("border-color"));
        int start = end;
        while (start > 0 && (sheet[start - 1] == '\t' || sheet[start - 1] == ' '))
            --start;
        const QString run = sheet.mid(start, end - start);
        QCOMPARE(run.count('\t'), tabs);
        QCOMPARE(run.count(' '), blanksBeforeBorderColour);
    }
    for (const QString &name : widgets) {
        auto *widget = w->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->styleSheet(), sheet);
    }
}

void TestMainWindowForm::arialHasAMetricTwin()
{
    if (!QFontDatabase().families().contains(QStringLiteral("Liberation Sans")))
        QSKIP("Liberation Sans is not installed");
    for (const char *name : {"lab_mag_x", "lab_count", "lab_status"}) {
        auto *label = w->findChild<QLabel *>(QString::fromLatin1(name));
        QVERIFY(label);
        const QFontInfo info(label->font());
        QVERIFY2(info.family() == QLatin1String("Arial")
                     || info.family() == QLatin1String("Liberation Sans"),
                 qPrintable(info.family()));
    }
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
