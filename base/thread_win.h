// Platform threads that own what they work on. The work is a callable moved onto the heap; the
// thread runs it, frees it when it returns and ends with its result as exit code, whether or
// not anybody still waits for the thread. Nothing passes through an untyped pointer.
#pragma once

#include "base/handle_win.h"

#include <windows.h>

#include <functional>

// What a thread runs; its result becomes the thread's exit code.
using ThreadWork = std::function<DWORD()>;

// The exit code of a thread whose work raised: the work's own rule for "nothing done" is
// expected to be 0, so an escaping exception reads the same way.
constexpr DWORD ThreadWorkFailed = 0;

// Starts a thread with default security and stack, running at once. Returns the thread's
// handle, or an empty handle when it could not be created (the work is then destroyed here
// and GetLastError() tells why). threadId, when given, receives the thread's id.
ScopedKernelHandle StartThread(ThreadWork work, DWORD* threadId = nullptr);
