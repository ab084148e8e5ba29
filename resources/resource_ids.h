// Resource numbers shared by resources.rc and the code that loads them;
// macros, because the resource compiler reads this file too.
#pragma once

#define IDI_PROGRAM 1
#define IDR_DEFAULT_BANNER 101
#define IDR_BACKGROUND 102
#define IDR_LOGO 103
