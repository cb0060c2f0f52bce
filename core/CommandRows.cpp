#include "CommandRows.h"

namespace kiv {

bool RunCommand(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql) {
  command.SetConnection(connection);
  command.SetCommandText(sql);
  return command.Execute() == kDbOk;
}

bool FetchFirstRow(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql) {
  if (!RunCommand(command, connection, sql)) return false;
  if (command.FetchNext() == kDbOk) return true;
  command.Close();
  return false;
}

}  // namespace kiv
