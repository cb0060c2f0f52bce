// Putting caller values into statement texts.
//
// Every text value goes into a statement between single quotes; a single
// quote inside the value is doubled, so the engine stores the value exactly
// as given and no value can end the literal and change the statement.
// Every statement of the library passes its quoted values through here.
#ifndef KIV_CORE_SQLTEXT_H_
#define KIV_CORE_SQLTEXT_H_

#include "KivPlcDbExport.h"
#include "KivString.h"

namespace kiv {

// `value` with every ' doubled; null gives "".  Exported for the catalogue
// tools, whose statements quote their values here too.
KIVPLCDB_API CString SqlValue(const wchar_t* value);

// The last-error text of a call refused for a table name holding a ']'.
inline constexpr wchar_t kTableNameWithBracket[] =
    L"invalid table name: a table name cannot contain ']'; nothing was run";

// True for a null pointer or "".
inline bool IsEmptyText(const wchar_t* text) { return text == nullptr || *text == L'\0'; }

}  // namespace kiv

#endif  // KIV_CORE_SQLTEXT_H_
