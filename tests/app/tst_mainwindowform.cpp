#include "mainwindow.h"

#include <QtTest>
#include <QLabel>
#include <QPushButton>

namespace {
// Each tab picture gets its own colour, so a test can tell which one a button shows.
QColor tabColour(int tab, bool down) { return QColor(40 * tab + 20, down ? 200 : 60, 90); }

QColor faceOf(const QPushButton *button)
{
    const QImage image = button->icon().pixmap(button->iconSize()).toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// Sent to the widget under the cursor, as the platform would; what it ignores goes up to the
// window.
void send(QWidget *target, QEvent::Type type, QPoint global, Qt::MouseButton button,
          Qt::MouseButtons held)
{
    const QPoint local = target->mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
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
    void styleSheets_data();
    void styleSheets();
    void pageSwitching_data();
    void pageSwitching();
    void drag_data();
    void drag();

private:
    QTemporaryDir workDir;
    QString oldDir;
    MainWindow *w = nullptr;
};

void TestMainWindowForm::initTestCase()
{
    // An empty working directory: the window runs without any of its pictures.
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
    QCOMPARE(w->windowTitle(), QStringLiteral("IMU Calibration Tool"));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w->size(), QSize(1045, 697));
    QCOMPARE(w->centralWidget()->objectName(), QStringLiteral("centralWidget"));
}

void TestMainWindowForm::widget_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    auto row = [](const char *name, const char *cls, const char *parent, QRect r,
                  const QString &text = {}) {
        QTest::newRow(name) << cls << parent << r << text;
    };
    const char *c = "centralWidget", *s = "frame_setup", *m = "frame_Magnet", *v = "frame_valid";
    const char *b = "QPushButton", *l = "QLabel";
    row("btn_smallest", b, c, {715, 15, 35, 20});
    row("btn_close", b, c, {750, 15, 35, 20});
    row("btn_setup", b, c, {28, 84, 70, 28});
    row("btn_magnet", b, c, {98, 84, 114, 28});
    row("btn_valid", b, c, {212, 84, 93, 28});
    row("frame_setup", "QFrame", c, {28, 111, 743, 445});
    row("comboBox", "QComboBox", s, {25, 325, 200, 25});
    row("btn_search", b, s, {210, 400, 101, 32});
    row("btn_connect", b, s, {410, 400, 101, 32});
    row("lab_joy_up", l, s, {25, -10, 120, 375});
    row("lab_joy_right", l, s, {105, -10, 158, 375});
    row("glwg_rotation", "DisplayGL", s, {365, 50, 350, 300});
    row("lab_light_left", l, s, {39, 88, 20, 43});
    row("lab_light_middle", l, s, {53, 101, 13, 16});
    row("lab_light_right", l, s, {66, 100, 14, 17});
    row("lab_light_power", l, s, {50, 150, 18, 16});
    row("lab_light_back", l, s, {137, 139, 13, 19});
    row("lab_rocker_disk", l, s, {250, 50, 91, 92});
    row("lab_trigger_progress", l, s, {250, 190, 92, 161});
    row("lab_rocker_cross", l, s, {287, 87, 17, 18});
    row("lab_trigger_stick", l, s, {111, 92, 29, 41});
    row("lab_rocker_light", l, s, {48, 120, 22, 22});
    row("lab_trigger_progress_bottom", l, s, {250, 348, 92, 4});
    row("frame_Magnet", "QFrame", c, {28, 111, 743, 445});
    row("btn_start_calib", b, m, {210, 400, 101, 32});
    row("btn_save_param", b, m, {410, 400, 101, 32});
    row("lab_block_x", l, m, {80, 80, 80, 260});
    row("lab_block_y", l, m, {330, 80, 80, 260});
    row("lab_block_z", l, m, {580, 80, 80, 260});
    row("lab_mag_x", l, m, {50, 20, 135, 30}, "Magnetometer_X");
    row("lab_mag_y", l, m, {300, 20, 135, 30}, "Magnetometer_Y");
    row("lab_mag_z", l, m, {550, 20, 135, 30}, "Magnetometer_Z");
    row("lab_max_x", l, m, {80, 60, 80, 20}, "0");
    row("lab_max_y", l, m, {330, 60, 80, 20}, "0");
    row("lab_max_z", l, m, {580, 60, 80, 20}, "0");
    row("lab_min_x", l, m, {80, 340, 80, 20}, "-0");
    row("lab_min_y", l, m, {330, 340, 80, 20}, "-0");
    row("lab_min_z", l, m, {580, 340, 80, 20}, "-0");
    row("lab_magdata_x", l, m, {80, 200, 80, 20}, "0");
    row("lab_magdata_y", l, m, {330, 200, 80, 20}, "0");
    row("lab_magdata_z", l, m, {580, 200, 80, 20}, "0");
    row("frame_valid", "QFrame", c, {28, 111, 743, 445});
    row("btn_stationary_check", b, v, {280, 250, 212, 89});
    row("lab_check_progress", l, v, {50, 100, 655, 61});
    row("lab_count", l, v, {562, 95, 150, 61},
        "<html><head/><body><p><span style=\" color:#d4d4d4;\">100%</span></p></body></html>");
    row("lab_block", l, c, {28, 111, 743, 445});
    row("lab_status", l, c, {55, 470, 200, 25},
        "<html><head/><body><p><span style=\" font-size:6pt; color:#d4d4d4;\">"
        "Status:Unconnected!</span></p></body></html>");
}

