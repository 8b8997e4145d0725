#include "qbx/detail/definition_view.h"

#include <vector>

#include "fileaccess/field_format.h"
#include "qbx/records/format.h"

namespace qbx {

std::string fieldTypeName(FieldType type) {
  return std::string(fileaccess::fieldTypeName(static_cast<std::uint8_t>(type)));
}

int TableDefinition::findKey(const std::string& label) const {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::string& k = keys[i].label;
    if (k.size() != label.size()) continue;
    bool same = true;
    for (std::size_t j = 0; j < k.size() && same; ++j) same = lower(k[j]) == lower(label[j]);
    if (same) return static_cast<int>(i);
  }
  return -1;
}

namespace detail {
namespace {

std::string textOf(const records::OptText& t) { return t ? *t : std::string(); }

}  // namespace

TableDefinition publicDefinition(const records::QbxTableDef& def) {
  TableDefinition out;
  out.recordLength = def.recordLength;
  out.oem = def.isOem();
  out.fields.reserve(def.fields.size());
  // Groups that may still hold the next field: index, first byte, end.
  struct Open {
    int index;
    std::uint64_t begin;
    std::uint64_t end;
  };
  std::vector<Open> open;
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const records::QbxFieldDef& f = def.fields[i];
    FieldInfo info;
    info.name = f.name ? *f.name : textOf(f.label);
    info.type = static_cast<FieldType>(f.type);
    info.offset = f.offset;
    info.elementCount = f.elementCount;
    info.totalSize = f.totalSize;
    info.elementSize = f.elementCount == 0 ? 0 : f.totalSize / f.elementCount;
    info.places = f.places;
    info.picture = textOf(f.picture);
    info.overlay = f.overlay != 0;
    const std::uint64_t begin = f.offset;
    const std::uint64_t end = begin + f.totalSize;
    while (!open.empty() &&
           !(begin >= open.back().begin && begin < open.back().end && end <= open.back().end)) {
      open.pop_back();
    }
    info.group = open.empty() ? -1 : open.back().index;
    if (f.type == fileaccess::kTypeGroup) open.push_back({static_cast<int>(i), begin, end});
    out.fields.push_back(std::move(info));
  }
  for (const records::QbxKeyDef& k : def.keys) {
    KeyInfo key;
    key.label = textOf(k.label);
    key.externalName = textOf(k.externalName);
    for (const records::QbxKeyComponent& c : k.components) {
      key.components.push_back({c.field, c.descending});
    }
    key.dup = k.isDup();
    key.opt = k.isOpt();
    key.noCase = k.isNoCase();
    key.primary = (k.flags & records::kKeyPrimary) != 0;
    key.index = k.isIndex();
    key.dynamic = k.isDynamic();
    out.keys.push_back(std::move(key));
  }
  for (const records::QbxMemoDef& m : def.memos) {
    MemoInfo memo;
    memo.label = textOf(m.label);
    memo.externalName = textOf(m.externalName);
    memo.size = m.size;
    memo.blob = m.isBlob();
    memo.binary = (m.flags & records::kMemoBinary) != 0;
    out.memos.push_back(std::move(memo));
  }
  return out;
}

}  // namespace detail
}  // namespace qbx
