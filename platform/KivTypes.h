/// @file KivTypes.h
/// Integer names that host code ported from Windows uses in the library's
/// signatures.  Only defined where the compiler and its headers do not know
/// them already (MSVC has the keyword, MinGW's headers a macro).
#ifndef KIV_PLATFORM_TYPES_H_
#define KIV_PLATFORM_TYPES_H_

#include <cstdint>

#if !defined(_MSC_VER) && !defined(_WIN32)
/// The Windows name of a signed 64-bit integer.
typedef long long __int64;  // NOLINT: the Windows spelling is the interface
#endif

#endif  // KIV_PLATFORM_TYPES_H_
