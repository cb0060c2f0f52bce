/// @file KivPlcDbExport.h
/// Export marker for the library's interface.  The library is built with
/// hidden symbols; only what carries KIVPLCDB_API is visible to a host
/// (exported from the library's own build, imported everywhere else; see
/// KivExport.h).
#ifndef KIV_STARTUP_EXPORT_H_
#define KIV_STARTUP_EXPORT_H_

#include "KivExport.h"

/// \def KIVPLCDB_API
/// Marks the library's interface as visible to a host: exported while the
/// library is built (KIV_BUILDING_PLCDB), imported by a host.

#if defined(KIV_BUILDING_PLCDB)
#define KIVPLCDB_API KIV_DLL_EXPORT
#else
#define KIVPLCDB_API KIV_DLL_IMPORT
#endif

#endif  // KIV_STARTUP_EXPORT_H_
