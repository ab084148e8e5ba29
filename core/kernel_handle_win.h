// Kernel handles: files, threads, processes and Tool Help snapshots. Some
// calls answer INVALID_HANDLE_VALUE for failure and others null; both count
// as empty.
#pragma once

#include <windows.h>

#include "core/owned_handle.h"

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) { ::CloseHandle(h); }
};

using KernelHandle = Owned<KernelHandleTraits>;

// Starts `body` on a thread of its own, never joined; false when it could
// not be started.
inline bool startDetachedThread(LPTHREAD_START_ROUTINE body) {
    return static_cast<bool>(KernelHandle(::CreateThread(nullptr, 0, body, nullptr, 0, nullptr)));
}
