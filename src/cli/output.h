#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "results/result_list.h"

namespace quelvane {

// One cell of a tsv line: backslash, tab, CR and LF escaped; other bytes as they are.
std::string TsvEscape(std::string_view text);
// A JSON string literal; each byte of an invalid UTF-8 sequence becomes \udcXY.
std::string JsonString(std::string_view text);

void WriteTsv(std::ostream& out, const ResultList& list);
// with_groups adds the duplicate groups after the rows.
void WriteJson(std::ostream& out, const ResultList& list, const std::string& summary,
               bool with_groups);

}  // namespace quelvane
