/// @file KivPlcDbVersion.h
/// The library's version record.  The shared object is named
/// libkivplcdb.so.MAJOR; a host that wants to check at run time what it
/// loaded calls KivPlcDbGetVersion.
///
/// There is no start-up or shut-down of the library's own on this platform:
/// every KivPlcDbIO sets itself up when constructed, so loading the shared
/// object runs no code of ours.
#ifndef KIV_STARTUP_VERSION_H_
#define KIV_STARTUP_VERSION_H_

#include "KivPlcDbExport.h"

/// The version of the library that is loaded.
struct KivPlcDbVersionInfo {
  int major;            ///< the major version, which the shared object's name carries
  int minor;            ///< the minor version
  int patch;            ///< the patch level
  const wchar_t* text;  ///< "major.minor.patch"
};

/// The loaded library's version; a record of the library's, never null.
extern "C" KIVPLCDB_API const KivPlcDbVersionInfo* KivPlcDbGetVersion();

#endif  // KIV_STARTUP_VERSION_H_
