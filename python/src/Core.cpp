// The compiled core of the Python package kivplc: the catalogue layer's
// operations over one open catalogue, its two record types, and its
// refusals raised as Python exceptions of their kind.  The package's
// Python half (kivplc/__init__.py) builds the mappings and objects that
// scripts use on top of these calls.
//
// Every call that reaches the engine lets go of the interpreter's lock
// while it runs, so that other Python threads go on meanwhile; a mutex per
// catalogue keeps two threads from using one catalogue object at once.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <Python.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Copy.h"
#include "catalogue/Document.h"
#include "catalogue/Editing.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/Files.h"
#include "catalogue/Find.h"
#include "catalogue/Json.h"
#include "catalogue/Text.h"

namespace py = pybind11;
using namespace kivcat;

namespace {

// --- exceptions ------------------------------------------------------------

// A module save whose stored copy changed since it was read.
struct Stale : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ErrorClass {
  const char* name;
  KivRefusalKind kind;
  PyObject* extraBase;  // a built-in exception it also is, or null
  const char* doc;
};

// Each refusal kind's exception; the one table that maps the two.  kOther
// (and any kind without an entry) raises the base class, Error.
const ErrorClass kErrorClasses[] = {
    {"NotFound", KivRefusalKind::kNotFound, PyExc_LookupError,
     "A catalogue, entry, module, table or column that does not exist."},
    {"Duplicate", KivRefusalKind::kDuplicateKey, nullptr,
     "An entry, module or row with the same name or key exists already."},
    {"TooLong", KivRefusalKind::kTooLong, PyExc_ValueError,
     "A text longer than its column holds, or a number outside its range; .column names the column."},
    {"ReadOnly", KivRefusalKind::kReadOnly, nullptr,
     "The catalogue takes no changes (an Access file, a read-only file or folder, a read-only session)."},
    {"Busy", KivRefusalKind::kBusy, nullptr,
     "Another connection held what was needed for too long; trying again may work."},
    {"ConnectionLost", KivRefusalKind::kConnectionLost, nullptr,
     "The connection to the catalogue's engine is gone; opening the catalogue again may work."},
};

PyObject* g_error = nullptr;    // kivplc.Error
PyObject* g_invalid = nullptr;  // kivplc.Invalid
PyObject* g_stale = nullptr;    // kivplc.Stale
PyObject* g_kindClasses[std::size(kErrorClasses)] = {};

PyObject* NewErrorClass(py::module_& m, const char* name, const char* doc, PyObject* base, PyObject* extraBase) {
  const std::string qualified = std::string("kivplc.") + name;
  py::object bases = extraBase ? py::object(py::make_tuple(py::handle(base), py::handle(extraBase)))
                               : py::object(py::reinterpret_borrow<py::object>(base));
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
  if (!cls) throw py::error_already_set();
  m.add_object(name, py::handle(cls));  // the module keeps the reference
  return cls;
}

const char* KindName(KivRefusalKind kind) {
  switch (kind) {
    case KivRefusalKind::kNone:
      return "none";
    case KivRefusalKind::kNotFound:
      return "not_found";
    case KivRefusalKind::kDuplicateKey:
      return "duplicate";
    case KivRefusalKind::kTooLong:
      return "too_long";
    case KivRefusalKind::kReadOnly:
      return "read_only";
    case KivRefusalKind::kBusy:
      return "busy";
    case KivRefusalKind::kConnectionLost:
      return "connection_lost";
    case KivRefusalKind::kOther:
      break;
  }
  return "other";
}

PyObject* ClassOf(KivRefusalKind kind) {
  for (size_t i = 0; i < std::size(kErrorClasses); ++i)
    if (kErrorClasses[i].kind == kind) return g_kindClasses[i];
  return g_error;
}

// Raises `cls(message)` with .kind and .column set.
void Raise(PyObject* cls, const std::string& message, const char* kind, const std::string& column) {
  py::object error = py::reinterpret_borrow<py::object>(cls)(message);
  error.attr("kind") = kind;
  error.attr("column") = column.empty() ? py::object(py::none()) : py::object(py::str(column));
  PyErr_SetObject(cls, error.ptr());
}

void TranslateErrors(std::exception_ptr thrown) {
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const Refused& e) {
    Raise(ClassOf(e.kind), e.what(), KindName(e.kind), e.column);
  } catch (const Invalid& e) {
    Raise(g_invalid, e.what(), "invalid", {});
  } catch (const Stale& e) {
    Raise(g_stale, e.what(), "stale", {});
  }
}

