// The two tables of a PLC type and the statements that create and drop them.
//
// A type's specification table (one row per module code) is named by the
// TABLE_NAME of its index row; its terminal table (one row per terminal
// position) has that name followed by "_Data" and is never stored.  The
// library creates and drops both, always the specification table first.
#ifndef KIV_INDEX_TYPETABLES_H_
#define KIV_INDEX_TYPETABLES_H_

#include <array>

#include "KivString.h"

namespace kiv {

// Each is formatted with one table name as its only argument.
inline constexpr wchar_t kCreateSpecTableSql[] =
    L"CREATE TABLE [%s] ("
    L"    [CODE]                VARCHAR(60) NOT NULL,"
    L"     [POINTS]              VARCHAR(60),"
    L"     [TYPE]                VARCHAR(60),"
    L"     [DESCRIPTION]         VARCHAR(150),"
    L"     [RATING]              VARCHAR(60),"
    L"     [ADDRESS_BASE]        VARCHAR(60),"
    L"     [ADDRESS_FORMAT]      VARCHAR(60),"
    L"     [BOX_RIGHT]           VARCHAR(60),"
    L"     [BOX_LEFT]            VARCHAR(60),"
    L"     [BOX_TOP]             VARCHAR(60),"
    L"     [BOX_BOTTOM]          VARCHAR(60),"
    L"     [BOX_SPLIT_BOTTOM]    VARCHAR(60),"
    L"     [BOX_SPLIT_TOP]       VARCHAR(60),"
    L"     [METRIC_BOX_RIGHT]    VARCHAR(60),"
    L"     [METRIC_BOX_LEFT]     VARCHAR(60),"
    L"     [METRIC_BOX_TOP]      VARCHAR(60),"
    L"     [METRIC_BOX_BOTTOM]   VARCHAR(60),"
    L"     [METRIC_BOX_SPLIT_BOTTOM]   VARCHAR(60),"
    L"     [METRIC_BOX_SPLIT_TOP] VARCHAR(60),"
    L"     [OPTIONAL_BLOCK]      VARCHAR(255),"
    L"     [LISP]                LONGTEXT,"
    L"     [CATEGORY]            VARCHAR(10),"
    L"   CONSTRAINT PrimaryKey PRIMARY KEY ([CODE]))";
inline constexpr wchar_t kCreateTermTableSql[] =
    L"CREATE TABLE [%s] ("
    L"       [CODE]        VARCHAR(60) NOT NULL,"
    L"       [SEQUENCE]    SHORT,"
    L"       [BLOCK]       VARCHAR(255),"
    L"       [ATTRIBUTES]  LONGTEXT,"
    L"     CONSTRAINT PrimaryKey PRIMARY KEY ([CODE], [SEQUENCE]))";
inline constexpr wchar_t kDropTableSql[] = L"DROP TABLE [%s]";

inline constexpr wchar_t kTermTableSuffix[] = L"_Data";

// The terminal table's name for the specification table `specTable`.
CString TermTableName(const CString& specTable);

// The CREATE TABLE statements for the type whose specification table is
// `specTable`: specification table first, terminal table second.
std::array<CString, 2> CreateTypeTablesSql(const CString& specTable);

// The DROP TABLE statements for the same two tables, in the same order.
std::array<CString, 2> DropTypeTablesSql(const CString& specTable);

}  // namespace kiv

#endif  // KIV_INDEX_TYPETABLES_H_
