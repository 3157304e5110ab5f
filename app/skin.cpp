// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The window's skin: pictures from ./image, palettes, style sheets, and the page buttons.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "skin.h"

#include "backdropcache.h"

#include <QAbstractItemView>
#include <QBrush>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPalette>

#include <utility>

namespace {

// Style sheets that take the frame off the buttons and labels so the background picture shows
// through. Several differ only in the run of blanks before "border-color", which the style
// sheet parser skips: they draw alike.
const char blockSheet[] =
    "QLabel{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "                                   " // 35 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char tabSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "                                 " // 33 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char magnetTabSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "                                  " // 34 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char searchSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";
const char connectSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t  " // 8 tabs, 2 blanks
    "border-color: rgba(255, 255, 255, 0);}";
const char comboSheet[] =
    "QComboBox{color:#d4d4d4;background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char calibSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char saveSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t\t   " // 9 tabs, 3 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char checkSheet[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t\t  " // 9 tabs, 2 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char maxXSheet[] =
    "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t   " // 8 tabs, 3 blanks
    "border-color: rgba(255, 255, 255, 0);}";
const char extremeSheet[] =
    "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";
const char magdataXSheet[] =
    "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";
const char magdataSheet[] =
    "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t\t " // 9 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";

QString picture(const QString &name)
{
    static const QString folder =
            Skin::pictureFolder(QDir::currentPath(), QCoreApplication::applicationDirPath());
    return folder + name;
}

// Where a screen has more than one device pixel to a logical pixel, each picture comes from its
// rendering at twice the size, name@2x.png, with a pixel ratio of 2: Qt then draws it at the
// screen's own resolution instead of enlarging name.png. A picture without a 2x rendering, and
// every picture where all screens have a ratio of 1, comes from name.png alone.
bool sharpPictures()
{
    return QCoreApplication::testAttribute(Qt::AA_UseHighDpiPixmaps)
           && qobject_cast<QGuiApplication *>(QCoreApplication::instance())
           && qGuiApp->devicePixelRatio() > 1.0;
}

QString twiceAsLarge(const QString &path)
{
    return QString(path).insert(path.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
}

template <typename Picture>
Picture load(const QString &name)
{
    const QString path = picture(name);
    if (sharpPictures()) {
        Picture sharp(twiceAsLarge(path));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return Picture(path);
}

QPixmap pixmap(const char *name) { return load<QPixmap>(QLatin1String(name)); }
QImage image(const char *name) { return load<QImage>(QLatin1String(name)); }

} // namespace

// The drop-down's open list: light text on the skin's dark slate, the chosen entry in the
// skin's cyan with dark text. The combo box's own sheet leaves the list on the platform's light
// base, where its light grey text cannot be read.
const char Skin::dropDownListSheet[] =
    "QAbstractItemView{color:#d4d4d4;background-color:#1d2a32;border: 1px solid #3b4f5c;"
    "selection-color:#0b161c;selection-background-color:#33c5dc;outline: 0px;}";

const std::vector<Skin::WidgetSheet> &Skin::widgetSheets()
{
    static const std::vector<WidgetSheet> sheets = {
        {"lab_block", blockSheet},
        {"btn_setup", tabSheet},
        {"btn_magnet", magnetTabSheet},
        {"btn_valid", tabSheet},
        {"btn_search", searchSheet},
        {"btn_connect", connectSheet},
        {"comboBox", comboSheet},
        {"btn_start_calib", calibSheet},
        {"btn_save_param", saveSheet},
        {"lab_max_x", maxXSheet},
        {"lab_max_y", extremeSheet},
        {"lab_max_z", extremeSheet},
        {"lab_min_x", extremeSheet},
        {"lab_min_y", extremeSheet},
        {"lab_min_z", extremeSheet},
        {"lab_magdata_x", magdataXSheet},
        {"lab_magdata_y", magdataSheet},
        {"lab_magdata_z", magdataSheet},
        {"btn_stationary_check", checkSheet},
    };
    return sheets;
}

QString Skin::pictureFolder(const QString &workingDir, const QString &applicationDir)
{
    const QStringList pictures{QStringLiteral("*.png"), QStringLiteral("*.bmp")};
    QString local = QStringLiteral("./image/");
    if (!QDir(workingDir + QStringLiteral("/image")).entryList(pictures, QDir::Files).isEmpty())
        return local;
    // An installed tool keeps its pictures in <prefix>/share, beside its <prefix>/bin.
    const QDir installed(applicationDir + QStringLiteral("/../share/imu-calibration-tool/image"));
    if (!installed.entryList(pictures, QDir::Files).isEmpty())
        return installed.canonicalPath() + QLatin1Char('/');
    return local;
}

void MainWindow::initSkin()
{
    // Qt draws a picture of pixel ratio 2 at the screen's own resolution; the skin takes its 2x
    // pictures on such screens (sharpPictures).
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    // The window takes its size from the background. Without that picture the form's own size
    // stays, so the widgets remain visible on the plain palette.
    const QPixmap background = pixmap("background.png");
    if (!background.isNull()) {
        resize(background.size() / background.devicePixelRatioF());
        QPalette windowPalette = palette();
        windowPalette.setBrush(QPalette::Window, QBrush(background));
        setPalette(windowPalette);
    }
    setWindowFlags(Qt::FramelessWindowHint);
    // The form names the icon relative to the working directory; an installed tool started
    // elsewhere finds it beside its other pictures.
    if (windowIcon().availableSizes().isEmpty())
        setWindowIcon(QIcon(picture(QStringLiteral("logo.bmp"))));

    for (const Skin::WidgetSheet &entry : Skin::widgetSheets()) {
        if (QWidget *widget = findChild<QWidget *>(QLatin1String(entry.widget)))
            widget->setStyleSheet(QLatin1String(entry.sheet));
    }
    ui->comboBox->view()->setStyleSheet(QLatin1String(Skin::dropDownListSheet));

    ui->lab_block->setPixmap(pixmap("block.png"));
    // The panel lies under everything that changes while a controller streams.
    new BackdropCache(ui->lab_block);
    ui->btn_close->setIcon(QIcon(pixmap("settng-nor-03.png")));
    ui->btn_smallest->setIcon(QIcon(pixmap("settng-nor-01.png")));

    const std::pair<QLabel *, const char *> lightPictures[LightCount] = {
        {ui->lab_light_right, "right_light.png"},   {ui->lab_light_back, "back_light.png"},
        {ui->lab_light_middle, "middle_light.png"}, {ui->lab_light_left, "left_light.png"},
        {ui->lab_light_power, "power_light.png"},   {ui->lab_trigger_stick, "trigger_stick.png"},
        {ui->lab_rocker_light, "rocker_light.png"},
    };
    for (size_t i = 0; i < LightCount; ++i)
        lights[i] = {lightPictures[i].first, QPixmap::fromImage(image(lightPictures[i].second))};

    const char *const tabFaces[PageCount] = {"Setup", "Magnet", "Valid"};
    for (int page = 0; page < PageCount; ++page) {
        tabUp[page] = load<QPixmap>(QLatin1String(tabFaces[page]) + QStringLiteral("_up.png"));
        tabDown[page] = load<QPixmap>(QLatin1String(tabFaces[page]) + QStringLiteral("_down.png"));
    }

    ui->btn_search->setIcon(QIcon(pixmap("button_search.png")));
    ui->btn_connect->setIcon(QIcon(pixmap("button_connect.png")));
    ui->lab_joy_up->setPixmap(pixmap("joystick_up.png"));
    ui->lab_joy_right->setPixmap(pixmap("joystick_right.png"));
    ui->lab_rocker_disk->setPixmap(pixmap("rocker_disk.png"));
    ui->lab_trigger_progress->setPixmap(pixmap("trigger_progress.png"));
    ui->lab_trigger_progress_bottom->setPixmap(pixmap("trigger_progress_bottom.png"));
    ui->lab_rocker_cross->setPixmap(QPixmap::fromImage(image("rocker_cross.png")));

    ui->btn_start_calib->setIcon(QIcon(pixmap("button_calib.png")));
    ui->btn_save_param->setIcon(QIcon(pixmap("button_save.png")));
    QPalette whiteText;
    whiteText.setBrush(QPalette::WindowText, QBrush(Qt::white));
    ui->lab_mag_x->setPalette(whiteText);
    ui->lab_mag_y->setPalette(whiteText);
    ui->lab_mag_z->setPalette(whiteText);
    const QPixmap longBar = pixmap("long_bar.png");
    ui->lab_block_x->setPixmap(longBar);
    ui->lab_block_y->setPixmap(longBar);
    ui->lab_block_z->setPixmap(longBar);

    ui->lab_check_progress->setPixmap(pixmap("progress.png"));
    ui->btn_stationary_check->setIcon(QIcon(pixmap("btn_check.png")));

    showPage(SetupPage);
}

// The three pages share one rectangle; each tab shows its own page and its "down" face.
void MainWindow::showPage(Page page)
{
    QPushButton *const tabs[PageCount] = {ui->btn_setup, ui->btn_magnet, ui->btn_valid};
    QFrame *const frames[PageCount] = {ui->frame_setup, ui->frame_Magnet, ui->frame_valid};
    for (int i = 0; i < PageCount; ++i) {
        tabs[i]->setIcon(QIcon(i == page ? tabDown[i] : tabUp[i]));
        frames[i]->setVisible(i == page);
    }
}

void MainWindow::on_btn_setup_clicked()
{
    showPage(SetupPage);
}

void MainWindow::on_btn_magnet_clicked()
{
    showPage(MagnetPage);
}

void MainWindow::on_btn_valid_clicked()
{
    showPage(ValidPage);
}
