// The library's version record.  The shared object is named
// libkivplcdb.so.<major>; a host that wants to check at run time what it
// loaded calls KivPlcDbGetVersion.
//
// There is no start-up or shut-down of the library's own on this platform:
// every KivPlcDbIO sets itself up when constructed, so loading the shared
// object runs no code of ours.
#ifndef KIV_STARTUP_VERSION_H_
#define KIV_STARTUP_VERSION_H_

#include "KivPlcDbExport.h"

struct KivPlcDbVersionInfo {
  int major;
  int minor;
  int patch;
  const wchar_t* text;  // "major.minor.patch"
};

extern "C" KIVPLCDB_API const KivPlcDbVersionInfo* KivPlcDbGetVersion();

#endif  // KIV_STARTUP_VERSION_H_
