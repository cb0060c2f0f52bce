#include "KivComBSTR.h"

#include <cwchar>
#include <utility>

CComBSTR::CComBSTR(const wchar_t* text) {
  if (text) Assign(text, std::wcslen(text));
}

CComBSTR::CComBSTR(const CComBSTR& other) {
  if (other.m_str) Assign(other.m_str, other.m_length);
}

CComBSTR::CComBSTR(CComBSTR&& other) noexcept
    : m_str(std::exchange(other.m_str, nullptr)), m_length(std::exchange(other.m_length, 0)) {}

CComBSTR& CComBSTR::operator=(const CComBSTR& other) {
  if (this != &other) {
    Empty();
    if (other.m_str) Assign(other.m_str, other.m_length);
  }
  return *this;
}

CComBSTR& CComBSTR::operator=(CComBSTR&& other) noexcept {
  if (this != &other) {
    Empty();
    m_str = std::exchange(other.m_str, nullptr);
    m_length = std::exchange(other.m_length, 0);
  }
  return *this;
}

CComBSTR& CComBSTR::operator=(const wchar_t* text) {
  if (text == m_str) return *this;
  CComBSTR copy(text);
  return *this = std::move(copy);
}

CComBSTR::~CComBSTR() { Empty(); }

void CComBSTR::Empty() noexcept {
  delete[] m_str;
  m_str = nullptr;
  m_length = 0;
}

CComBSTR& CComBSTR::Append(const wchar_t* text) {
  if (!text) return *this;
  size_t add = std::wcslen(text);
  auto* joined = new wchar_t[m_length + add + 1];
  if (m_str) std::wmemcpy(joined, m_str, m_length);
  std::wmemcpy(joined + m_length, text, add);
  joined[m_length + add] = L'\0';
  delete[] m_str;
  m_str = joined;
  m_length += static_cast<unsigned int>(add);
  return *this;
}

void CComBSTR::Assign(const wchar_t* text, size_t length) {
  m_str = new wchar_t[length + 1];
  std::wmemcpy(m_str, text, length);
  m_str[length] = L'\0';
  m_length = static_cast<unsigned int>(length);
}
