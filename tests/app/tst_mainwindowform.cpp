// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "backdropcache.h"
#include "controlsdisplay.h"
#include "magcalibration.h"
#include "mainwindow.h"
#include "skin.h"
#include "stationarycheck.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QXmlStreamReader>
#include <QtTest>

namespace {
// One widget of the form, as mainwindow.ui lays it out.
struct FormWidget
{
    QString name;
    QString className;
    QString parent;   // empty for the window itself
    QRect geometry;
    QHash<QString, QString> strings;   // its string properties: text, windowTitle, styleSheet
};

struct Form
{
    QVector<FormWidget> widgets;          // in the form's order
    QHash<QString, QStringList> zorder;   // per parent, as the form stacks its children
    QString error;
};
} // namespace

Q_DECLARE_METATYPE(FormWidget)

namespace {
Form readForm()
{
    Form form;
    QFile file(QStringLiteral(IMUCAL_FORM_PATH));
    if (!file.open(QIODevice::ReadOnly)) {
        form.error = file.errorString();
        return form;
    }
    QXmlStreamReader xml(&file);
    QVector<int> open;   // the widgets the reader is inside, innermost last
    QString property;
    while (!xml.atEnd()) {
        xml.readNext();
        const QStringRef tag = xml.name();
        if (xml.isEndElement() && tag == QLatin1String("widget")) {
            open.removeLast();
        } else if (!xml.isStartElement()) {
            continue;
        } else if (tag == QLatin1String("widget")) {
            const QXmlStreamAttributes a = xml.attributes();
            const QString parent = open.isEmpty() ? QString() : form.widgets[open.last()].name;
            form.widgets.append({a.value("name").toString(), a.value("class").toString(), parent, {}, {}});
            open.append(form.widgets.size() - 1);
        } else if (tag == QLatin1String("property")) {
            property = xml.attributes().value("name").toString();
        } else if (tag == QLatin1String("rect") && property == QLatin1String("geometry") && !open.isEmpty()) {
            QHash<QString, int> r;
            while (xml.readNextStartElement())
                r.insert(xml.name().toString(), xml.readElementText().toInt());
            form.widgets[open.last()].geometry = QRect(r["x"], r["y"], r["width"], r["height"]);
        } else if (tag == QLatin1String("string") && !open.isEmpty()) {
            form.widgets[open.last()].strings.insert(property, xml.readElementText());
        } else if (tag == QLatin1String("zorder") && !open.isEmpty()) {
            form.zorder[form.widgets[open.last()].name] << xml.readElementText();
        }
    }
    if (xml.hasError())
        form.error = xml.errorString();
    return form;
}

const char *skinSheet(const QString &widget)
{
    for (const Skin::WidgetSheet &entry : Skin::widgetSheets()) {
        if (widget == QLatin1String(entry.widget))
            return entry.sheet;
    }
    return nullptr;
}

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

// Qt's word on a style sheet it cannot parse, or on a property it does not know.
QStringList sheetWarnings;
QtMessageHandler testLog = nullptr;
void keepSheetWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive)
            || message.startsWith(QLatin1String("Unknown property")))
        sheetWarnings << message;
    testLog(type, context, message);
}
} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void window();
    void widgets_data();
    void widgets();
    void stacking_data();
    void stacking();
    void arithmeticAtRest_data();
    void arithmeticAtRest();
    void seeThrough_data();
    void seeThrough();
    void pageSwitching();
    void dropDownContrast();
    void pictureFolder();
    void drag_data();
    void drag();

private:
    QTemporaryDir workDir;
    QString oldDir;
    Form form;
    MainWindow *w = nullptr;
};

