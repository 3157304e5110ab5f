#include "windowfixture.h"

#include "addresstext.h"
#include "btthread.h"
#include "calibthread.h"
#include "magthread.h"

#include <QAbstractButton>
#include <QDir>
#include <QImage>

const QImage *MainWindowProbe::image(const char *name) const
{
    const QByteArray n(name);
    if (n == "right") return w.imgRightLight;
    if (n == "back") return w.imgBackLight;
    if (n == "middle") return w.imgMiddleLight;
    if (n == "left") return w.imgLeftLight;
    if (n == "power") return w.imgPowerLight;
    if (n == "trigger") return w.imgTriggerStick;
    if (n == "rocker") return w.imgRockerLight;
    return nullptr;
}

BoxCatcher::BoxCatcher(std::function<void()> onBox)
    : onBox(std::move(onBox))
{
    connect(&timer, &QTimer::timeout, this, &BoxCatcher::poll);
    timer.start(5);
}

void BoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    BoxSeen s;
    s.title = box->windowTitle();
    s.text = box->text();
    s.buttons = box->standardButtons();
    s.modal = box->isModal();
    s.parent = box->parentWidget();
    seen.append(s);
    if (onBox)
        onBox();
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

QStringList RecordingBackend::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

void RecordingBackend::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
}

bool RecordingBackend::note(const QString &call)
{
    std::lock_guard<std::mutex> lock(mutex);
    log.append(call);
    return true;
}

bool RecordingBackend::connect(const BleAddress &address)
{
    char text[13];
    formatAddressText(address, text);
    return note(QStringLiteral("connect ") + QLatin1String(text));
}

namespace {
void writePicture(const QString &path, const QColor &colour, QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(path);
}
} // namespace

PictureDir::PictureDir()
    : previous(QDir::currentPath())
{
    if (!dir.isValid())
        return;
    QDir(dir.path()).mkdir(QStringLiteral("image"));
    const QString base = dir.path() + QStringLiteral("/image/");
    writePicture(base + "right_light.png", Qt::red, QSize(10, 11));
    writePicture(base + "back_light.png", Qt::green, QSize(12, 13));
    writePicture(base + "middle_light.png", Qt::blue, QSize(14, 15));
    writePicture(base + "left_light.png", Qt::cyan, QSize(16, 17));
    writePicture(base + "power_light.png", Qt::magenta, QSize(18, 19));
    writePicture(base + "trigger_stick.png", Qt::yellow, QSize(20, 21));
    writePicture(base + "rocker_light.png", Qt::gray, QSize(22, 23));
    writePicture(base + "rocker_cross.png", Qt::white, QSize(17, 18));
    // Each row of the trigger bar holds its own number in red.
    QImage bar(92, 161, QImage::Format_ARGB32);
    for (int row = 0; row < bar.height(); ++row)
        for (int col = 0; col < bar.width(); ++col)
            bar.setPixel(col, row, qRgb(row, 0, 200));
    bar.save(base + "trigger_progress.png");
    QDir::setCurrent(dir.path());
}

PictureDir::~PictureDir()
{
    QDir::setCurrent(previous);
}
