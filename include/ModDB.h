/// @file ModDB.h
/// The records that carry catalogue rows between the host and the library.
/// Plain structures: no base, no virtual functions, no constructors of the
/// library's own.  Field order is the column order of the statements that
/// fill them and is part of the exported interface.
#ifndef KIV_INCLUDE_MODDB_H_
#define KIV_INCLUDE_MODDB_H_

#include "KivString.h"

namespace ModDB {

/// One row of PLC_MANUFACTURER.
struct IndexData {
  CString Manufacturer;  ///< MANUFACTURER, at most 255 characters
  CString Series;        ///< SERIES, at most 255 characters
  CString Type;          ///< TYPE, at most 255 characters
  CString TableName;     ///< TABLE_NAME, at most 255 characters: a type's specification table
};

/// One row of a type's specification table, keyed by Code.
struct ModSpecData {
  CString Code;                  ///< CODE, at most 60 characters; the row's key
  CString Points;                ///< POINTS, at most 60 characters
  CString Type;                  ///< TYPE, at most 60 characters
  CString Description;           ///< DESCRIPTION, at most 150 characters
  CString Rating;                ///< RATING, at most 60 characters
  CString AddressBase;           ///< ADDRESS_BASE, at most 60 characters
  CString AddressFormat;         ///< ADDRESS_FORMAT, at most 60 characters
  CString BoxRight;              ///< BOX_RIGHT, at most 60 characters
  CString BoxLeft;               ///< BOX_LEFT, at most 60 characters
  CString BoxTop;                ///< BOX_TOP, at most 60 characters
  CString BoxBottom;             ///< BOX_BOTTOM, at most 60 characters
  CString BoxSplitTop;           ///< BOX_SPLIT_TOP, at most 60 characters
  CString BoxSplitBottom;        ///< BOX_SPLIT_BOTTOM, at most 60 characters
  CString MetricBoxRight;        ///< METRIC_BOX_RIGHT, at most 60 characters
  CString MetricBoxLeft;         ///< METRIC_BOX_LEFT, at most 60 characters
  CString MetricBoxTop;          ///< METRIC_BOX_TOP, at most 60 characters
  CString MetricBoxBottom;       ///< METRIC_BOX_BOTTOM, at most 60 characters
  CString MetricBoxSplitTop;     ///< METRIC_BOX_SPLIT_TOP, at most 60 characters
  CString MetricBoxSplitBottom;  ///< METRIC_BOX_SPLIT_BOTTOM, at most 60 characters
  CString OptionalBlock;         ///< OPTIONAL_BLOCK, at most 255 characters
  CString Lisp;                  ///< LISP: long text
  CString Category;              ///< CATEGORY, at most 10 characters
};

/// One row of a type's terminal ("_Data") table, keyed by Code and Sequence.
/// Sequence has no value until assigned; every record the library returns
/// has it set.
struct ModTermData {
  CString Code;        ///< CODE, at most 60 characters; the module's code
  long Sequence;       ///< SEQUENCE: the terminal position, -32768 to 32767; -1 for a stored NULL
  CString Block;       ///< BLOCK, at most 255 characters
  CString Attributes;  ///< ATTRIBUTES: long text
};

/// One row of PLC_STYLES.
struct StyleBoxData {
  int Style;                     ///< STYLE: the style number, 1 to 9
  CString BoxRight;              ///< BOX_RIGHT, at most 60 characters
  CString BoxLeft;               ///< BOX_LEFT, at most 60 characters
  CString BoxTop;                ///< BOX_TOP, at most 60 characters
  CString BoxBottom;             ///< BOX_BOTTOM, at most 60 characters
  CString BoxSplitTop;           ///< BOX_SPLIT_TOP, at most 60 characters
  CString BoxSplitBottom;        ///< BOX_SPLIT_BOTTOM, at most 60 characters
  CString MetricBoxRight;        ///< METRIC_BOX_RIGHT, at most 60 characters
  CString MetricBoxLeft;         ///< METRIC_BOX_LEFT, at most 60 characters
  CString MetricBoxTop;          ///< METRIC_BOX_TOP, at most 60 characters
  CString MetricBoxBottom;       ///< METRIC_BOX_BOTTOM, at most 60 characters
  CString MetricBoxSplitTop;     ///< METRIC_BOX_SPLIT_TOP, at most 60 characters
  CString MetricBoxSplitBottom;  ///< METRIC_BOX_SPLIT_BOTTOM, at most 60 characters
};

}  // namespace ModDB

#endif  // KIV_INCLUDE_MODDB_H_
