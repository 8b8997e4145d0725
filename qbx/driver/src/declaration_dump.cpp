#include "qbx/driver/declaration_dump.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "fileaccess/field_format.h"
#include "qbx/records/format.h"

namespace qbx::driver {
namespace {

using records::QbxFieldDef;
using records::QbxKeyDef;
using records::QbxMemoDef;
using records::QbxTableDef;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kFileColumn = 18;
constexpr std::size_t kDeclarationColumn = 20;
constexpr std::size_t kFieldColumn = 22;
constexpr std::size_t kMemberIndent = 2;

std::string_view textOf(const records::OptText& text) {
  return text ? std::string_view(*text) : std::string_view();
}

// The name a field goes by: its NAME attribute, else its label.
std::string_view fieldName(const QbxFieldDef& f) {
  return f.name ? std::string_view(*f.name) : textOf(f.label);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

void writeFileLine(std::string& out, const QbxTableDef& table, std::string_view label) {
  appendColumn(out, label, kFileColumn);
  out += "FILE,DRIVER('";
  out += kDeclaredDriverName;
  out += '\'';
  if (!textOf(table.driverOptions).empty()) {
    out += ",'";
    out += *table.driverOptions;
    out += '\'';
  }
  out += ')';
  // The owner text is a password: its presence is shown, never the text.
  if (!textOf(table.owner).empty()) out += ",OWNER(******)";
  if (!table.name.empty()) {
    out += ",NAME('";
    out += table.name;
    out += "')";
  }
  if ((table.attributes & records::kTableCreate) != 0) out += ",CREATE";
  if ((table.attributes & records::kTableEncrypt) != 0) out += ",ENCRYPT";
  if ((table.attributes & records::kTableReclaim) != 0) out += ",RECLAIM";
  if ((table.attributes & records::kTableThread) != 0) out += ",THREAD";
  out += kCrLf;
}

void writeKeyLine(std::string& out, const QbxTableDef& table, const QbxKeyDef& key) {
  appendColumn(out, textOf(key.label), kDeclarationColumn);
  out += key.isIndex() ? "INDEX(" : "KEY(";
  bool first = true;
  for (const records::QbxKeyComponent& c : key.components) {
    if (!first) out += ',';
    first = false;
    out += c.descending ? '-' : '+';
    if (c.field < table.fields.size()) out += fieldName(table.fields[c.field]);
  }
  out += ')';
  if (key.isDup()) out += ",DUP";
  if (key.isOpt()) out += ",OPT";
  if (key.isNoCase()) out += ",NOCASE";
  if ((key.flags & records::kKeyPrimary) != 0) out += ",PRIMARY";
  if (!textOf(key.externalName).empty()) {
    out += ",NAME(";
    out += *key.externalName;
    out += ')';
  }
  out += kCrLf;
}

void writeMemoLine(std::string& out, const QbxMemoDef& memo) {
  appendColumn(out, textOf(memo.label), kDeclarationColumn);
  if (memo.isBlob()) {
    out += "BLOB";
  } else {
    out += "MEMO(";
    out += std::to_string(memo.size);
    out += ')';
  }
  if (!textOf(memo.externalName).empty()) {
    out += ",NAME(";
    out += *memo.externalName;
    out += ')';
  }
  if ((memo.flags & records::kMemoBinary) != 0) out += ",BINARY";
  out += kCrLf;
}

// One field line: name, type with its size part, DIM, OVER and NAME.
void writeFieldLine(std::string& out, const QbxFieldDef& f, std::size_t column,
                    const QbxFieldDef* overlaid) {
  appendColumn(out, fieldName(f), column);
  out += fileaccess::fieldTypeName(f.type);
  if (fileaccess::isDecimalType(f.type)) {
    const unsigned digits = f.elementSize == 0 ? 0u : 2u * f.elementSize - 1u;
    out += '(';
    out += std::to_string(digits);
    out += ',';
    out += std::to_string(f.places);
    out += ')';
  } else if (f.type == fileaccess::kTypeString || f.type == fileaccess::kTypeCstring ||
             f.type == fileaccess::kTypePstring) {
    if (!textOf(f.picture).empty()) {
      out += "(@";
      out += *f.picture;
      out += ')';
    } else {
      out += '(';
      out += std::to_string(f.elementLength);
      out += ')';
    }
  }
  if (f.elementCount > 1) {
    out += ", DIM(";
    out += std::to_string(f.elementCount);
    out += ')';
  }
  if (overlaid != nullptr) {
    out += ", OVER(";
    out += fieldName(*overlaid);
    out += ')';
  }
  const std::string_view external = textOf(f.externalName);
  if (!external.empty() && !equalsIgnoringCase(external, textOf(f.label))) {
    out += ",NAME('";
    out += external;
    out += "')";
  }
  out += kCrLf;
}

// A GROUP whose member lines are being written.
struct OpenGroup {
  std::size_t column;
  bool overlay;
  bool counted;           // members known by count (a definition built from a declaration)
  std::size_t lastField;  // counted: index of its last member
  std::uint64_t begin;    // not counted: the group's bytes
  std::uint64_t end;
};

bool holds(const OpenGroup& g, std::size_t index, const QbxFieldDef& f) {
  if (g.counted) return index <= g.lastField;
  const std::uint64_t offset = f.offset;
  return offset >= g.begin && offset < g.end && offset + f.totalSize <= g.end;
}

void writeFields(std::string& out, const QbxTableDef& table) {
  const std::vector<QbxFieldDef>& fields = table.fields;
  std::vector<OpenGroup> open;
  // Index of the first field at each offset, for OVER.
  std::unordered_map<std::uint32_t, std::size_t> firstAt;
  firstAt.reserve(fields.size());

  auto closeGroup = [&] {
    appendColumn(out, {}, open.back().column);
    out += "END";
    out += kCrLf;
    open.pop_back();
  };

  for (std::size_t i = 0; i < fields.size(); ++i) {
    const QbxFieldDef& f = fields[i];
    while (!open.empty() && !holds(open.back(), i, f)) closeGroup();
    const std::size_t column =
        open.empty() ? kFieldColumn : std::min(open.back().column + kMemberIndent, kMaxPaddedText);

    // A member of an overlaying group overlays with it, not by itself.
    const bool ownOverlay = f.overlay != 0 && (open.empty() || !open.back().overlay);
    const QbxFieldDef* overlaid = nullptr;
    const auto [at, inserted] = firstAt.emplace(f.offset, i);
    if (ownOverlay && !inserted) overlaid = &fields[at->second];

    writeFieldLine(out, f, column, overlaid);

    if (f.type == fileaccess::kTypeGroup) {
      OpenGroup g{column, f.overlay != 0, f.memberCount != 0,
                  0,      f.offset,       std::uint64_t{f.offset} + f.totalSize};
      if (g.counted) {
        g.lastField = std::min<std::size_t>(i + f.memberCount, fields.size() - 1);
        // A member count never reaches past the enclosing group's members.
        if (!open.empty() && open.back().counted) {
          g.lastField = std::min(g.lastField, open.back().lastField);
        }
      }
      open.push_back(g);
    }
  }
  while (!open.empty()) closeGroup();
}

}  // namespace

void appendColumn(std::string& out, std::string_view text, std::size_t column) {
  if (text.size() > kMaxPaddedText) text = text.substr(0, kMaxPaddedText);
  out += text;
  if (text.size() >= column) {
    out += ' ';
  } else {
    out.append(column - text.size(), ' ');
  }
}

std::string declarationDump(const QbxTableDef& table, std::string_view label) {
  std::string out;
  writeFileLine(out, table, label);
  for (const QbxKeyDef& key : table.keys) writeKeyLine(out, table, key);
  for (const QbxMemoDef& memo : table.memos) writeMemoLine(out, memo);
  appendColumn(out, {}, kDeclarationColumn);
  out += "RECORD";
  out += kCrLf;
  writeFields(out, table);
  appendColumn(out, {}, kDeclarationColumn);
  out += "END";
  out += kCrLf;
  appendColumn(out, {}, kFileColumn);
  out += "END";
  out += kCrLf;
  out += kCrLf;
  return out;
}

}  // namespace qbx::driver