// --- records ---------------------------------------------------------------

using Spec = ModDB::ModSpecData;
using Term = ModDB::ModTermData;

// A text about to be stored: no NUL (the library would cut it there) and
// no more characters than its column holds.
CString Checked(const char* column, int width, const std::string& value) {
  RefuseNul(value, column);
  CheckWidth(column, width, value);
  return Wide(value);
}

std::string LowerName(const char* name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

// --- one open catalogue ----------------------------------------------------

class Core {
 public:
  explicit Core(const std::string& where) : m_where(where) {
    std::error_code ec;
    if (!IsServerCatalogue(where) && !std::filesystem::is_regular_file(where, ec))
      throw Refused("no catalogue at " + where, KivRefusalKind::kNotFound);
    py::gil_scoped_release unlocked;
    m_db = std::make_unique<Catalogue>(where);
  }

  // Runs `work` on the catalogue with the interpreter's lock let go.
  template <typename Work>
  auto Run(Work&& work) {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_db) throw Refused("the catalogue " + m_where + " is closed");
    return work(*m_db);
  }

  void Close() {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_db.reset();
  }
  bool Closed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_db;
  }
  const std::string& Where() const { return m_where; }

 private:
  std::string m_where;
  std::mutex m_mutex;
  std::unique_ptr<Catalogue> m_db;
};

// Asks the interpreter, between rows of a long operation, whether Ctrl-C
// was pressed; the KeyboardInterrupt it then sets is raised when the
// operation has stopped.
Reporter InterruptibleReporter(std::vector<std::string>* messages) {
  Reporter reporter;
  if (messages) reporter.message = [messages](const std::string& line) { messages->push_back(line); };
  reporter.cancelled = [] {
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
  };
  return reporter;
}

void RaiseIfInterrupted() {
  if (PyErr_Occurred()) throw py::error_already_set();
}

py::tuple RefusalTuple(const TerminalRefusal& r) {
  return py::make_tuple(r.sequence, r.reason, KindName(r.refusal.kind), kiv::ToUtf8(r.refusal.column));
}

std::vector<Term> RowsOf(const std::vector<Term>& rows, const std::string& code) {
  std::vector<Term> out = rows;
  const CString wide = Wide(code);
  for (auto& row : out) row.Code = wide;
  return out;
}

// Terminal rows as a script gives them, each a Terminal or a (sequence,
// block[, attributes]) tuple or list, made the library's rows of module
// `code` in one pass and appended to `out`.  Texts are checked as
// Terminal's fields are; a tuple costs no Python object per row.
void AppendRows(py::handle rows, const CString& code, std::vector<Term>& out) {
  py::object fast = py::reinterpret_steal<py::object>(PySequence_Fast(rows.ptr(), "terminal rows are a sequence"));
  if (!fast) throw py::error_already_set();
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(fast.ptr());
  PyObject** items = PySequence_Fast_ITEMS(fast.ptr());
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* row = items[i];
    Term& term = out.emplace_back();
    const bool plain = PyTuple_Check(row) || PyList_Check(row);
    const Py_ssize_t fields = plain ? PySequence_Fast_GET_SIZE(row) : 0;
    if (!plain && py::isinstance<Term>(row)) {
      term = py::cast<const Term&>(py::handle(row));
    } else {
      PyObject** field = plain ? PySequence_Fast_ITEMS(row) : nullptr;
      if (fields < 1 || fields > 3 || !PyLong_Check(field[0]))
        throw Invalid("a terminal row is a Terminal or a (sequence, block, attributes) tuple");
      term.Sequence = PyLong_AsLong(field[0]);
      if (PyErr_Occurred()) throw py::error_already_set();
      const auto text = [&](int at) -> std::string {
        if (!PyUnicode_Check(field[at])) throw Invalid(std::string(kTermColumns[at - 1].name) + " is a text");
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(field[at], &size);
        if (!utf8) throw py::error_already_set();
        return std::string(utf8, static_cast<size_t>(size));
      };
      if (fields > 1) term.Block = Checked(kTermColumns[0].name, kTermColumns[0].width, text(1));
      if (fields > 2) term.Attributes = Checked(kTermColumns[1].name, kTermColumns[1].width, text(2));
    }
    term.Code = code;
  }
}