void TestMainWindowForm::widget()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> found = w->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), text);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
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
    QStringList names;
    for (const QObject *child : parent->children()) {
        if (child->isWidgetType() && !child->objectName().startsWith(QLatin1String("qt_")))
            names << child->objectName();
    }
    QCOMPARE(names, bottomToTop);
}

void TestMainWindowForm::styleSheets_data()
{
    QTest::addColumn<QStringList>("widgets");
    QTest::addColumn<QString>("sheet");

    const QString tail = "/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
    const QString clear = "background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;";
    const QString dim = "background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;";
    const QString border = "border-color: rgba(255, 255, 255, 0);";
    auto run = [](int tabs, int spaces) { return QString(tabs, '\t') + QString(spaces, ' '); };
    QTest::newRow("lab_block") << QStringList{"lab_block"} << "QLabel{" + dim + run(0, 35) + border + tail;
    QTest::newRow("btn_setup") << QStringList{"btn_setup", "btn_valid"} << "QPushButton{" + dim + run(0, 33) + border + tail;
    QTest::newRow("btn_magnet") << QStringList{"btn_magnet"} << "QPushButton{" + dim + run(0, 34) + border + tail;
    QTest::newRow("btn_search") << QStringList{"btn_search"} << "QPushButton{" + clear + run(8, 1) + border + "}";
    QTest::newRow("btn_connect") << QStringList{"btn_connect"} << "QPushButton{" + clear + run(8, 2) + border + "}";
    QTest::newRow("comboBox") << QStringList{"comboBox"} << "QComboBox{color:#d4d4d4;" + dim + run(8, 1) + border + tail;
    QTest::newRow("btn_start_calib") << QStringList{"btn_start_calib"} << "QPushButton{" + clear + run(8, 1) + border + tail;
    QTest::newRow("btn_save_param") << QStringList{"btn_save_param"} << "QPushButton{" + clear + run(9, 3) + border + tail;
    QTest::newRow("btn_stationary_check") << QStringList{"btn_stationary_check"} << "QPushButton{" + clear + run(9, 2) + border + tail;
    QTest::newRow("lab_max_x") << QStringList{"lab_max_x"} << "QLabel{color:#d4d4d4;" + clear + run(8, 3) + border + "}";
    QTest::newRow("lab_max_y") << QStringList{"lab_max_y", "lab_max_z", "lab_min_x", "lab_min_y", "lab_min_z"} << "QLabel{color:#d4d4d4;" + clear + run(8, 1) + border + "}";
    QTest::newRow("lab_magdata_x") << QStringList{"lab_magdata_x"} << "QLabel{color:#7d7d7d;" + clear + run(8, 1) + border + "}";
    QTest::newRow("lab_magdata_y") << QStringList{"lab_magdata_y", "lab_magdata_z"} << "QLabel{color:#7d7d7d;" + clear + run(9, 1) + border + "}";
    QTest::newRow("unstyled") << QStringList{"btn_close", "frame_setup", "lab_status", "lab_count"} << QString();
}

