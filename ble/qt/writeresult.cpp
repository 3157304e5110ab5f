#include "writeresult.h"

#include <chrono>

void WriteResult::set(bool ok)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (known)
            return;
        known = true;
        succeeded = ok;
    }
    done.notify_all();
}

bool WriteResult::wait(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return known; });
    return known && succeeded;
}
