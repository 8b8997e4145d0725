// qbx info, qbx tables and qbx schema.
#include <vector>

#include "commands.h"
#include "text_output.h"

namespace qbx::inspector {
namespace {

std::string_view pendingLogText(PendingLog p) {
  switch (p) {
    case PendingLog::kReadThrough:
      return "complete, read through (a commit was cut short; the next writer finishes it)";
    case PendingLog::kIgnored:
      return "incomplete, ignored (a commit was cut short; the state before it stands)";
    default:
      return "none";
  }
}

std::string_view pendingLogJson(PendingLog p) {
  switch (p) {
    case PendingLog::kReadThrough:
      return "read-through";
    case PendingLog::kIgnored:
      return "ignored";
    default:
      return "none";
  }
}

void appendField(std::string& out, std::string_view name, const std::string& value) {
  out += name;
  out.append(name.size() < 16 ? 16 - name.size() : 1, ' ');
  out += value;
  out += '\n';
}

void tableLine(std::string& out, const TableInfo& t) {
  out += "  ";
  out += printable(t.name);
  out += ": number " + std::to_string(t.number);
  out += ", " + (t.hasStatus ? std::to_string(t.records) : std::string("?")) + " records";
  if (t.definitionError != 0) {
    out += ", definition unusable (error " + std::to_string(t.definitionError) + " " +
           errorText(t.definitionError) + ")";
  } else {
    out += ", record length " + std::to_string(t.recordLength);
    out += ", " + std::to_string(t.keys) + " keys";
    if (t.memos != 0) out += ", " + std::to_string(t.memos) + " memos";
  }
  out += '\n';
}

void tableJson(std::string& out, const TableInfo& t, bool full) {
  out += "{\"name\":";
  appendJsonString(out, t.name);
  out += ",\"number\":" + std::to_string(t.number);
  out += ",\"records\":" + (t.hasStatus ? std::to_string(t.records) : std::string("null"));
  if (full) {
    if (t.definitionError != 0) {
      out += ",\"definitionError\":" + std::to_string(t.definitionError);
    } else {
      out += ",\"recordLength\":" + std::to_string(t.recordLength);
      out += ",\"keys\":" + std::to_string(t.keys);
      out += ",\"memos\":" + std::to_string(t.memos);
    }
  }
  out += '}';
}

// A table list that met damage: what could be shown has been; the error
// goes to err.
int listTables(Database& db, const Command& command, std::FILE* err, std::vector<TableInfo>* out) {
  const int result = db.tables(out);
  if (result == 0) return kExitOk;
  reportError(err, command.file, result, db.internalError());
  return exitStatusOf(result);
}

}  // namespace

int runInfo(const Command& command, std::FILE* outStream, std::FILE* err) {
  Database db;
  int status = kExitOk;
  if (!openDatabase(command, db, err, &status)) return status;
  FileInfo info;
  if (const int result = db.fileInfo(&info); result != 0) {
    reportError(err, command.file, result, db.internalError());
    status = exitStatusOf(result);
    // Nothing was read when even the header was refused.
    if (info.logicalEnd == 0) return status;
  }
  std::vector<TableInfo> tables;
  if (status == kExitOk) status = listTables(db, command, err, &tables);

  Output out(outStream);
  std::string& s = out.buffer();
  if (command.json) {
    s += "{\"file\":";
    appendJsonString(s, db.fullName());
    s += ",\"length\":" + std::to_string(info.length);
    s += ",\"logicalEnd\":" + std::to_string(info.logicalEnd);
    s += ",\"changeCount\":" + std::to_string(info.changeCount);
    s += ",\"recordCounter\":" + std::to_string(info.recordCounter);
    s += ",\"rootPage\":" + std::to_string(info.rootPage);
    s += ",\"pendingLog\":\"" + std::string(pendingLogJson(info.pendingLog)) + "\"";
    s += ",\"logStart\":" + std::to_string(info.logStart);
    s += ",\"logEnd\":" + std::to_string(info.logEnd);
    s += ",\"treeDepth\":" + std::to_string(info.treeDepth);
    s += ",\"pages\":" + std::to_string(info.pages);
    s += ",\"pagesPerClass\":{";
    bool first = true;
    for (int c = 1; c <= kMaxSizeClass; ++c) {
      const std::uint32_t n = info.pagesPerClass[static_cast<std::size_t>(c)];
      if (n == 0) continue;
      if (!first) s += ',';
      first = false;
      s += "\"" + std::to_string(c) + "\":" + std::to_string(n);
    }
    s += "},\"tables\":[";
    for (std::size_t i = 0; i < tables.size(); ++i) {
      if (i != 0) s += ',';
      tableJson(s, tables[i], true);
    }
    s += "]}\n";
  } else {
    appendField(s, "file", printable(db.fullName()));
    appendField(s, "length", std::to_string(info.length) + " bytes");
    appendField(s, "logical end", std::to_string(info.logicalEnd));
    appendField(s, "change count", std::to_string(info.changeCount));
    appendField(s, "record counter", std::to_string(info.recordCounter));
    appendField(s, "root page", std::to_string(info.rootPage));
    appendField(s, "pending log", std::string(pendingLogText(info.pendingLog)));
    appendField(s, "tree depth", std::to_string(info.treeDepth));
    std::string classes;
    for (int c = 1; c <= kMaxSizeClass; ++c) {
      const std::uint32_t n = info.pagesPerClass[static_cast<std::size_t>(c)];
      if (n == 0) continue;
      classes += classes.empty() ? " (" : ", ";
      classes += "class " + std::to_string(c) + ": " + std::to_string(n);
    }
    if (!classes.empty()) classes += ")";
    appendField(s, "pages", std::to_string(info.pages) + classes);
    appendField(s, "tables", std::to_string(tables.size()));
    for (const TableInfo& t : tables) tableLine(s, t);
  }
  if (!out.flush()) return kExitUsage;
  return status;
}

int runTables(const Command& command, std::FILE* outStream, std::FILE* err) {
  Database db;
  int status = kExitOk;
  if (!openDatabase(command, db, err, &status)) return status;
  std::vector<TableInfo> tables;
  status = listTables(db, command, err, &tables);
  Output out(outStream);
  std::string& s = out.buffer();
  if (command.json) {
    s += '[';
    for (std::size_t i = 0; i < tables.size(); ++i) {
      if (i != 0) s += ',';
      tableJson(s, tables[i], false);
    }
    s += "]\n";
  } else {
    for (const TableInfo& t : tables) {
      s += printable(t.name) + "\t" + std::to_string(t.number) + "\t" +
           (t.hasStatus ? std::to_string(t.records) : std::string("?")) + "\n";
    }
  }
  if (!out.flush()) return kExitUsage;
  return status;
}

int runSchema(const Command& command, std::FILE* outStream, std::FILE* err) {
  Database db;
  int status = kExitOk;
  if (!openDatabase(command, db, err, &status)) return status;
  std::vector<std::string> names;
  if (command.table) {
    names.push_back(*command.table);
  } else {
    std::vector<TableInfo> tables;
    status = listTables(db, command, err, &tables);
    for (const TableInfo& t : tables) names.push_back(t.name);
  }
  Output out(outStream);
  for (const std::string& name : names) {
    std::string text;
    const int result = db.declaration(name, &text);
    if (result != 0) {
      reportError(err, command.file + "\\!" + name, result, db.internalError());
      status = std::max(status, exitStatusOf(result));
      continue;
    }
    std::string shown;
    appendUtf8(shown, text);
    out << shown;
  }
  if (!out.flush()) return kExitUsage;
  return status;
}

}  // namespace qbx::inspector
