#include "files/game_folder_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <set>
#include <vector>

#include "core/folders_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/player_settings_win.h"
#include "core/text_utf8.h"
#include "files/file_check.h"
#include "files/manifest_paths.h"
#include "files/sha1_win.h"

namespace {

constexpr wchar_t kRefusedFormat[] = L"Can't move the game to %ls: %ls.";
constexpr wchar_t kInsideGame[] = L"that folder is inside the game folder";
constexpr wchar_t kNotWritable[] = L"that folder cannot be written";
constexpr wchar_t kOtherFiles[] = L"that folder holds other files. Choose an empty folder";
constexpr wchar_t kTooLong[] = L"the path is too long for the game's files";
constexpr wchar_t kNoSpace[] = L"not enough free space there; the game needs %.1f GB";
constexpr wchar_t kCopyFailed[] = L"Could not move the game to %ls: %ls. It stays in %ls.";
constexpr wchar_t kCopyDiffers[] =
    L"Could not move the game: %ls does not match the game's files. Verify game files repairs it; the game stays in %ls.";
constexpr wchar_t kMoving[] = L"Moving the game to %ls \u2022 %d %%";
constexpr wchar_t kMoved[] = L"The game is now in %ls";
constexpr wchar_t kAlreadyThere[] = L"The game is already in %ls";
constexpr size_t kLongestGamePath = 399;  // a manifest path's UTF-16 units at most
constexpr size_t kWalkLimit = 200000;     // entries looked at in a folder the player picked

std::wstring formatted(const wchar_t* format, ...) {
    wchar_t text[kStatusTextUnits];
    va_list args;
    va_start(args, format);
    ::_vsnwprintf_s(text, _TRUNCATE, format, args);
    va_end(args);
    return text;
}

FolderOutcome refused(const std::wstring& to, const wchar_t* why) {
    return {false, formatted(kRefusedFormat, to.c_str(), why)};
}

// The folder as an absolute path without a trailing separator ("D:\" keeps its own).
std::wstring absoluteFolder(const std::wstring& folder) {
    wchar_t full[kFolderPathUnits];
    const DWORD n = ::GetFullPathNameW(folder.c_str(), kFolderPathUnits, full, nullptr);
    if (n == 0 || n >= kFolderPathUnits) return {};
    std::wstring out(full, n);
    if (out.size() > 3 && out.back() == L'\\') out.pop_back();
    return out;
}

bool sameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool insideOrSame(const std::wstring& folder, const std::wstring& base) {
    if (folder.size() < base.size() || !sameName(folder.substr(0, base.size()), base)) return false;
    return folder.size() == base.size() || folder[base.size()] == L'\\' || base.back() == L'\\';
}

std::u16string key(const std::wstring& relative) {
    std::u16string k(relative.begin(), relative.end());
    for (char16_t& c : k)
        if (c == u'\\') c = u'/';
    upcaseFileName(k);
    return k;
}

// Every file name this game may leave in its folder: each entry and its part file.
std::set<std::u16string> gameFileKeys() {
    std::set<std::u16string> keys;
    for (const ManifestEntry& entry : gState.manifestEntries) {
        std::u16string k = fileNameKey(entry.path);
        keys.insert(k);
        upcaseFileName(k += u".part");
        keys.insert(k);
    }
    return keys;
}

struct FolderContents {
    int64_t files = 0;
    int64_t otherFiles = 0;   // not this game's
    bool complete = true;     // false: the walk stopped early
    bool stopAtOther = false;  // one file not of this game is answer enough (a whole drive may be picked)
};

void walk(const std::wstring& folder, const std::wstring& relative, const std::set<std::u16string>& game,
          FolderContents* out, size_t* seen) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (++*seen > kWalkLimit) {
            out->complete = false;
            break;
        }
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        // A link may lead anywhere: it counts as a file of someone else's.
        const bool link = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
            walk(folder + L"\\" + name, path, game, out, seen);
            continue;
        }
        ++out->files;
        if (link || !game.count(key(path))) ++out->otherFiles;
        if (out->otherFiles > 0 && out->stopAtOther) {
            out->complete = false;
            break;
        }
    } while (::FindNextFileW(find, &found) && out->complete);
    ::FindClose(find);
}

FolderContents contentsOf(const std::wstring& folder, bool stopAtOther) {
    FolderContents contents;
    contents.stopAtOther = stopAtOther;
    size_t seen = 0;
    walk(folder, L"", gameFileKeys(), &contents, &seen);
    return contents;
}

