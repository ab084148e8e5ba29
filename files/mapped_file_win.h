// An installed file's bytes, mapped read-only while the owner lives, as a
// patch's reference: the system pages them in as the decoder reaches them,
// so a large old file costs no memory of the launcher's own. Opened only
// while the file still has the size and last-write time it was known by.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/kernel_handle_win.h"
#include "core/owned_handle.h"

struct MappedViewTraits {
    using Handle = const uint8_t*;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { ::UnmapViewOfFile(h); }
};

class MappedFile {
public:
    // False when the file is missing, empty, not of `size` bytes and
    // last-write time `mtime`, or cannot be mapped.
    bool open(const wchar_t* path, int64_t size, int64_t mtime);
    const uint8_t* data() const { return view_.get(); }
    size_t size() const { return size_; }

private:
    Owned<MappedViewTraits> view_;
    size_t size_ = 0;
};