void TestMainWindowForm::initTestCase()
{
    form = readForm();
    QVERIFY2(form.error.isEmpty(), qPrintable(form.error));
    QVERIFY(form.widgets.size() > 1);
    // An empty working directory: the window runs without any of its pictures.
    QVERIFY(workDir.isValid());
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    // Every style sheet the window applies is parsed by the time it is shown, and its
    // properties are read when it is drawn (seeThrough).
    testLog = qInstallMessageHandler(keepSheetWarnings);
    // The worker's records reach the window's slots queued; the window makes their types known
    // before any worker exists.
    QCOMPARE(QMetaType::type("IMU_RAW"), int(QMetaType::UnknownType));
    w = new MainWindow;
    QVERIFY(QMetaType::type("IMU_RAW") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("IMU_POS") != QMetaType::UnknownType);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->ensurePolished();
    QVERIFY2(sheetWarnings.isEmpty(), qPrintable(sheetWarnings.join('\n')));
}

void TestMainWindowForm::cleanupTestCase()
{
    qInstallMessageHandler(testLog);
    delete w;
    QDir::setCurrent(oldDir);
}

void TestMainWindowForm::window()
{
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w->windowTitle(), form.widgets.first().strings.value("windowTitle"));
    QCOMPARE(w->size(), form.widgets.first().geometry.size());
}

// Every widget of the form, as the running window shows it at start: its class, parent,
// rectangle, text, and the style sheet the skin gives it (or the form's own).
void TestMainWindowForm::widgets_data()
{
    QTest::addColumn<FormWidget>("expected");
    for (const FormWidget &widget : form.widgets.mid(1))
        QTest::newRow(qPrintable(widget.name)) << widget;
}

void TestMainWindowForm::widgets()
{
    QFETCH(FormWidget, expected);
    const auto found = w->findChildren<QWidget *>(expected.name);
    QCOMPARE(found.size(), 1);
    const QWidget *widget = found.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), expected.className);
    QCOMPARE(widget->parentWidget()->objectName(), expected.parent);
    if (!expected.geometry.isNull())
        QCOMPARE(widget->geometry(), expected.geometry);
    if (expected.strings.contains("text")) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        QVERIFY(label || button);
        QCOMPARE(label ? label->text() : button->text(), expected.strings.value("text"));
    }
    const char *sheet = skinSheet(expected.name);
    QCOMPARE(widget->styleSheet(), sheet ? QString::fromLatin1(sheet) : expected.strings.value("styleSheet"));
}

// Each parent's children from bottom to top: as the form stacks them, or in its order.
void TestMainWindowForm::stacking_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QStringList>("children");
    QHash<QString, QStringList> inOrder;
    for (const FormWidget &widget : form.widgets)
        inOrder[widget.parent] << widget.name;
    for (const FormWidget &widget : form.widgets.mid(1)) {
        if (inOrder.contains(widget.name))
            QTest::newRow(qPrintable(widget.name)) << widget.name
                << form.zorder.value(widget.name, inOrder.value(widget.name));
    }
}

void TestMainWindowForm::stacking()
{
    QFETCH(QString, parent);
    QFETCH(QStringList, children);
    QStringList shown;
    for (QObject *child : w->findChild<QWidget *>(parent)->children()) {
        if (child->isWidgetType() && !child->objectName().startsWith(QLatin1String("qt_")))
            shown << child->objectName();
    }
    QCOMPARE(shown, children);
}

// The live display moves and sizes some of the form's widgets by arithmetic of its own. At
// rest, or full, that arithmetic gives the form's rectangles, so nothing jumps when it starts.
void TestMainWindowForm::arithmeticAtRest_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    auto inForm = [this](const QString &name) {
        for (const FormWidget &widget : form.widgets) {
            if (widget.name == name)
                return widget.geometry;
        }
        return QRect();
    };
    QTest::newRow("joystick cross") << "lab_rocker_cross" << ControlsDisplay::rockerCrossRect(0, 0);
    QTest::newRow("trigger bar") << "lab_trigger_progress"
        << QRect(inForm("lab_trigger_progress").topLeft(), ControlsDisplay::triggerFrameRect(-128).size());
    const char *const bars[] = {"lab_block_x", "lab_block_y", "lab_block_z"};
    for (int axis = 0; axis < 3; ++axis)
        QTest::newRow(bars[axis]) << bars[axis] << MagCalibration::barRect(axis, MagCalibration::Limit, -MagCalibration::Limit);
    const QRect progress = inForm("lab_check_progress");
    QTest::newRow("check progress") << "lab_check_progress"
        << QRect(progress.topLeft(), QSize(StationaryCheck::progressWidth(StationaryCheck::LastSample), progress.height()));
}

