#include "CommandRows.h"

#include "Utf16.h"

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

bool ReadText(KivOleDbCommand& command, size_t column, CString& field) {
  if (command.IsNull(column) != 0) return false;
  field = command.FieldAsStringEx(column);
  return true;
}

bool ReadLong(KivOleDbCommand& command, size_t column, long& field) {
  if (command.IsNull(column) != 0) return false;
  field = command.FieldAsLong(column);
  return true;
}

bool ReadLongText(KivOleDbCommand& command, size_t column, CString& field) {
  if (command.IsNull(column) != 0 || command.IsBlob(column) == 0) return false;
  CHeapPtr<unsigned char> block;
  unsigned long bytes = command.GetBlobData(column, block);
  if (bytes == 0 || !block) return false;
  field = CString(FromUtf16LE(block, bytes));
  return true;
}

}  // namespace kiv
