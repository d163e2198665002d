// The rows of "CJRAコード変換" as the readable source data/jracode.txt writes
// them, loaded into kova_code.mdb when the initial databases are built.
#pragma once
#include <string>
#include <vector>

#include "startup/platform/db.h"

namespace velmo {

struct JraCodeRow {
  std::string kind, jravan, kova;
};

// Parses the source text (UTF-8): three quoted values a line, comments after
// them or on lines starting with "#". Throws on a malformed line or a
// (kind, JRA-VAN code) pair given twice, naming the line.
std::vector<JraCodeRow> ParseJraCodes(const std::string& text);
// Replaces the rows of "CJRAコード変換" of the database with the file's rows.
void LoadJraCodes(const std::string& file, db::Database& code);

}  // namespace velmo
