// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Preloaded into a built tool (LD_PRELOAD) to see its 3-D view's frames from outside: every
// buffer swap is counted and, when IMUCAL_FRAME_LOG names a file, written to it as one line
//
//     <CLOCK_MONOTONIC ns after the swap returned> <angle1> <angle2> <angle3>
//
// with the angles of the last rotations the view gave the GL before that swap. The view turns
// the model with glRotatef(angle1) about Y, glRotatef(-angle2) about Z and glRotatef(angle3)
// about X, so each rotation's axis tells which angle it carries. Nothing in the tool changes:
// both calls go on to the real GL.
#include <GL/gl.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include <dlfcn.h>

namespace {

std::mutex mutex;
float angles[3] = {0.0f, 0.0f, 0.0f};
FILE *log = nullptr;
bool opened = false;

int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

template <typename F>
F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void glRotatef(GLfloat angle, GLfloat x, GLfloat y,
                                                      GLfloat z)
{
    using Rotate = void (*)(GLfloat, GLfloat, GLfloat, GLfloat);
    static const Rotate next = real<Rotate>("glRotatef");
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (y != 0.0f)
            angles[0] = angle;
        else if (z != 0.0f)
            angles[1] = -angle;
        else if (x != 0.0f)
            angles[2] = angle;
    }
    if (next)
        next(angle, x, y, z);
}

__attribute__((visibility("default"))) void glXSwapBuffers(void *display, unsigned long drawable)
{
    using Swap = void (*)(void *, unsigned long);
    static const Swap next = real<Swap>("glXSwapBuffers");
    if (next)
        next(display, drawable);
    const int64_t now = monotonicNs();
    std::lock_guard<std::mutex> lock(mutex);
    if (!opened) {
        opened = true;
        if (const char *path = std::getenv("IMUCAL_FRAME_LOG"))
            log = std::fopen(path, "w");
    }
    if (log) {
        std::fprintf(log, "%" PRId64 " %.3f %.3f %.3f\n", now, double(angles[0]),
                     double(angles[1]), double(angles[2]));
        std::fflush(log);
    }
}

} // extern "C"
