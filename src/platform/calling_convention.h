// The calling convention of every function pointer at the host boundary:
// the C convention (cdecl on 32-bit Windows; the platform default
// elsewhere).
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define VAQ_CDECL __cdecl
#else
#define VAQ_CDECL
#endif

#if defined(_WIN32)
#define VAQ_EXPORT extern "C" __declspec(dllexport)
#else
#define VAQ_EXPORT extern "C" __attribute__((visibility("default")))
#endif
