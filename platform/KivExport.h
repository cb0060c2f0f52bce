/// @file KivExport.h
/// Symbol visibility for the shared libraries.
///
/// Both libraries are built with hidden visibility; whatever a host may call
/// is marked.  The access component (with the platform layer) marks its
/// interface with KIV_EXPORT, the library with KIVPLCDB_API
/// (KivPlcDbExport.h); both come from the pair below.  On ELF one attribute
/// serves the library that defines a symbol and the host that uses it; a
/// Windows DLL exports what it defines (dllexport) and its users import it
/// (dllimport), so each library's build says which one it is
/// (KIV_BUILDING_OLEDB, KIV_BUILDING_PLCDB) and everyone else imports.
#ifndef KIV_PLATFORM_EXPORT_H_
#define KIV_PLATFORM_EXPORT_H_

/// \def KIV_DLL_EXPORT
/// Marks a symbol that this build of a library defines for others to use.

/// \def KIV_DLL_IMPORT
/// Marks a symbol that a host uses from a library.

/// \def KIV_EXPORT
/// Marks the access component's interface: exported while the component is
/// built (KIV_BUILDING_OLEDB), imported by everyone else.

#if defined(_WIN32)
#define KIV_DLL_EXPORT __declspec(dllexport)
#define KIV_DLL_IMPORT __declspec(dllimport)
#elif defined(__GNUC__)
#define KIV_DLL_EXPORT __attribute__((visibility("default")))
#define KIV_DLL_IMPORT __attribute__((visibility("default")))
#else
#define KIV_DLL_EXPORT
#define KIV_DLL_IMPORT
#endif

#if defined(KIV_BUILDING_OLEDB)
#define KIV_EXPORT KIV_DLL_EXPORT
#else
#define KIV_EXPORT KIV_DLL_IMPORT
#endif

#endif  // KIV_PLATFORM_EXPORT_H_
