#include "catalogue/CopyEntries.h"

#include "catalogue/Errors.h"

namespace kivcat {

namespace {

// A document of one type holding `modules`, for the import to write.
Json TypeDocument(const TypeName& to, const Json& modules) {
  Json type = {{"name", Utf8(to.type)}, {"modules", modules}};
  Json series = {{"name", Utf8(to.series)}, {"types", Json::array({type})}};
  Json manufacturer = {{"name", Utf8(to.manufacturer)}, {"series", Json::array({series})}};
  Json document = Json::object();
  document["format"] = kDocumentFormat;
  document["version"] = kDocumentVersion;
  document["manufacturers"] = Json::array({manufacturer});
  return document;
}

CString TableOf(Catalogue& db, const TypeName& type) { return db.TableOf(type.manufacturer, type.series, type.type); }

}  // namespace

ImportResult CopyModule(Catalogue& source, const TypeName& from, const CString& code, Catalogue& target,
                        const TypeName& to, const CString& newCode, const ImportOptions& options,
                        const Reporter& reporter) {
  const CString table = TableOf(source, from);
  if (!source.ModuleExists(table, code))
    throw Refused("no module " + Utf8(code) + " of " + EntryName(from.manufacturer, from.series, from.type),
                  KivRefusalKind::kNotFound);
  Json module = ExportModule(source, table, code);
  if (!newCode.IsEmpty()) module["CODE"] = Utf8(newCode);
  return ImportCatalogue(target, TypeDocument(to, Json::array({module})), options, reporter);
}

ImportResult CopyType(Catalogue& source, const TypeName& from, Catalogue& target, const TypeName& to,
                      const ImportOptions& options, const Reporter& reporter) {
  const CString table = TableOf(source, from);
  return ImportCatalogue(target, TypeDocument(to, ExportModules(source, table)), options, reporter);
}

}  // namespace kivcat
