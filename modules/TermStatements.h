// The INSERT of one terminal row, split where the table name ends so that
// a batch formats the head once and only the values per row.  Together the
// two parts read "INSERT INTO [%s] ([CODE], [SEQUENCE], [BLOCK],
// [ATTRIBUTES]) VALUES ('%s', %ld, '%s', '%s')".
#ifndef KIV_MODULES_TERMSTATEMENTS_H_
#define KIV_MODULES_TERMSTATEMENTS_H_

namespace kiv {

// Formatted with the terminal table's name.
inline constexpr wchar_t kInsertTermHead[] = L"INSERT INTO [%s] ([CODE], [SEQUENCE], [BLOCK], [ATTRIBUTES]) VALUES (";
// Formatted with the quoted Code, Sequence, quoted Block and Attributes.
inline constexpr wchar_t kInsertTermValues[] = L"'%s', %ld, '%s', '%s')";

}  // namespace kiv

#endif  // KIV_MODULES_TERMSTATEMENTS_H_
