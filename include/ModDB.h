// The records that carry catalogue rows between the host and the library.
// Plain structures: no base, no virtual functions, no constructors of the
// library's own.  Field order is the column order of the statements that
// fill them and is part of the exported interface.
#ifndef KIV_INCLUDE_MODDB_H_
#define KIV_INCLUDE_MODDB_H_

#include "KivString.h"

namespace ModDB {

// One row of PLC_MANUFACTURER.
struct IndexData {
  CString Manufacturer;
  CString Series;
  CString Type;
  CString TableName;
};

// One row of a type's specification table, keyed by Code.
struct ModSpecData {
  CString Code;
  CString Points;
  CString Type;
  CString Description;
  CString Rating;
  CString AddressBase;
  CString AddressFormat;
  CString BoxRight;
  CString BoxLeft;
  CString BoxTop;
  CString BoxBottom;
  CString BoxSplitTop;
  CString BoxSplitBottom;
  CString MetricBoxRight;
  CString MetricBoxLeft;
  CString MetricBoxTop;
  CString MetricBoxBottom;
  CString MetricBoxSplitTop;
  CString MetricBoxSplitBottom;
  CString OptionalBlock;
  CString Lisp;
  CString Category;
};

// One row of a type's terminal ("_Data") table, keyed by Code and Sequence.
// Sequence has no value until assigned; every record the library returns
// has it set.
struct ModTermData {
  CString Code;
  long Sequence;
  CString Block;
  CString Attributes;
};

// One row of PLC_STYLES.
struct StyleBoxData {
  int Style;
  CString BoxRight;
  CString BoxLeft;
  CString BoxTop;
  CString BoxBottom;
  CString BoxSplitTop;
  CString BoxSplitBottom;
  CString MetricBoxRight;
  CString MetricBoxLeft;
  CString MetricBoxTop;
  CString MetricBoxBottom;
  CString MetricBoxSplitTop;
  CString MetricBoxSplitBottom;
};

}  // namespace ModDB

#endif  // KIV_INCLUDE_MODDB_H_
