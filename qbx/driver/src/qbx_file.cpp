#include "qbx/driver/qbx_file.h"

#include <functional>
#include <new>

#include "file_lifecycle.h"
#include "fileaccess/files_in_use.h"
#include "qbx/driver/result_codes.h"
#include "qbx/records/table_def_builder.h"
#include "table_access.h"

namespace qbx::driver {
namespace {

records::OptText declaredText(const char* text, std::int32_t length) {
  if (text == nullptr) return std::nullopt;
  return fileaccess::takeName(text, length);
}

// Written by keyArgument for keys of other files; never read through.
std::uint32_t gForeignKeyState = 0;

}  // namespace

QbxFile::~QbxFile() {
  // A QbxFile discarded with its table still open (an operation that failed
  // half way) lets the table go without committing through it.
  releaseTableWithoutCommit(*this);
}

int attachFile(fileaccess::FileBlock& block, QbxFile** out) {
  *out = nullptr;
  auto* file = new (std::nothrow) QbxFile(block);
  if (file == nullptr) return kErrInsufficientMemory;
  block.driverState = file;
  *out = file;
  fileaccess::enterFileInUse(block);
  if (const int result = records::buildTableDef(block, file->def); result != 0) return result;
  file->keyStates.assign(file->def->keys.size(), 0);
  file->trace = readTraceSettings(*file->def);
  return 0;
}

void discardFile(fileaccess::FileBlock& block) {
  QbxFile* file = attachedFile(block);
  block.driverState = nullptr;
  fileaccess::removeFileInUse(block);
  if (file != nullptr && (file->state & flag::building) != 0) {
    file->orphaned = true;
    return;
  }
  delete file;
}

void refreshDeclaration(QbxFile& file) {
  if (!file.def) return;
  records::QbxTableDef& table = *file.def;
  const fileaccess::FileBlock& block = *file.fileBlock;
  if ((file.setByProperty & kNameSetByProperty) == 0) {
    table.name = fileaccess::takeName(block.name, block.nameLength);
  }
  if ((file.setByProperty & kOwnerSetByProperty) == 0) {
    table.owner = declaredText(block.owner, block.ownerLength);
  }
  if ((file.setByProperty & kDriverOptionsSetByProperty) == 0) {
    table.driverOptions = declaredText(block.driverOptions, block.driverOptionsLength);
  }
}

const KeyArgument* keyArgument(QbxFile& file, std::intptr_t word, KeyArgument& out,
                               records::QbxKeyDef** key) {
  *key = nullptr;
  const auto* desc = reinterpret_cast<const fileaccess::KeyDesc*>(word);
  if (desc == nullptr) return nullptr;
  out = KeyArgument{&gForeignKeyState, false, false};
  if (!file.def) return &out;
  auto* def = static_cast<records::QbxKeyDef*>(desc->driverKey);
  std::vector<records::QbxKeyDef>& keys = file.def->keys;
  // The key's definition must be one of this file's own.
  const std::less<const records::QbxKeyDef*> before;
  if (def == nullptr || keys.empty() || before(def, keys.data()) ||
      !before(def, keys.data() + keys.size())) {
    return &out;
  }
  const auto index = static_cast<std::size_t>(def - keys.data());
  if (file.keyStates.size() != keys.size()) file.keyStates.resize(keys.size(), 0);
  out.state = &file.keyStates[index];
  out.dynamicIndex = def->isDynamic();
  out.ofThisFile = true;
  *key = def;
  return &out;
}

}  // namespace qbx::driver
