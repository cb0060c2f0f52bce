/// @file KivTypes.h
/// Integer names that host code ported from Windows uses in the library's
/// signatures.  Only defined where the compiler does not know them already.
#ifndef KIV_PLATFORM_TYPES_H_
#define KIV_PLATFORM_TYPES_H_

#include <cstdint>

#if !defined(_MSC_VER)
/// The Windows name of a signed 64-bit integer.
typedef long long __int64;  // NOLINT: the Windows spelling is the interface
#endif

#endif  // KIV_PLATFORM_TYPES_H_
