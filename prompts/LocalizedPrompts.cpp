// Loading PLC_MSG into the object's prompt table and looking prompts up.
// The table is never emptied: a second load only adds keys not yet present,
// and replacing the connection keeps what was loaded.
#include "CommandRows.h"
#include "KivPlcDbIO.h"

bool KivPlcDbIO::CreateHashtableofPrompts() {
  ClearSQLError();
  if (!m_pConnection) return false;
  KivOleDbCommand command;
  // A failure is not reported through the last-error text: a catalogue
  // without prompts is usable.
  if (!kiv::RunCommand(command, m_pConnection,
                       CString(L"SELECT [FIND], [WD_MSG_CODE] FROM PLC_MSG ORDER BY [WD_MSG_CODE]")))
    return false;
  while (command.FetchNext() == kDbOk) {
    CString text = command.FieldAsStringEx(2);
    CString key = command.FieldAsStringEx(1);
    m_promptTable.Add(key, text);
  }
  command.Close();
  return true;
}

CString KivPlcDbIO::ReturnLocalizedPrompt(const CString& prompt) {
  CString text = m_promptTable.GetPrompt(prompt);
  return text.IsEmpty() ? prompt : text;
}
