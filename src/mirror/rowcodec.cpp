#include "mirror/rowcodec.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmo::mirror {

using db::FieldType;

std::string ServerType(const db::FieldInfo& f) {
  switch (f.type) {
    case FieldType::Byte:
    case FieldType::Integer:
      return "smallint";
    case FieldType::Long:
      return "integer";
    case FieldType::Single:
      return "real";
    case FieldType::Double:
      return "double precision";
    case FieldType::Text:
      return "varchar(" + std::to_string(f.size > 0 ? f.size : 255) + ")";
    default:
      return "text";
  }
}

std::string ServerTypeName(const db::FieldInfo& f) {
  if (f.type == FieldType::Text) return "character varying(" + std::to_string(f.size > 0 ? f.size : 255) + ")";
  return ServerType(f);
}

void AppendEscaped(std::string& out, std::string_view s) {
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\v': out += "\\v"; break;
      default: out += c;
    }
  }
}

std::string Unescape(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      r += s[i];
      continue;
    }
    char c = s[++i];
    switch (c) {
      case 'b': r += '\b'; break;
      case 'f': r += '\f'; break;
      case 'n': r += '\n'; break;
      case 'r': r += '\r'; break;
      case 't': r += '\t'; break;
      case 'v': r += '\v'; break;
      default: r += c;
    }
  }
  return r;
}

namespace {

template <typename F>
void appendFloat(std::string& out, F v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-Infinity" : "Infinity";
    return;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

double numberOf(const db::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* s = std::get_if<std::string>(&v)) return std::strtod(s->c_str(), nullptr);
  return 0;
}

}  // namespace

void AppendValue(std::string& out, FieldType type, const db::Value& v) {
  if (db::isNull(v)) {
    out += "\\N";
    return;
  }
  switch (type) {
    case FieldType::Byte:
    case FieldType::Integer:
    case FieldType::Long:
      if (auto* i = std::get_if<int64_t>(&v))
        out += std::to_string(*i);
      else if (auto* d = std::get_if<double>(&v))
        out += std::to_string(std::llround(*d));
      else
        AppendEscaped(out, std::get<std::string>(v));
      return;
    case FieldType::Single:
      appendFloat(out, static_cast<float>(numberOf(v)));
      return;
    case FieldType::Double:
      appendFloat(out, numberOf(v));
      return;
    default:
      AppendEscaped(out, db::toText(v));
  }
}

void AppendServerField(std::string& out, FieldType type, std::string_view field) {
  if (field == "\\N" || (type != FieldType::Single && type != FieldType::Double)) {
    out += field;
    return;
  }
  std::string s(field);
  if (type == FieldType::Single)
    appendFloat(out, std::strtof(s.c_str(), nullptr));
  else
    appendFloat(out, std::strtod(s.c_str(), nullptr));
}

uint64_t RowHash(std::string_view line) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : line) h = (h ^ c) * 1099511628211ull;
  // A final mix, so that the sum of many rows' hashes stays well spread.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

std::string KeyText(const db::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&v)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    return buf;
  }
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

}  // namespace velmo::mirror
