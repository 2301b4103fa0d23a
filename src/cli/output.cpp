#include "cli/output.h"

#include <map>
#include <vector>

#include "platform/text.h"

namespace quelvane {
namespace {

const char kHex[] = "0123456789abcdef";
const std::string kGroupPrefix = "重复文件第";

// Appends text with backslash, tab, CR and LF escaped; plain runs are copied in one go.
void AppendTsvEscaped(std::string& out, std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* escape = nullptr;
    switch (text[i]) {
      case '\\':
        escape = "\\\\";
        break;
      case '\t':
        escape = "\\t";
        break;
      case '\r':
        escape = "\\r";
        break;
      case '\n':
        escape = "\\n";
        break;
      default:
        continue;
    }
    out.append(text.substr(start, i - start));
    out.append(escape);
    start = i + 1;
  }
  out.append(text.substr(start));
}

}  // namespace

std::string TsvEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendTsvEscaped(out, text);
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t len = Utf8SequenceLength(text, i);
      if (len == 0) {
        out += "\\udc";
        out += kHex[c >> 4];
        out += kHex[c & 15];
        ++i;
      } else {
        out.append(text.substr(i, len));
        i += len;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void WriteTsv(std::ostream& out, const ResultList& list) {
  for (int c = ColSeq; c < kColumnCount; ++c) {
    out << ResultList::ColumnTitle(c) << (c + 1 < kColumnCount ? '\t' : '\n');
  }
  std::string chunk;
  for (int r = 0; r < list.RowCount(); ++r) {
    for (int c = ColSeq; c < kColumnCount; ++c) {
      AppendTsvEscaped(chunk, list.CellView(r, c));
      chunk += c + 1 < kColumnCount ? '\t' : '\n';
    }
    if (chunk.size() >= (1u << 16)) {
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      chunk.clear();
    }
  }
  out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

void WriteJson(std::ostream& out, const ResultList& list, const std::string& summary,
               bool with_groups) {
  static const std::pair<const char*, int> kKeys[] = {{"seq", ColSeq},
                                                      {"name", ColName},
                                                      {"path", ColPath},
                                                      {"size", ColSize},
                                                      {"bytes", -1},
                                                      {"created", ColCreated},
                                                      {"modified", ColModified},
                                                      {"dup_state", ColDupState},
                                                      {"md5", ColDigest}};
  out << "{\"rows\": [";
  for (int r = 0; r < list.RowCount(); ++r) {
    std::string row = r ? ", {" : "{";
    bool first = true;
    for (const auto& [key, column] : kKeys) {
      row += first ? "\"" : ", \"";
      first = false;
      row += key;
      row += "\": ";
      row +=
          column < 0 ? std::to_string(list.FactsAt(r).bytes) : JsonString(list.CellView(r, column));
    }
    out << row << "}";
  }
  out << "]";
  if (with_groups) {
    // Groups in list order, each with its rows' paths.
    std::vector<std::string> order;
    std::map<std::string, std::vector<int>> members;
    for (int r = 0; r < list.RowCount(); ++r) {
      std::string label(list.CellView(r, ColDupState));
      if (label.rfind(kGroupPrefix, 0) != 0) continue;
      auto& rows = members[label];
      if (rows.empty()) order.push_back(label);
      rows.push_back(r);
    }
    out << ", \"groups\": [";
    for (size_t g = 0; g < order.size(); ++g) {
      const auto& rows = members[order[g]];
      out << (g ? ", " : "") << "{\"label\": " << JsonString(order[g])
          << ", \"md5\": " << JsonString(list.CellView(rows[0], ColDigest))
          << ", \"bytes\": " << list.FactsAt(rows[0]).bytes << ", \"paths\": [";
      for (size_t i = 0; i < rows.size(); ++i) {
        out << (i ? ", " : "") << JsonString(list.CellView(rows[i], ColPath));
      }
      out << "]}";
    }
    out << "]";
  }
  out << ", \"summary\": " << JsonString(summary) << "}\n";
}

}  // namespace quelvane
