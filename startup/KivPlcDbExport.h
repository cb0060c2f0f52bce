/// @file KivPlcDbExport.h
/// Export marker for the library's interface.  The library is built with
/// hidden symbols; only what carries KIVPLCDB_API is visible to a host.
#ifndef KIV_STARTUP_EXPORT_H_
#define KIV_STARTUP_EXPORT_H_

#include "KivExport.h"

/// Marks the library's interface as visible to a host.
#define KIVPLCDB_API KIV_EXPORT

#endif  // KIV_STARTUP_EXPORT_H_
