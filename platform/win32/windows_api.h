#pragma once
// <windows.h> for the backend and its tests, without the macros that would rename the platform
// interfaces' own DeleteFile and MoveFile (to DeleteFileA, MoveFileA) and without min and max.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#undef DeleteFile
#undef MoveFile
