// The launcher's name as the player sees it: the window's title, the title
// pill's text and the caption of its message boxes.
#pragma once

constexpr wchar_t kWindowTitle[] = L"TVL UE4 Launcher";