void TestMainWindowForm::styleSheets()
{
    QFETCH(QStringList, widgets);
    QFETCH(QString, sheet);
    for (const QString &name : widgets) {
        auto *widget = w->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->styleSheet(), sheet);
    }
}

void TestMainWindowForm::pageSwitching_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("magnet then setup") << 1 << 0;
    QTest::newRow("valid then magnet") << 2 << 1;
    QTest::newRow("setup then valid") << 0 << 2;
    QTest::newRow("valid twice") << 2 << 2;
}

void TestMainWindowForm::pageSwitching()
{
    QFETCH(int, from);
    QFETCH(int, to);
    const QStringList tabs = {"btn_setup", "btn_magnet", "btn_valid"};
    const QStringList frames = {"frame_setup", "frame_Magnet", "frame_valid"};
    const QStringList faces = {"Setup", "Magnet", "Valid"};
    QTemporaryDir pictureDir;
    QVERIFY(QDir::setCurrent(pictureDir.path()));
    auto back = qScopeGuard([this] { QDir::setCurrent(workDir.path()); });
    QDir().mkdir(QStringLiteral("image"));
    for (int i = 0; i < 3; ++i) {
        for (bool down : {false, true}) {
            QImage image(12, 8, QImage::Format_RGB32);
            image.fill(tabColour(i, down));
            QVERIFY(image.save("image/" + faces[i] + (down ? "_down.png" : "_up.png")));
        }
    }
    MainWindow skinned;
    skinned.show();
    QVERIFY(QTest::qWaitForWindowExposed(&skinned));

    auto check = [&](int shown) {
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(skinned.findChild<QWidget *>(frames[i])->isVisible(), i == shown);
            QCOMPARE(faceOf(skinned.findChild<QPushButton *>(tabs[i])), tabColour(i, i == shown));
        }
    };
    check(0);   // the setup page is up at start
    skinned.findChild<QPushButton *>(tabs[from])->click();
    check(from);
    skinned.findChild<QPushButton *>(tabs[to])->click();
    check(to);
}

void TestMainWindowForm::drag_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("releaseFirst");
    QTest::addColumn<bool>("moves");

    const int left = Qt::LeftButton;
    QTest::newRow("left on background") << "centralWidget" << left << false << true;
    QTest::newRow("left on picture label") << "lab_joy_up" << left << false << true;
    QTest::newRow("left on 3-D view") << "glwg_rotation" << left << false << true;
    QTest::newRow("right") << "frame_setup" << int(Qt::RightButton) << false << false;
    QTest::newRow("middle") << "frame_setup" << int(Qt::MiddleButton) << false << false;
    QTest::newRow("left on push button") << "btn_search" << left << false << false;
    QTest::newRow("left on combo box") << "comboBox" << left << false << false;
    QTest::newRow("release ends the drag") << "centralWidget" << left << true << false;
}

void TestMainWindowForm::drag()
{
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, releaseFirst);
    QFETCH(bool, moves);

    MainWindow dragged;
    dragged.move(100, 80);
    dragged.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dragged));
    QTRY_COMPARE(dragged.pos(), QPoint(100, 80));
    auto *widget = dragged.findChild<QWidget *>(target);
    QVERIFY(widget);
    const QPoint start = dragged.pos();
    const QPoint press = start + widget->mapTo(&dragged, widget->rect().center());
    const auto held = Qt::MouseButtons(button);
    send(widget, QEvent::MouseButtonPress, press, Qt::MouseButton(button), held);
    if (releaseFirst)
        send(widget, QEvent::MouseButtonRelease, press, Qt::MouseButton(button), Qt::NoButton);
    // Moves with the button still reported held: only an unreleased left press drags, and the
    // grabbed point stays under the cursor.
    for (const QPoint &cursor : {press + QPoint(37, 23), press + QPoint(-60, 15)}) {
        send(widget, QEvent::MouseMove, cursor, Qt::NoButton, held);
        QCOMPARE(dragged.pos(), moves ? cursor - (press - start) : start);
    }
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
