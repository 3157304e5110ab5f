// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Start-up: time from process start to the first frame of the window, pictures loaded.
//
//   bench_startup [--runs N]
//
// Starts itself N times (default 7) as a child that builds and shows the window as the tool
// does. The child reports, on the parent's clock, when main() was entered, when the window
// (form and skin pictures) was built, and when the first frame was out: the window's first
// paint flushed and the 3-D view's first buffer swap done. The parent takes the time just
// before it spawns the child as the process start.
#include "mainwindow.h"
#include "measuring.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <vector>

#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {
std::atomic<int> swaps{0};
}

extern "C" void glXSwapBuffers(void *display, unsigned long drawable)
{
    using Swap = void (*)(void *, unsigned long);
    static const Swap real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    swaps.fetch_add(1);
    if (real)
        real(display, drawable);
}

namespace {

class FirstFrame : public QObject
{
public:
    explicit FirstFrame(QWidget *window) : window(window) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The window's own widget may never paint: its children cover it.
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Paint && !painted && widget && widget->window() == window) {
            painted = true;
            // Runs once this paint has been flushed to the window.
            QTimer::singleShot(0, this, [this] { check(); });
        }
        return false;
    }

    void check()
    {
        if (painted && swaps.load() > 0) {
            std::printf("frame_ns=%lld\n", (long long)bench::monotonicNs());
            std::fflush(stdout);
            QApplication::exit(0);
        } else {
            QTimer::singleShot(1, this, [this] { check(); });
        }
    }

private:
    QWidget *window;
    bool painted = false;
};

int child(int argc, char *argv[])
{
    const int64_t entered = bench::monotonicNs();
    QApplication app(argc, argv);
    QDir::setCurrent(QStringLiteral(IMU_SOURCE_DIR));
    MainWindow *window = new MainWindow;
    const int64_t built = bench::monotonicNs();
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    FirstFrame first(window);
    app.installEventFilter(&first);
    window->show();
    std::printf("main_ns=%lld\nbuilt_ns=%lld\n", (long long)entered, (long long)built);
    const int code = app.exec();
    delete window;
    return code;
}

long long field(const std::string &text, const char *key)
{
    const size_t at = text.find(key);
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + std::strlen(key));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    int runs = 7;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));

    std::vector<int64_t> toMain, toBuilt, toFrame;
    for (int run = 0; run < runs; ++run) {
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        char childFlag[] = "--child";
        char *childArgs[] = {argv[0], childFlag, nullptr};
        pid_t pid = 0;
        const int64_t start = bench::monotonicNs();
        if (posix_spawn(&pid, argv[0], &actions, nullptr, childArgs, environ) != 0)
            return 1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        std::string out;
        char buffer[256];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, size_t(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const long long mainNs = field(out, "main_ns="), builtNs = field(out, "built_ns="),
                        frameNs = field(out, "frame_ns=");
        if (mainNs < 0 || builtNs < 0 || frameNs < 0) {
            std::fprintf(stderr, "child gave no figures:\n%s\n", out.c_str());
            return 1;
        }
        toMain.push_back(mainNs - start);
        toBuilt.push_back(builtNs - start);
        toFrame.push_back(frameNs - start);
        std::printf("run=%d to_main_ms=%.1f to_window_built_ms=%.1f to_first_frame_ms=%.1f\n",
                    run, (mainNs - start) / 1e6, (builtNs - start) / 1e6, (frameNs - start) / 1e6);
    }
    for (auto *v : {&toMain, &toBuilt, &toFrame})
        std::sort(v->begin(), v->end());
    std::printf("median to_main_ms=%.1f to_window_built_ms=%.1f to_first_frame_ms=%.1f\n",
                bench::percentile(toMain, 0.5) / 1e6, bench::percentile(toBuilt, 0.5) / 1e6,
                bench::percentile(toFrame, 0.5) / 1e6);
    return 0;
}
