#pragma once
// The one way into the Windows headers for the whole project: lean headers, no min/max
// macros, Windows 7 declarations (newer functions are bound by name at run time).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>
