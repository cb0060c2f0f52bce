#include <cstdint>

#include "Driver.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"

namespace {
// The COM codes the library tests with "0 or more is success".
constexpr long kSOk = 0;
constexpr long kEFail = static_cast<int32_t>(0x80004005u);
}  // namespace

const CString& KivOleDbErrorInfo::GetErrorInfo(bool /*fromCommand*/) const { return m_strError; }

KivOleDbConnection::KivOleDbConnection() = default;
KivOleDbConnection::~KivOleDbConnection() = default;

long KivOleDbConnection::OpenFromInitializationString(const CComBSTR& initString, bool /*promptUser*/) {
  Close();
  ClearErrorInfo();
  kivoledb::ForgetRefusal();
  kivoledb::Properties properties;
  std::wstring error;
  if (!kivoledb::Properties::Parse(initString, properties, error)) {
    SetErrorInfo(CString(kivoledb::WithoutPassword(L"cannot open a catalogue: " + error)));
    return kEFail;
  }
  std::shared_ptr<kivoledb::Driver> driver = kivoledb::FindDriver(properties, error);
  if (!driver) {
    SetErrorInfo(CString(
        kivoledb::WithoutPassword(L"cannot open the catalogue \"" + properties.Get(L"Data Source") + L"\": " + error)));
    return kEFail;
  }
  m_driver = driver->Open(properties, error);
  if (!m_driver) {
    // Drivers name their Data Source, which may hold a password.
    SetErrorInfo(CString(kivoledb::WithoutPassword(error)));
    return kEFail;
  }
  return kSOk;
}

void KivOleDbConnection::Close() { m_driver.reset(); }

bool KivOleDbConnection::IsOpen() const { return m_driver != nullptr; }

std::wstring KivOleDbConnection::NameKey(std::wstring_view name) const {
  if (m_driver && m_driver->FoldsEveryLetter()) return kiv::FoldCase(name);
  std::wstring key(name);
  for (wchar_t& ch : key)
    if (ch >= L'A' && ch <= L'Z') ch += L'a' - L'A';
  return key;
}

long KivOleDbConnection::AddRef() { return ++m_refs; }

long KivOleDbConnection::Release() {
  long refs = m_refs.load();
  // Never below 0: a holder that releases too often must not wrap around.
  while (refs > 0 && !m_refs.compare_exchange_weak(refs, refs - 1)) {
  }
  return refs > 0 ? refs - 1 : 0;
}
