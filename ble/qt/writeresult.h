// The outcome of one characteristic write, set on the layer's thread when the peer confirms
// or refuses it, and awaited by the thread that asked for the write.
#pragma once

#include <condition_variable>
#include <mutex>

class WriteResult
{
public:
    // The first outcome counts; later ones are ignored.
    void set(bool ok);
    // Blocks until the outcome is known or `timeoutMs` has passed; a write that has not been
    // confirmed by then counts as failed.
    bool wait(int timeoutMs);

private:
    std::mutex mutex;
    std::condition_variable done;
    bool known = false;
    bool succeeded = false;
};
