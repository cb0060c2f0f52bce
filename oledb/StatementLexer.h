// The statement dialect the library writes (Access SQL: bracketed names,
// single-quoted texts), read once for every driver: one tokenizer, and on
// top of it what every driver needs of a text as a whole: where its first
// statement ends (one statement per text) and a script's statements.  The
// two other readings build on it, each in its own file:
//  - LiteralLifting.h: the literals that a parameter can stand for;
//  - AccessDdlRules.h: a CREATE TABLE's column list and the Access
//    engine's rules for it.
// Texts are UTF-8 here; the drivers convert once.
#ifndef KIV_OLEDB_STATEMENTLEXER_H_
#define KIV_OLEDB_STATEMENTLEXER_H_

#include <initializer_list>
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
// ... is one of `uppers`.
bool IsAnyOf(std::string_view word, std::initializer_list<std::string_view> uppers);
// `s` with a to z made upper case, for comparing keywords and types.
std::string Upper(std::string_view s);
// A quoted run's value (its first character is the quote): the quotes
// removed, doubled quotes made single.
std::string Unquote(std::string_view quoted);

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

}  // namespace kivoledb

#endif  // KIV_OLEDB_STATEMENTLEXER_H_