py::list RefusalList(const std::vector<TerminalRefusal>& refusals) {
  py::list out;
  for (const auto& r : refusals) out.append(RefusalTuple(r));
  return out;
}

py::list TreeList(const std::vector<ManufacturerNode>& tree) {
  py::list manufacturers;
  for (const auto& m : tree) {
    py::list series;
    for (const auto& s : m.series) {
      py::list types;
      for (const auto& t : s.types)
        types.append(py::make_tuple(Utf8(t.name), Utf8(t.table), t.modules, t.tablesMissing));
      series.append(py::make_tuple(Utf8(s.name), types));
    }
    manufacturers.append(py::make_tuple(Utf8(m.name), series));
  }
  return manufacturers;
}

std::string ReadFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw Invalid(path + " is a folder, not a catalogue document");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Refused("cannot read " + path, KivRefusalKind::kNotFound);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void BindRecords(py::module_& module) {
  py::class_<Spec> spec(module, "Spec",
                        "A module's specification row: one attribute per column, in lower case.\n"
                        "Assigning a text longer than its column holds raises TooLong.");
  spec.def(py::init<>())
      .def("__eq__", [](const Spec& a, const Spec& b) { return SameSpec(a, b); })
      .def(
          "copy", [](const Spec& s) { return Spec(s); }, "An independent copy.");
  for (const auto& c : kSpecColumns) {
    auto member = c.member;
    const char* name = c.name;
    const int width = c.width;
    const std::string doc =
        std::string(name) + (width ? " (at most " + std::to_string(width) + " characters)" : " (long text)");
    spec.def_property(
        LowerName(name).c_str(), [member](const Spec& s) { return Utf8(s.*member); },
        [member, name, width](Spec& s, const std::string& value) { s.*member = Checked(name, width, value); },
        doc.c_str());
  }

  py::class_<Term>(module, "Terminal", "One terminal row of a module: its position (SEQUENCE), BLOCK and ATTRIBUTES.")
      .def(py::init([](long sequence, const std::string& block, const std::string& attributes) {
             Term row{};
             row.Sequence = sequence;
             row.Block = Checked(kTermColumns[0].name, kTermColumns[0].width, block);
             row.Attributes = Checked(kTermColumns[1].name, kTermColumns[1].width, attributes);
             return row;
           }),
           py::arg("sequence"), py::arg("block") = "", py::arg("attributes") = "")
      .def_readwrite("sequence", &Term::Sequence, "SEQUENCE: the row's position within its module.")
      .def_property(
          "block", [](const Term& t) { return Utf8(t.Block); },
          [](Term& t, const std::string& v) { t.Block = Checked(kTermColumns[0].name, kTermColumns[0].width, v); },
          "BLOCK (at most 255 characters)")
      .def_property(
          "attributes", [](const Term& t) { return Utf8(t.Attributes); },
          [](Term& t, const std::string& v) { t.Attributes = Checked(kTermColumns[1].name, kTermColumns[1].width, v); },
          "ATTRIBUTES (long text)")
      .def("__eq__",
           [](const Term& a, const Term& b) {
             return a.Sequence == b.Sequence && a.Block == b.Block && a.Attributes == b.Attributes;
           })
      .def(
          "copy", [](const Term& t) { return Term(t); }, "An independent copy.")
      .def("__repr__", [](const Term& t) {
        return "Terminal(" + std::to_string(t.Sequence) + ", " + py::repr(py::str(Utf8(t.Block))).cast<std::string>() +
               ", " + py::repr(py::str(Utf8(t.Attributes))).cast<std::string>() + ")";
      });

  py::list columns;
  for (const auto& c : kSpecColumns) columns.append(py::make_tuple(c.name, c.width));
  module.attr("SPEC_COLUMNS") = py::tuple(columns);
}

