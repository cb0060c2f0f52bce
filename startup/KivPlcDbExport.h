// Export marker for the library's interface.  The library is built with
// hidden symbols; only what carries KIVPLCDB_API is visible to a host.
#ifndef KIV_STARTUP_EXPORT_H_
#define KIV_STARTUP_EXPORT_H_

#include "KivExport.h"

#define KIVPLCDB_API KIV_EXPORT

#endif  // KIV_STARTUP_EXPORT_H_
