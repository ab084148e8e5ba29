// Folders made with every missing parent, by plain CreateDirectoryW calls:
// the shell's SHCreateDirectoryEx also notifies the shell, which a launcher
// starting up has no need to wake.
#pragma once

// Makes `folder` (absolute) and any parents it lacks; true when it exists
// afterwards.
bool createFolderWithParents(const wchar_t* folder);
