// Base types and the few Win32 calls the updater makes outside MIDI: the real ones on Windows,
// our own elsewhere (platform/posix). Then the few calls that are ours on every platform.
#pragma once

#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cstdint>

typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int BOOL;
typedef char CHAR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef long long LONGLONG;

#define CALLBACK
#define WINAPI
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Laid out as Windows has it; the updater reads only the name, the one field filled in here.
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};

// Only the 64-bit count is used.
union LARGE_INTEGER {
    LONGLONG QuadPart;
};

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData);

BOOL FindClose(HANDLE hFindFile);
void Sleep(DWORD dwMilliseconds);
// A monotonic clock: counts since some fixed moment, and the counts in a second.
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
#endif

// Opens a file for reading in binary mode if it is a regular file (or a link to one); anything
// else (a folder, a pipe, a device) is refused at once, never waited on. nullptr when refused.
std::FILE* openRegularFile(const char* name);

// Writing to an output that has gone away (a closed pipe) fails quietly instead of ending the
// process, as on Windows: an update is never cut off part-way with the device half-flashed.
void ignoreClosedOutput();

// The name of a file as the console may be shown it: on POSIX every control character (C0, DEL,
// C1) becomes '?', on Windows the name stays as it is. At most shownSize bytes with the
// terminator; never longer than the name.
void printableFileName(const char* name, char* shown, size_t shownSize);

// The console's final key press. On Windows this is the command interpreter's "pause";
// elsewhere platform/posix prints the same prompt and waits for one key.
void pauseConsole();
