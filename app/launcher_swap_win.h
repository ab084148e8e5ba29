// The swap of a prepared launcher build, at start and before the window.
// The exe's path must never be without a working launcher, whenever the
// process is killed, so there is no moment between two renames:
//   1. the running exe opens "<exe>.new" so that no one else can change it,
//      checks it through that handle against its kept, signed document,
//      starts it with the exe's path and a handle on itself (the only handle
//      it inherits), and ends;
//   2. the new process waits for the old one to end, then renames itself
//      over the exe: one MoveFileEx, a single atomic step;
//   3. it goes on as the launcher.
// When anything fails, the old exe runs as before and the build is checked
// again at the next start; a build that fails its check is deleted.
#pragma once

// Call after prepareLauncher(), which reads the key and names this exe
// (gLauncherExePath). True: this process has
// handed over to the new build, or back to the old exe, and must end now.
bool swapPreparedLauncher();

// Null in the product. A test build sets it to hold the moment between the
// prepared build's check and its start, while the build is held open.
using PreparedBuildHook = void (*)(const wchar_t* build);
extern PreparedBuildHook gPreparedBuildChecked;
