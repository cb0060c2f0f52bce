// Initialization strings: parsing any text, building one from values and
// reading the same values back, and opening a real catalogue with any
// further properties (mode, journal, timeout, driver).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Driver.h"
#include "FuzzCatalogue.h"
#include "FuzzReader.h"
#include "KivPmOleDb.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::wstring& text) {
  std::fprintf(stderr, "fuzz_connection_string: %s\nstring: %s\n", what, kiv::ToUtf8(text).c_str());
  std::abort();
}

void ParseAnything(kivfuzz::Reader& in) {
  std::wstring text = in.Text(512);
  kivoledb::Properties properties;
  std::wstring error;
  if (!kivoledb::Properties::Parse(text.c_str(), properties, error) && error.empty())
    Fail("refused without a reason", text);
  properties.Get(L"Data Source");
}

// What FormatConnectString puts in, Parse must give back unchanged: a path
// that came back different would open another file.
void RoundTrip(kivfuzz::Reader& in) {
  const std::wstring dataSource = in.Text(64);
  const std::wstring userId = in.Text(16);
  const std::wstring password = in.Text(16);
  std::wstring provider = in.Text(24);
  if (provider.empty()) provider = L"Microsoft.ACE.OLEDB.12.0";
  const std::wstring extended = in.Text(24);

  CComBSTR out;
  if (!KivOleDbHelper::FormatConnectString(out, dataSource.c_str(), userId.c_str(), password.c_str(), provider.c_str(),
                                           L"Jet OLEDB:Engine Type=5", extended.c_str()))
    Fail("FormatConnectString refused", dataSource);
  const std::wstring text(out.m_str ? out.m_str : L"");
  kivoledb::Properties p;
  std::wstring error;
  if (!kivoledb::Properties::Parse(text.c_str(), p, error)) Fail("its own string did not parse", text);
  // An empty value is left out, and an absent one reads as empty.
  const std::pair<const wchar_t*, std::wstring> given[] = {{L"Data Source", dataSource},
                                                           {L"Provider", provider},
                                                           {L"User ID", userId},
                                                           {L"Password", password},
                                                           {L"Extended Properties", extended},
                                                           {L"Jet OLEDB:Engine Type", L"5"}};
  for (const auto& [name, value] : given)
    if (p.Get(name) != value) Fail("a value changed on its way through the string", text);
}

// Further properties after a real catalogue's path.  A string that names
// another Data Source is skipped: it would open whatever file it names.
void Open(kivfuzz::Reader& in) {
  static const std::string path = [] {
    std::string p = kivfuzz::ScratchDir() + "/open.db";
    kivfuzz::ResetCatalogue(p);
    return p;
  }();
  const std::wstring extra = in.Text(128);
  const std::wstring text = kivfuzz::ConnectionString(path, extra);
  kivoledb::Properties p;
  std::wstring error;
  if (kivoledb::Properties::Parse(text.c_str(), p, error) && p.Get(L"Data Source") != kiv::FromUtf8(path)) return;

  KivOleDbConnection connection;
  long hr = connection.OpenFromInitializationString(CComBSTR(text.c_str()), false);
  if (hr < 0) {
    if (!connection.HasErrorInfo()) Fail("open failed without an error text", text);
    if (connection.IsOpen()) Fail("a failed open left the connection open", text);
    return;
  }
  // Open means usable: the index table must be readable.
  KivOleDbCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(L"SELECT COUNT(*) FROM PLC_MANUFACTURER");
  if (command.Execute() != kDbOk || command.FetchNext() != kDbOk) Fail("an open catalogue could not be read", text);
  command.Close();
  connection.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kivfuzz::Reader in(data, size);
  switch (in.Byte() % 3) {
    case 0:
      ParseAnything(in);
      break;
    case 1:
      RoundTrip(in);
      break;
    default:
      Open(in);
      break;
  }
  return 0;
}
