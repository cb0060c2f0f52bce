/// @file KivFramework.h
/// The portable framework types that the exported interface uses: the wide
/// string class, the COM string, the heap block and the integer names.
#ifndef KIV_INCLUDE_KIVFRAMEWORK_H_
#define KIV_INCLUDE_KIVFRAMEWORK_H_

#include "KivComBSTR.h"
#include "KivHeapPtr.h"
#include "KivString.h"
#include "KivTypes.h"

#endif  // KIV_INCLUDE_KIVFRAMEWORK_H_
