#include "files/mapped_file_win.h"

bool MappedFile::open(const wchar_t* path, int64_t size, int64_t mtime) {
    view_.reset();
    // Shared for reading and renaming: the seeds of a pass hold files open too.
    KernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
    const int64_t actualSize = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const int64_t actualTime = (static_cast<int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                               info.ftLastWriteTime.dwLowDateTime;
    if (size <= 0 || actualSize != size || actualTime != mtime || static_cast<uint64_t>(size) > SIZE_MAX) return false;
    // The view keeps the mapping alive; the handles can go at once.
    KernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return false;
    view_.reset(static_cast<const uint8_t*>(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0)));
    size_ = view_ ? static_cast<size_t>(size) : 0;
    return static_cast<bool>(view_);
}
