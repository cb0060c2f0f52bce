// Statement texts through the access component on a real catalogue file.
//
// An input is up to 16 parts separated by the byte 0xFF (never valid
// UTF-8, so it never means anything inside a text).  Each part's first
// byte picks what to do around its text: which of two commands runs it (a
// cursor of the other stays open meanwhile), whether a batch starts or
// ends, how many rows to read and which columns to ask for, whether the
// connection closes under the commands.  Whatever happens, every failure
// must come with an error text and nothing may crash.
//
// Texts that name ATTACH or VACUUM are skipped: they write files wherever
// the text says, which is the engine's business, not the component's.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzCatalogue.h"
#include "KivPmOleDb.h"
#include "Utf16.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::wstring& text) {
  std::fprintf(stderr, "fuzz_statement: %s\ntext: %s\n", what, kiv::ToUtf8(text).c_str());
  std::abort();
}

bool WritesFilesElsewhere(const uint8_t* data, size_t size) {
  std::string upper(reinterpret_cast<const char*>(data), size);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("ATTACH") != std::string::npos || upper.find("VACUUM") != std::string::npos;
}

std::vector<std::string> Parts(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size && parts.size() <= 16; ++i) {
    if (data[i] == 0xFF)
      parts.emplace_back();
    else
      parts.back().push_back(static_cast<char>(data[i]));
  }
  if (parts.size() > 16) parts.resize(16);
  return parts;
}

void ReadRows(KivOleDbCommand& command, unsigned rows, unsigned columns, const std::wstring& text) {
  for (unsigned r = 0; r < rows; ++r) {
    dbStatus status = command.FetchNext();
    if (status == kDbError && !command.HasErrorInfo()) Fail("FetchNext failed without error text", text);
    if (status != kDbOk) return;
    for (size_t c = 0; c <= columns; ++c) {
      command.IsNull(c);
      command.IsBlob(c);
      command.FieldAsStringEx(c);
      command.FieldAsLong(c);
      CHeapPtr<unsigned char> block;
      unsigned long n = command.GetBlobData(c, block);
      if (n > 0 && !block.m_pData) Fail("GetBlobData gave a count without bytes", text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (WritesFilesElsewhere(data, size)) return 0;
  static const std::string path = kivfuzz::ScratchDir() + "/statement.db";
  kivfuzz::ResetCatalogue(path);

  const CComBSTR init(kivfuzz::ConnectionString(path, L"Synchronous=OFF").c_str());
  KivOleDbConnection connection;
  if (connection.OpenFromInitializationString(init, false) < 0)
    Fail("the fresh catalogue did not open", connection.GetErrorInfo(false).str());
  {
    KivOleDbCommand commands[2];
    // Inside a batch a refusal stays reported until the batch ends.
    bool inBatch[2] = {false, false};
    commands[0].SetConnection(&connection);
    commands[1].SetConnection(&connection);
    for (const std::string& part : Parts(data, size)) {
      const uint8_t control = part.empty() ? 0 : static_cast<uint8_t>(part[0]);
      const std::wstring text = kiv::FromUtf8(part.empty() ? part : part.substr(1));
      KivOleDbCommand& command = commands[control & 1];
      if ((control & 0x06) == 0x02 && command.BeginBatch()) inBatch[control & 1] = true;
      if ((control & 0x06) == 0x04) {
        command.EndBatch();
        inBatch[control & 1] = false;
      }
      if (control == 0xFE) {
        // The connection goes while the commands still hold it.
        connection.Close();
        continue;
      }
      if (control == 0xFD) {
        connection.OpenFromInitializationString(init, false);
        continue;
      }
      command.SetCommandText(CString(text));
      dbStatus status = command.Execute();
      if (status == kDbOk && command.HasErrorInfo() && !inBatch[control & 1]) Fail("success left an error text", text);
      if (status != kDbOk && (!command.HasErrorInfo() || command.GetErrorInfo(true).IsEmpty()))
        Fail("failure without an error text", text);
      if (status == kDbOk) ReadRows(command, (control >> 3) & 0x07, 1u + ((control >> 6) & 0x03) * 8u, text);
      if (control & 0x80) command.Close();
    }
  }
  connection.Close();
  return 0;
}
