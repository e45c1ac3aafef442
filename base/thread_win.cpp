#include "base/thread_win.h"

#include <memory>

namespace {

DWORD WINAPI runWork(LPVOID param) {
    const std::unique_ptr<ThreadWork> work(static_cast<ThreadWork*>(param));
    try {
        return (*work)();
    } catch (...) {
        // An exception must not leave a thread function: it would end the process.
        return ThreadWorkFailed;
    }
}

} // namespace

ScopedKernelHandle StartThread(ThreadWork work, DWORD* threadId) {
    auto owned = std::make_unique<ThreadWork>(std::move(work));
    ScopedKernelHandle thread(::CreateThread(nullptr, 0, runWork, owned.get(), 0, threadId));
    if (thread)
        owned.release(); // the thread frees it
    return thread;
}
