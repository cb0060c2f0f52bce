/// @file KivExport.h
/// Symbol visibility for the shared libraries.
///
/// Both libraries are built with hidden visibility; whatever a host may call
/// is marked with one of these macros.  On ELF the same attribute serves the
/// library that defines a symbol and the host that uses it.
#ifndef KIV_PLATFORM_EXPORT_H_
#define KIV_PLATFORM_EXPORT_H_

#if defined(__GNUC__)
/// Marks a class or function as visible outside its shared library.
#define KIV_EXPORT __attribute__((visibility("default")))
#else
#define KIV_EXPORT
#endif

#endif  // KIV_PLATFORM_EXPORT_H_
