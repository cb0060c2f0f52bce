// The statement dialect the library writes (Access SQL: bracketed names,
// single-quoted texts), read once for every driver: one tokenizer, and on
// top of it the three readings the drivers need:
//  - SecondStatement: what follows the first statement of a text, which
//    is refused (one statement per text);
//  - LiftLiterals: the literals that a parameter can stand for, so that
//    statements that differ only in their values share one prepared
//    statement and values never travel inside the text;
//  - ParseCreateTable: a CREATE TABLE's column list, so that each engine
//    can keep the Access engine's rules (case-insensitive text, widths and
//    integer ranges refused rather than cut, names of at most 64 UTF-16
//    code units).
// Texts are UTF-8 here; the drivers convert once.
#ifndef KIV_OLEDB_STATEMENTLEXER_H_
#define KIV_OLEDB_STATEMENTLEXER_H_

#include <string>
#include <string_view>
#include <vector>

#include "KivExport.h"

namespace kivoledb {

struct Token {
  enum Kind {
    kWord,        // a bare word: keyword or name
    kQuotedName,  // [name], "name" or `name`
    kString,      // 'text'
    kNumber,      // digits with whatever letters, dots and exponent follow
    kBlob,        // x'hex'
    kPunct,       // one character
  } kind;
  size_t begin, end;  // the token's bytes in the text
};

// The text's tokens, blanks and comments left out.  False on an
// unterminated quote, with the tokens up to it.
bool Tokenize(std::string_view sql, std::vector<Token>& out);

// Positions after blanks and comments from `i`.
size_t SkipBlank(std::string_view sql, size_t i);

// The word `word` is `upper` without regard to ASCII case.
bool IsKeyword(std::string_view word, std::string_view upper);

// A name token's value: quotes removed, doubled quotes made single.
std::string NameValue(std::string_view sql, const Token& token);

// A string token's value: quotes removed, doubled quotes made single.
std::string StringValue(std::string_view sql, const Token& token);

// The text after the first statement of `rest` (which starts right after
// it), when anything but blanks, semicolons and comments follows; empty
// otherwise.
std::string_view SecondStatement(std::string_view rest);
// The refusal of a text that holds `second` after its first statement.
std::wstring SecondStatementRefusal(std::string_view second);

// The statements of a script, each without its ';', blank ones left out.
// False on an unterminated quote.
KIV_EXPORT bool SplitStatements(std::string_view script, std::vector<std::string>& out);

// Literals lifted out of a statement text.
struct LiftedStatement {
  struct Literal {
    bool isText;
    size_t offset, length;  // in `values`, for text
    long long integer;
  };
  std::string shape;   // the text with a placeholder for each lifted literal
  std::string values;  // the lifted texts, unquoted, one after another
  std::vector<Literal> literals;
};

// Lifts the literals of a SELECT, INSERT, UPDATE, DELETE, REPLACE or WITH
// that a parameter can stand for: 'text' as text, a plain integer as an
// integer, where a value is what the grammar wants.  Where a parameter
// could mean something else (ORDER BY 1, a quoted name after FROM or AS, a
// blob or real literal), the literal stays.  `numbered` writes $1, $2, ...
// for the placeholders, else '?'.  False, leaving the statement to run as
// written, for other statements, texts that hold parameters of their own
// or an unterminated quote, and texts without literals to lift.
bool LiftLiterals(std::string_view sql, LiftedStatement& out, bool numbered = false);

// The longest table or column name the Access engine accepts.
constexpr size_t kMaxAccessNameLength = 64;

// A CREATE TABLE with a column list, as the Access engine reads it.
struct CreateTable {
  struct Column {
    size_t first = 0, last = 0;  // token range of the definition, inclusive
    std::string name;
    std::string type;            // upper case, words joined by one blank
    size_t typeEnd = 0;          // the token after the type and its width
    long long width = -1;
    bool hasCollate = false;
    bool hasNotNull = false;
    bool inPrimaryKey = false;   // inline or in the table's key
  };
  struct Range {
    size_t first, last;  // a table constraint's tokens, inclusive
  };
  std::vector<Token> tokens;
  size_t nameToken = 0;      // the table's name
  size_t close = 0;          // the token ')' that ends the column list
  std::string table;
  std::vector<Column> columns;
  std::vector<Range> constraints;
};

enum class DdlOutcome {
  kUnchanged,  // not a CREATE TABLE with a column list: run the text as it is
  kRewritten,  // run the rewritten text instead
  kRefused,    // refuse the statement with the error
};

// Reads a CREATE TABLE.  kUnchanged for other statements (cheap for those
// not starting with CREATE) and for texts the engine should judge itself;
// kRefused with the reason for a name longer than the Access engine takes;
// kRewritten when `out` holds the table.
DdlOutcome ParseCreateTable(std::string_view sql, CreateTable& out, std::wstring& error);

// The range an Access integer type keeps; false for other types.
bool AccessIntegerRange(const std::string& upperType, long long& low, long long& high);
// The refusal texts of a too-long value or an out-of-range integer.
std::string WidthRefusal(const std::string& column, long long width);
std::string RangeRefusal(const std::string& column, const std::string& upperType, long long low, long long high);
// The column that a text made by WidthRefusal or RangeRefusal is about
// (the engines hand those texts back as a CHECK's name or message); empty
// for any other text.
KIV_EXPORT std::string RefusedColumn(std::string_view refusal);

// True when the declared type is a long column: long text or binary, read
// through the blob interface.
bool IsLongDeclaredType(const char* declType);
// True when the declared type is binary rather than text.
bool IsBinaryDeclaredType(const std::string& upperType);

}  // namespace kivoledb

#endif  // KIV_OLEDB_STATEMENTLEXER_H_