void TestMainWindowForm::arithmeticAtRest()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QCOMPARE(rect, w->findChild<QWidget *>(name)->geometry());
}

// The skin's sheets take the platform's look off the widgets they name: drawn over a plain
// background, each leaves that background, lightened by a tenth of white at most.
void TestMainWindowForm::seeThrough_data()
{
    QTest::addColumn<QString>("name");
    for (const Skin::WidgetSheet &entry : Skin::widgetSheets())
        QTest::newRow(entry.widget) << QString::fromLatin1(entry.widget);
}

void TestMainWindowForm::seeThrough()
{
    QFETCH(QString, name);
    QWidget *widget = w->findChild<QWidget *>(name);
    QVERIFY(widget);
    // The picture panel paints from a picture of itself over the window's background; its
    // sheet is what this checks.
    delete widget->findChild<BackdropCache *>();
    QImage image(widget->size(), QImage::Format_RGB32);
    image.fill(QColor(0, 0, 128));
    sheetWarnings.clear();
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QVERIFY2(sheetWarnings.isEmpty(), qPrintable(sheetWarnings.join('\n')));
    const QColor shown = image.pixelColor(2, 2);
    const int background[3] = {0, 0, 128}, face[3] = {shown.red(), shown.green(), shown.blue()};
    for (int c = 0; c < 3; ++c)
        QVERIFY2(face[c] >= background[c] && face[c] <= background[c] + (255 - background[c]) / 10 + 1,
                 qPrintable(shown.name()));
}

// WCAG contrast ratio of two colours.
static double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void TestMainWindowForm::dropDownContrast()
{
    // The open list as drawn: in each entry's row, the text's strongest pixel against the
    // row's background, for the chosen entry and for a plain one.
    auto *combo = w->findChild<QComboBox *>("comboBox");
    combo->addItems({"00025B0A1C01", "00025B0A1C02"});
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    const QImage image = view->viewport()->grab().toImage();
    for (int row = 0; row < 2; ++row) {
        const QRect r = view->visualRect(view->model()->index(row, 0)) & image.rect();
        const QColor background = image.pixelColor(r.left() + 1, r.center().y());
        double best = 1.0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                best = std::max(best, contrast(image.pixelColor(x, y), background));
        QVERIFY2(best >= 4.5, qPrintable(QString("row %1: %2:1").arg(row).arg(best)));
    }
    combo->hidePopup();
    combo->clear();
}

void TestMainWindowForm::pictureFolder()
{
    // An installed tool started where there is no ./image takes the installed pictures.
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("bin") && QDir(root.path()).mkpath("work/image")
            && QDir(root.path()).mkpath("share/imu-calibration-tool/image"));
    const QString bin = root.path() + "/bin", work = root.path() + "/work";
    const QString installed = QDir(root.path()).canonicalPath() + "/share/imu-calibration-tool/image/";
    QCOMPARE(Skin::pictureFolder(work, bin), QStringLiteral("./image/"));   // neither has any
    QFile(installed + "background.png").open(QIODevice::WriteOnly);
    QCOMPARE(Skin::pictureFolder(work, bin), installed);
    QFile(work + "/image/background.png").open(QIODevice::WriteOnly);
    QCOMPARE(Skin::pictureFolder(work, bin), QStringLiteral("./image/"));
}

void TestMainWindowForm::pageSwitching()
{
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
    for (int tab : {1, 0, 2, 2, 1}) {
        skinned.findChild<QPushButton *>(tabs[tab])->click();
        check(tab);
    }
}

void TestMainWindowForm::drag_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("releaseFirst");
    QTest::addColumn<bool>("moves");

    const int left = Qt::LeftButton;
    QTest::newRow("left on background") << "centralWidget" << left << false << true;
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
