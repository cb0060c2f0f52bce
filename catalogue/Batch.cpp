#include "catalogue/Batch.h"

#include <utility>

#include "catalogue/Errors.h"
#include "catalogue/Text.h"

namespace kivcat {

Batch::Batch(KivOleDbConnection* connection, std::string what, Mode mode) : m_what(std::move(what)) {
  m_command.SetConnection(connection);
  // Where the engine does not offer an all-or-nothing batch it says so
  // without error information, and the plain batch is the one to open.
  m_allOrNothing = mode == Mode::kAllOrNothing && m_command.BeginAllOrNothingBatch();
  if (!m_allOrNothing && !m_command.BeginBatch()) RefuseWithErrorInfo(m_command, m_what);
  m_open = true;
}

Batch::~Batch() {
  if (m_open) m_command.AbandonBatch();
}

std::string Batch::Run(const CString& sql) {
  m_command.SetCommandText(sql);
  const bool ran = m_command.Execute() == kDbOk;
  m_last = m_command.GetRefusal();
  m_command.Close();
  if (ran) return "";
  const std::string text = Utf8(m_command.GetErrorInfo(true));
  return text.empty() ? "refused" : text;
}

bool Batch::End() {
  if (!m_open) return true;
  m_open = false;
  return m_command.EndBatch();
}

void Batch::Commit() {
  if (!End()) RefuseWithErrorInfo(m_command, m_what);
}

bool Batch::Abandon() {
  if (!m_open) return true;
  m_open = false;
  return m_command.AbandonBatch();
}

std::string Batch::Failure() const { return Utf8(m_command.GetErrorInfo(true)); }

}  // namespace kivcat
