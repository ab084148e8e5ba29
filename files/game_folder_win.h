// The game's folder as a whole: moving the game to a folder the player
// chose, and removing it. Both work from the manifest of this cycle, after
// the files were checked. Worker thread only.
#pragma once

#include <string>

// Does `path`, below `folder`, pass through a reparse point (a junction, a
// symbolic link)? Nothing is read, copied or removed through one, so no walk
// leaves the game folder.
bool reachedThroughLink(const std::wstring& folder, const std::wstring& path);

// What became of a move or an uninstall: done or not, and the status text
// that says why not, or what was done.
struct FolderOutcome {
    bool done = false;
    std::wstring message;
};

// Moves the game to `to` and remembers it there.
// - Refused, with nothing touched: a folder inside the game folder, one
//   that cannot be written, one that holds files other than this game's,
//   a path too long for the game's files, or too little free space.
// - An empty folder on the same volume takes the game folder by one rename.
// - Otherwise every file that checked out is copied and its SHA-1 checked
//   against the manifest; only then is the new folder remembered and the
//   old copy removed. A failure or a kill before that leaves the old copy
//   whole and in use.
FolderOutcome moveGameFolder(const std::wstring& to);

// Deletes the files of the manifest and of files.cache, their .part files,
// the folders they leave empty, files.cache and installed.txt. The player's
// own files stay, and the message counts them.
FolderOutcome uninstallGame();
