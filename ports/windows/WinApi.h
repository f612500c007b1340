// The Windows headers as the platform layer uses them: the ANSI functions are
// always called by their "A" names, so the generic macros that would rename
// members of the agent's own interfaces are removed.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wininet.h>
// clang-format on

#undef GetSystemDirectory
#undef ShellExecute
#undef LoadImage
#undef SendMessage
#undef GetHeader
