// The launcher's start-up, up to the window: DPI awareness, GDI+, the data
// folders, the install flag, "TVLLauncher.ini" beside the program, the
// verification cache and the HTTP session. The pictures are the image
// loader's first work (loadStartupPictures). The launcher and
// TVLHeadless both run exactly this, then open their window and start the
// background threads. Failures fall back to defaults, except an ini that
// cannot be trusted: gState.configProblem, which the worker shows.
#pragma once

void prepareLauncher();

// The first call of both programs. Every DLL that is not one of Windows'
// KnownDLLs (winhttp, bcrypt, dwmapi, oleacc) is delay-loaded, and from here
// on comes only from System32: a winhttp.dll that a web page dropped into
// the Downloads folder beside the launcher is never loaded.
void restrictDllSearch();

// The update worker, then the image loader, each on a detached thread.
void startBackgroundThreads();