bool writable(const std::wstring& folder) {
    KernelHandle probe(::CreateFileW((folder + L"\\.tvl-write-check").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(probe);
}

std::wstring localPath(const std::wstring& folder, const ManifestEntry& entry) {
    wchar_t path[kFilePathUnits];
    return entryLocalPath(folder.c_str(), entry, path, kFilePathUnits) ? std::wstring(path) : std::wstring();
}


void createParents(const std::wstring& folder, const std::wstring& path) {
    for (size_t i = folder.size() + 1; i < path.size(); ++i)
        if (path[i] == L'\\') ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

// Removes `path`'s folders up to `folder`, each only if empty.
void removeEmptyParents(const std::wstring& folder, std::wstring path) {
    for (size_t slash = path.rfind(L'\\'); slash != std::wstring::npos && slash > folder.size();
         slash = path.rfind(L'\\')) {
        path.resize(slash);
        // Removing a linked folder would remove the player's link.
        if (reachedThroughLink(folder, path) || !::RemoveDirectoryW(path.c_str())) return;
    }
}

int64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// ---- copying ------------------------------------------------------------

struct CopyProgress {
    std::wstring to;
    int64_t total = 0, done = 0;
    int shown = -1;
    void add(int64_t bytes) {
        done += bytes;
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent == shown) return;
        shown = percent;
        setStatus(Checking, kMoving, to.c_str(), percent);
    }
};

bool copyBytes(HANDLE from, HANDLE to, Sha1Hash& hash, CopyProgress& progress) {
    std::vector<char> chunk(kHashChunk);
    for (;;) {
        DWORD got = 0, put = 0;
        if (!::ReadFile(from, chunk.data(), kHashChunk, &got, nullptr)) return false;
        if (got == 0) return true;
        hash.add(chunk.data(), got);
        if (!::WriteFile(to, chunk.data(), got, &put, nullptr) || put != got) return false;
        progress.add(got);
    }
}

enum class Copied { Whole, Failed, Differs };

// One file to its place in the new folder, through its part file there,
// keeping its last-write time so that the cache still knows it. The hash
// taken on the way catches a copy the cache vouched for wrongly.
Copied copyChecked(const ManifestEntry& entry, const std::wstring& source, const std::wstring& target,
                   CopyProgress& progress) {
    const std::wstring part = target + L".part";
    KernelHandle in(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    KernelHandle out(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sha1Hash hash;
    char sha1[41];
    FILETIME written;
    if (!in || !out || !hash.ok() || !::GetFileTime(in.get(), nullptr, nullptr, &written)) return Copied::Failed;
    Copied result = Copied::Failed;
    // A file waiting for its update is carried as it is: the update checks it.
    if (copyBytes(in.get(), out.get(), hash, progress) && hash.finishHex(sha1))
        result = !entry.needsUpdate && std::strcmp(sha1, entry.sha1) != 0 ? Copied::Differs
                 : ::FlushFileBuffers(out.get()) && ::SetFileTime(out.get(), nullptr, nullptr, &written)
                     ? Copied::Whole
                     : Copied::Failed;
    out = KernelHandle();
    if (result == Copied::Whole && !::MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        result = Copied::Failed;
    if (result != Copied::Whole) ::DeleteFileW(part.c_str());
    return result;
}

std::wstring fileName(const ManifestEntry& entry) {
    const char* slash = std::strrchr(entry.path, '/');
    wchar_t name[200];
    const char* start = slash ? slash + 1 : entry.path;
    return utf8ToUtf16(start, std::strlen(start), name, 200) >= 0 ? std::wstring(name) : std::wstring(L"a file");
}

// Every file of the manifest that is there: those that checked out this
// cycle, checked again on the way; and those an update will replace, as
// they are, since they are the base its deltas start from.
std::vector<const ManifestEntry*> filesToCopy(const std::wstring& from, int64_t* bytes) {
    std::vector<const ManifestEntry*> files;
    *bytes = 0;
    for (const ManifestEntry& entry : gState.manifestEntries) {
        const std::wstring path = localPath(from, entry);
        const int64_t size = fileSize(path);
        if (size < 0 || (!entry.needsUpdate && size != entry.size) || reachedThroughLink(from, path)) continue;
        files.push_back(&entry);
        *bytes += size;
    }
    return files;
}

// The files this game may have put in its folder: the manifest's, and
// those the verification cache knows from earlier versions.
std::vector<ManifestEntry> knownGameFiles() {
    std::vector<ManifestEntry> files = gState.manifestEntries;
    for (const FileCacheEntry& row : gState.fileCache) {
        if (!manifestPathAllowed(row.path.c_str())) continue;
        ManifestEntry entry{};
        std::strncpy(entry.path, row.path.c_str(), sizeof entry.path - 1);
        files.push_back(entry);
    }
    return files;
}

bool enoughSpace(const std::wstring& to, int64_t bytes) {
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExW(to.c_str(), &available, nullptr, nullptr)) return true;
    return static_cast<int64_t>(available.QuadPart) >= bytes + kDiskSpaceMargin;
}

void removeFiles(const std::wstring& folder, const std::vector<const ManifestEntry*>& files) {
    for (const ManifestEntry* entry : files) {
        const std::wstring path = localPath(folder, *entry);
        if (path.empty() || reachedThroughLink(folder, path)) continue;
        ::DeleteFileW(path.c_str());
        ::DeleteFileW((path + L".part").c_str());
        removeEmptyParents(folder, path);
    }
}

// ---- the record ---------------------------------------------------------

bool remember(const std::wstring& folder) {
    if (!saveGameFolderSetting(folder)) return false;
    LockHolder hold(gStateLock);
    wcscpy_s(gState.gameFolder, folder.c_str());
    return true;
}

FolderOutcome copyGame(const std::wstring& from, const std::wstring& to) {
    CopyProgress progress;
    progress.to = to;
    const std::vector<const ManifestEntry*> files = filesToCopy(from, &progress.total);
    if (!enoughSpace(to, progress.total))
        return refused(to, formatted(kNoSpace,  // with the margin the check keeps free
                                     static_cast<double>(progress.total + kDiskSpaceMargin) / (1 << 30))
                               .c_str());
    std::vector<const ManifestEntry*> placed;
    for (const ManifestEntry* entry : files) {
        const std::wstring target = localPath(to, *entry);
        createParents(to, target);
        const Copied copied = copyChecked(*entry, localPath(from, *entry), target, progress);
        if (copied != Copied::Whole) {
            removeFiles(to, placed);  // the new folder as it was; the old copy untouched
            removeEmptyParents(to, target);
            if (copied == Copied::Differs)
                return {false, formatted(kCopyDiffers, fileName(*entry).c_str(), from.c_str())};
            return {false, formatted(kCopyFailed, to.c_str(), L"a file could not be copied whole", from.c_str())};
        }
        placed.push_back(entry);
    }
    if (!remember(to)) {
        removeFiles(to, placed);
        return {false, formatted(kCopyFailed, to.c_str(), L"the launcher's settings could not be written", from.c_str())};
    }
    // Nothing of the game stays behind: files of older versions and part
    // files go with the copied ones.
    const std::vector<ManifestEntry> known = knownGameFiles();
    std::vector<const ManifestEntry*> old;
    for (const ManifestEntry& entry : known) old.push_back(&entry);
    removeFiles(from, old);
    ::RemoveDirectoryW(from.c_str());  // only when nothing else is left in it
    return {true, formatted(kMoved, to.c_str())};
}

// An empty folder on the same volume: the whole game folder in one rename.
bool renameWhole(const std::wstring& from, const std::wstring& to) {
    if (!::RemoveDirectoryW(to.c_str())) return false;
    if (::MoveFileExW(from.c_str(), to.c_str(), 0)) {
        if (remember(to)) return true;
        ::MoveFileExW(to.c_str(), from.c_str(), 0);  // not remembered: back where the launcher looks
        return false;
    }
    ::CreateDirectoryW(to.c_str(), nullptr);
    return false;
}

}  // namespace

// Is `path`, or a folder on its way down from `folder`, a link (a junction,
// a symbolic link, any reparse point)? Such a link is the player's: nothing
// is removed or copied through it, so no walk ever leaves the game folder.
bool reachedThroughLink(const std::wstring& folder, const std::wstring& path) {
    for (size_t i = folder.size() + 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') continue;
        const DWORD attributes = ::GetFileAttributesW(path.substr(0, i).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    }
    return false;
}

FolderOutcome moveGameFolder(const std::wstring& picked) {
    const std::wstring from = gState.gameFolder, to = absoluteFolder(picked);
    if (to.empty() || to.size() + 1 + kLongestGamePath >= kFilePathUnits) return refused(picked, kTooLong);
    if (sameName(to, from)) return {true, formatted(kAlreadyThere, to.c_str())};
    if (insideOrSame(to, from)) return refused(to, kInsideGame);
    createFolderWithParents(to.c_str());
    if (!writable(to)) return refused(to, kNotWritable);
    const FolderContents there = contentsOf(to, true);
    if (there.otherFiles > 0 || !there.complete) return refused(to, kOtherFiles);
    if (there.files == 0 && renameWhole(from, to)) return {true, formatted(kMoved, to.c_str())};
    return copyGame(from, to);
}

FolderOutcome uninstallGame() {
    const std::wstring folder = gState.gameFolder;
    const std::vector<ManifestEntry> files = knownGameFiles();
    int failed = 0;
    for (const ManifestEntry& entry : files) {
        const std::wstring path = localPath(folder, entry);
        if (path.empty() || reachedThroughLink(folder, path)) continue;
        if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
            ::GetLastError() != ERROR_PATH_NOT_FOUND)
            ++failed;
        ::DeleteFileW((path + L".part").c_str());
        removeEmptyParents(folder, path);
    }
    for (const wchar_t* record : {L"\\files.cache", L"\\installed.txt"})
        ::DeleteFileW((std::wstring(gState.dataFolder) + record).c_str());
    gState.fileCache.clear();
    gState.gameInstalled = 0;
    const FolderContents left = contentsOf(folder, false);
    std::wstring message = L"Game uninstalled";
    if (failed > 0) message += formatted(L" \u2022 %d file(s) in use were not deleted", failed);
    if (left.otherFiles > 0)
        message += formatted(L" \u2022 %d file(s) of your own left in %ls", static_cast<int>(left.otherFiles), folder.c_str());
    return {failed == 0, message};
}
