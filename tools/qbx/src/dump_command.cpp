// qbx dump: the records of a table, fields decoded by the stored definition.
#include <vector>

#include "commands.h"
#include "text_output.h"

namespace qbx::inspector {
namespace {

// One output column: an element of a field that is not a GROUP (a group is
// shown as its members).
struct Column {
  std::size_t field;
  std::uint32_t element;
};

std::vector<Column> columnsOf(const TableDefinition& def) {
  std::vector<Column> columns;
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldInfo& f = def.fields[i];
    if (f.type == FieldType::kGroup) continue;
    for (std::uint32_t e = 0; e < f.elementCount; ++e) columns.push_back({i, e});
  }
  return columns;
}

void csvHeader(std::string& s, const TableDefinition& def, const std::vector<Column>& columns) {
  std::string name;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const FieldInfo& f = def.fields[columns[c].field];
    name.clear();
    appendUtf8(name, f.name);
    if (f.elementCount > 1) name += "[" + std::to_string(columns[c].element + 1) + "]";
    if (c != 0) s += ',';
    appendCsvField(s, name);
  }
  s += '\n';
}

class RowWriter {
 public:
  RowWriter(const TableDefinition& def, const std::vector<Column>& columns)
      : def_(def), columns_(columns) {}

  void csv(std::string& s, const RecordReader& reader) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      if (c != 0) s += ',';
      const FieldValue v = reader.field(columns_[c].field, columns_[c].element);
      if (v.isNumber()) {
        s += v.text;
        continue;
      }
      utf8_.clear();
      appendUtf8(utf8_, v.text);
      appendCsvField(s, utf8_);
    }
    s += '\n';
  }

  void jsonl(std::string& s, const RecordReader& reader) {
    s += '{';
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const Column& col = columns_[c];
      const FieldInfo& f = def_.fields[col.field];
      const bool array = f.elementCount > 1;
      if (col.element == 0) {
        if (c != 0) s += ',';
        appendJsonString(s, f.name);
        s += ':';
        if (array) s += '[';
      } else {
        s += ',';
      }
      const FieldValue v = reader.field(col.field, col.element);
      if (v.isNumber()) {
        s += v.text;
      } else {
        appendJsonString(s, v.text);
      }
      if (array && col.element + 1 == f.elementCount) s += ']';
    }
    s += "}\n";
  }

 private:
  const TableDefinition& def_;
  const std::vector<Column>& columns_;
  std::string utf8_;
};

}  // namespace

int runDump(const Command& command, std::FILE* outStream, std::FILE* err) {
  Database db;
  int status = kExitOk;
  if (!openDatabase(command, db, err, &status)) return status;
  std::string table;
  if (!chooseTable(command, db, err, &table, &status)) return status;
  std::unique_ptr<RecordReader> reader;
  if (const int result = db.openReader(table, &reader); result != 0) {
    reportError(err, command.file + "\\!" + table, result, db.internalError());
    return exitStatusOf(result);
  }
  const TableDefinition& def = reader->definition();
  int start = 0;
  if (command.key) {
    const int key = def.findKey(*command.key);
    if (key < 0) {
      std::string line = "qbx: " + printable(command.file) + ": table " + printable(table) +
                         " has no key " + printable(*command.key) + "; its keys:";
      for (const KeyInfo& k : def.keys) line += " " + printable(k.label);
      std::fputs((line + "\n").c_str(), err);
      return kExitUsage;
    }
    start = reader->startKeyOrder(static_cast<std::size_t>(key));
  } else {
    start = reader->startFileOrder();
  }
  if (start != 0) {
    reportError(err, command.file, start, reader->internalError());
    return exitStatusOf(start);
  }

  const std::vector<Column> columns = columnsOf(def);
  RowWriter rows(def, columns);
  Output out(outStream);
  if (command.format == DumpFormat::kCsv) csvHeader(out.buffer(), def, columns);
  std::uint64_t written = 0;
  while (!command.limit || written < *command.limit) {
    const int result = reader->next();
    if (result == kErrRecordNotAvailable) break;
    if (result != 0) {
      out.flush();
      reportError(err, command.file, result, reader->internalError());
      std::fputs(("qbx: the dump stops after " + std::to_string(written) + " records\n").c_str(),
                 err);
      status = exitStatusOf(result);
      break;
    }
    if (command.format == DumpFormat::kCsv) {
      rows.csv(out.buffer(), *reader);
    } else {
      rows.jsonl(out.buffer(), *reader);
    }
    ++written;
    out.maybeFlush();
  }
  if (!out.flush()) return kExitUsage;
  return status;
}

}  // namespace qbx::inspector