void BindCore(py::module_& module) {
  using S = const std::string&;
  py::class_<Core>(module, "Core", "One open catalogue; the package's Catalogue class wraps it.")
      .def(py::init<S>(), py::arg("where"))
      .def_static(
          "create",
          [](S where) {
            py::gil_scoped_release unlocked;
            CreateCatalogue(where);
          },
          py::arg("where"))
      .def("close", &Core::Close)
      .def_property_readonly("closed", &Core::Closed)
      .def_property_readonly("where", &Core::Where)
      .def(
          "tree", [](Core& c, bool count) { return TreeList(c.Run([&](Catalogue& db) { return db.Tree(count); })); },
          py::arg("count_modules") = true)
      .def(
          "listed",
          [](Core& c, S m, S s, S t) {
            return c.Run([&](Catalogue& db) { return db.Listed(Wide(m), Wide(s), Wide(t)); });
          },
          py::arg("manufacturer"), py::arg("series") = "", py::arg("type") = "")
      .def("table_of",
           [](Core& c, S m, S s, S t) {
             return Utf8(c.Run([&](Catalogue& db) { return db.TableOf(Wide(m), Wide(s), Wide(t)); }));
           })
      .def(
          "add_entry",
          [](Core& c, S m, S s, S t) {
            c.Run([&](Catalogue& db) {
              for (const auto& n : {m, s, t}) RefuseNul(n, "a name");
              AddEntry(db, Wide(m), Wide(s), Wide(t));
            });
          },
          py::arg("manufacturer"), py::arg("series") = "", py::arg("type") = "")
      .def("rename_entry",
           [](Core& c, S m, S s, S t, S name) {
             c.Run([&](Catalogue& db) {
               RefuseNul(name, "the new name");
               db.RenameEntry(Wide(m), Wide(s), Wide(t), Wide(name));
             });
           })
      .def("remove_entry",
           [](Core& c, S m, S s, S t) { c.Run([&](Catalogue& db) { db.RemoveEntry(Wide(m), Wide(s), Wide(t)); }); })
      .def("codes",
           [](Core& c, S table) {
             auto codes = c.Run([&](Catalogue& db) { return db.Codes(Wide(table)); });
             std::vector<std::string> out;
             out.reserve(codes.size());
             for (const auto& code : codes) out.push_back(Utf8(code));
             return out;
           })
      .def("module_count",
           [](Core& c, S table) { return c.Run([&](Catalogue& db) { return db.ModuleCount(Wide(table)); }); })
      .def("has_category",
           [](Core& c, S table) { return c.Run([&](Catalogue& db) { return db.HasCategory(Wide(table)); }); })
      .def("read_module",
           [](Core& c, S table, S code) -> py::object {
             Spec spec{};
             if (!c.Run([&](Catalogue& db) { return db.ReadModule(Wide(table), Wide(code), spec); })) return py::none();
             return py::cast(std::move(spec));
           })
      .def("terminals",
           [](Core& c, S table, S code) {
             return c.Run([&](Catalogue& db) { return db.Terminals(Wide(table), Wide(code)); });
           })
      .def("terminal_count",
           [](Core& c, S table, S code) {
             return c.Run([&](Catalogue& db) { return db.TerminalCount(Wide(table), Wide(code)); });
           })
      .def("add_terminals",
           [](Core& c, S table, py::iterable modules) {
             std::vector<std::pair<std::string, py::object>> given;
             size_t count = 0;
             for (py::handle pair : modules) {
               given.push_back(pair.cast<std::pair<std::string, py::object>>());
               RefuseNul(given.back().first, kSpecColumns[0].name);
               count += py::len_hint(given.back().second);
             }
             std::vector<Term> stored;
             stored.reserve(count);  // once: a reserve per module would copy the rows again each time
             for (const auto& [code, rows] : given) AppendRows(rows, Wide(code), stored);
             return RefusalList(c.Run([&](Catalogue& db) { return db.AddTerminals(Wide(table), stored); }));
           })
      .def("add_module",
           [](Core& c, S table, const Spec& spec, py::object rows, S name) {
             std::vector<Term> stored;
             AppendRows(rows, spec.Code, stored);
             return RefusalList(c.Run([&](Catalogue& db) { return db.AddModule(Wide(table), spec, stored, name); }));
           })
      .def("save_module",
           [](Core& c, S table, S code, const Spec& base, const Spec& spec) {
             Spec current{};
             if (!c.Run([&](Catalogue& db) { return SaveModule(db, Wide(table), Wide(code), base, spec, current); }))
               throw Stale("module " + code + " was changed by someone else since it was read; read it again");
           })
      .def("save_terminals",
           [](Core& c, S table, S code, const std::vector<Term>& base, const std::vector<Term>& rows) {
             auto stored = RowsOf(rows, code);
             auto before = RowsOf(base, code);
             std::vector<Term> current;
             if (!c.Run([&](Catalogue& db) {
                   return SaveTerminals(db, Wide(table), Wide(code), before, stored, current);
                 }))
               throw Stale("the terminals of " + code + " were changed by someone else since they were read");
           })
      .def("rename_module",
           [](Core& c, S table, S code, S newCode, S name) {
             c.Run([&](Catalogue& db) {
               CheckWidth(kSpecColumns[0], newCode);
               db.RenameModule(Wide(table), Wide(code), Wide(newCode), name);
             });
           })
      .def("remove_module",
           [](Core& c, S table, S code, S name) {
             c.Run([&](Catalogue& db) { db.RemoveModule(Wide(table), Wide(code), name); });
           })
      .def(
          "find",
          [](Core& c, S text, size_t limit) {
            auto found = c.Run([&](Catalogue& db) { return ModuleList(db).Find(text, limit); });
            py::list out;
            for (const auto& f : found.modules)
              out.append(py::make_tuple(f.manufacturer, f.series, f.type, f.table, f.code, f.description, f.exactCode));
            return py::make_tuple(out, found.truncated);
          })
      .def("export",
           [](Core& c, S path) {
             try {
               c.Run([&](Catalogue& db) {
                 std::ostringstream text;
                 WriteJson(text, ExportCatalogue(db, InterruptibleReporter(nullptr)));
                 WriteFileWhole(path, text.str(), true);
               });
             } catch (const Cancelled&) {
               RaiseIfInterrupted();
               throw;
             }
           })
      .def("import_", [](Core& c, S path, bool replace, bool skipExisting, bool dryRun, bool keepGoing) {
        ImportOptions options;
        options.replaceModules = replace;
        options.skipExisting = skipExisting;
        options.dryRun = dryRun;
        options.keepGoing = keepGoing;
        std::vector<std::string> messages;
        auto result = c.Run([&](Catalogue& db) {
          const Json document = ParseJson(ReadFile(path), path);
          return ImportCatalogue(db, document, options, InterruptibleReporter(&messages));
        });
        if (result.interrupted) RaiseIfInterrupted();
        if (!result.stoppedBy.empty()) throw Refused(result.stoppedBy);
        const auto& n = result.counts;
        py::dict counts;
        for (auto [name, value] : {std::pair<const char*, size_t>{"manufacturers", n.manufacturers},
                                   {"series", n.series},
                                   {"types", n.types},
                                   {"modules", n.modules},
                                   {"terminals", n.terminals},
                                   {"styles", n.styles},
                                   {"prompts", n.prompts},
                                   {"refused", n.refused},
                                   {"unchanged", n.unchanged},
                                   {"kept", n.kept}})
          counts[name] = value;
        counts["taken_back"] = n.takenBack;
        counts["messages"] = messages;
        return counts;
      });
}

}  // namespace

