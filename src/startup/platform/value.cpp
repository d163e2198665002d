#include "startup/platform/value.h"

#include <cstdlib>

#include "common/text.h"

namespace velmo::db {

bool isNumericType(FieldType t) {
  return t == FieldType::Byte || t == FieldType::Integer || t == FieldType::Long || t == FieldType::Single ||
         t == FieldType::Double;
}

std::string toText(const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* d = std::get_if<double>(&v)) return text::formatNumber(*d);
  if (auto* n = std::get_if<int64_t>(&v)) return std::to_string(*n);
  return {};
}

std::optional<std::string> toOptText(const Value& v) {
  if (isNull(v)) return std::nullopt;
  return toText(v);
}

double toNumber(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* n = std::get_if<int64_t>(&v)) return static_cast<double>(*n);
  if (auto* s = std::get_if<std::string>(&v)) return std::strtod(s->c_str(), nullptr);
  return 0;
}

std::string declaredType(const FieldInfo& f) {
  switch (f.type) {
    case FieldType::Text:
      return "TEXT(" + std::to_string(f.size > 0 ? f.size : 255) + ")";
    case FieldType::Memo:
      return "LONGTEXT";
    case FieldType::Long:
      return "LONG_INT";
    case FieldType::Integer:
      return "SHORT_INT";
    case FieldType::Byte:
      return "BYTE_INT";
    case FieldType::Single:
      return "FLOAT";
    case FieldType::Double:
      return "DOUBLE";
    default:
      return "";
  }
}

FieldInfo fieldFromDeclared(const std::string& name, const std::string& declared) {
  FieldInfo f;
  f.name = name;
  std::string d = text::toUpperAscii(declared);
  if (d.rfind("TEXT(", 0) == 0) {
    f.type = FieldType::Text;
    f.size = std::atoi(d.c_str() + 5);
  } else if (d == "LONGTEXT") {
    f.type = FieldType::Memo;
  } else if (d == "LONG_INT") {
    f.type = FieldType::Long;
  } else if (d == "SHORT_INT") {
    f.type = FieldType::Integer;
  } else if (d == "BYTE_INT") {
    f.type = FieldType::Byte;
  } else if (d == "FLOAT") {
    f.type = FieldType::Single;
  } else if (d == "DOUBLE") {
    f.type = FieldType::Double;
  } else if (d.find("INT") != std::string::npos) {
    f.type = FieldType::Long;
  } else if (d.find("CHAR") != std::string::npos || d.find("TEXT") != std::string::npos || d.find("CLOB") != std::string::npos) {
    f.type = FieldType::Text;
    f.size = 255;
  } else if (d.find("REAL") != std::string::npos || d.find("FLOA") != std::string::npos || d.find("DOUB") != std::string::npos) {
    f.type = FieldType::Double;
  } else {
    f.type = FieldType::Unknown;
  }
  return f;
}

}  // namespace velmo::db
