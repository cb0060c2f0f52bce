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
  if (command.FetchNext() == kDbOk) return true;
  command.Close();
  return false;
}

}  // namespace kiv