PYBIND11_MODULE(_kivplc, m) {
  m.doc() = "The compiled core of kivplc; use the kivplc package, which documents every name.";
  g_error = NewErrorClass(m, "Error",
                          "Base of every refusal of a catalogue operation.  .kind names the refusal's kind "
                          "('not_found', 'duplicate', 'too_long', 'read_only', 'busy', 'connection_lost', "
                          "'invalid', 'stale', 'other'); .column names the column it is about, or is None.",
                          PyExc_Exception, nullptr);
  PyObject_SetAttrString(g_error, "kind", py::str("other").ptr());
  PyObject_SetAttrString(g_error, "column", Py_None);
  for (size_t i = 0; i < std::size(kErrorClasses); ++i) {
    const auto& e = kErrorClasses[i];
    g_kindClasses[i] = NewErrorClass(m, e.name, e.doc, g_error, e.extraBase);
  }
  g_invalid = NewErrorClass(m, "Invalid", "An argument the catalogue cannot take (a bad document, a NUL character).",
                            g_error, PyExc_ValueError);
  g_stale = NewErrorClass(m, "Stale",
                          "A save refused because the stored copy changed since it was read; nothing was written.",
                          g_error, nullptr);
  py::register_exception_translator(&TranslateErrors);
  BindRecords(m);
  BindCore(m);
}
