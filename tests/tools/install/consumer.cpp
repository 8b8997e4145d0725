// Opens the QBX file it is given and prints its tables and the first record
// of each, field by field; a missing file must give error 2.
#include <cstdio>
#include <memory>
#include <vector>

#include "qbx/qbx.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  qbx::Database missing;
  if (missing.open("no-such-file.qbx") != qbx::kErrFileNotFound) return 3;
  qbx::Database db;
  if (const int result = db.open(argv[1]); result != 0) {
    std::printf("open: %d %s\n", result, qbx::errorText(result).c_str());
    return 1;
  }
  std::vector<qbx::TableInfo> tables;
  if (db.tables(&tables) != 0) return 1;
  for (const qbx::TableInfo& t : tables) {
    std::printf("table %s: %u records\n", t.name.c_str(), t.records);
    std::unique_ptr<qbx::RecordReader> reader;
    if (db.openReader(t.name, &reader) != 0 || reader->startFileOrder() != 0) return 1;
    if (reader->next() != 0) continue;
    const qbx::TableDefinition& def = reader->definition();
    for (std::size_t i = 0; i < def.fields.size(); ++i) {
      std::printf("%s=%s\n", def.fields[i].name.c_str(), reader->field(i).text.c_str());
    }
  }
  return 0;
}
