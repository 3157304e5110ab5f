// Sends standard output (file descriptor 1, so the worker's console texts as well) to a
// temporary file for as long as the object lives.
#pragma once

#include <QByteArray>
#include <QTemporaryFile>

class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    bool isValid() const { return saved >= 0; }
    // Everything written so far, without the test framework's own message lines.
    QByteArray text();

private:
    QTemporaryFile file;
    int saved = -1;
};
