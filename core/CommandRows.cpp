#include "CommandRows.h"

namespace kiv {

bool RunCommand(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql) {
  command.SetConnection(connection);
  command.SetCommandText(sql);
  return command.Execute() == kDbOk;
}

bool FetchFirstRow(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql,
                   CString& lastError) {
  if (!RunCommand(command, connection, sql)) {
    if (command.HasErrorInfo()) lastError = command.GetErrorInfo(true);
    return false;
  }
  const dbStatus fetched = command.FetchNext();
  if (fetched == kDbOk) return true;
  // No row leaves the text empty; a failed read says why.
  if (fetched == kDbError) lastError = command.GetErrorInfo(true);
  command.Close();
  return false;
}

}  // namespace kiv
