#include "registration/layout.h"
#include "registration/ledger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "registration/decodedfiles.h"
#include "registration/families.h"
#include "startup/platform/applog.h"

namespace velmo::reg {

Rule parseRule(std::string_view t) {
  std::string s = text::trimBlanks(t);
  Rule r;
  auto num = [&](size_t from) {
    std::string n = text::trimBlanks(s.substr(from));
    if (n.empty()) throw VelmoError(err::InvalidArgument, "layout rule without a number: " + s);
    return std::atoi(n.c_str());
  };
  if (s == "text") r.kind = RuleKind::Text;
  else if (s == "trim") r.kind = RuleKind::Trim;
  else if (s == "blank-null") r.kind = RuleKind::BlankNull;
  else if (s == "number") r.kind = RuleKind::Number;
  else if (s == "blank-null number") r.kind = RuleKind::BlankNullNumber;
  else if (s == "key") r.kind = RuleKind::Key;
  else if (text::startsWith(s, "trim head ")) {
    r.kind = RuleKind::TrimHead;
    r.k = num(10);
  } else if (text::startsWith(s, "head ")) {
    r.kind = RuleKind::Head;
    r.k = num(5);
  } else if (text::startsWith(s, "char ")) {
    r.kind = RuleKind::Char;
    r.k = num(5);
  } else if (text::startsWith(s, "fixed ")) {
    r.kind = RuleKind::Fixed;
    r.literal = s.substr(6);
    if (r.literal.size() >= 2 && r.literal.front() == '"' && r.literal.back() == '"')
      r.literal = r.literal.substr(1, r.literal.size() - 2);
  } else if (text::startsWith(s, "custom ")) {
    r.kind = RuleKind::Custom;
    r.literal = text::trimBlanks(s.substr(7));
  } else {
    throw VelmoError(err::InvalidArgument, "unknown layout rule: " + s);
  }
  return r;
}

std::string_view RecordView::bytes(int offset, int length) const {
  size_t o = static_cast<size_t>(offset);
  if (o >= bytes_.size()) return {};
  return bytes_.substr(o, static_cast<size_t>(length));
}

namespace {
// The field's bytes decoded, without its trailing blanks (a blank byte is never
// part of a two-byte character, and every rule either pads with blanks again or
// trims them).
std::string decodedField(const RecordView& rec, int offset, int length) {
  std::string_view b = rec.bytes(offset, length);
  size_t end = b.size();
  while (end > 0 && b[end - 1] == ' ') --end;
  b = b.substr(0, end);
  if (text::isAscii(b)) return std::string(b);
  std::string out;
  if (!text::decodeCp932(b, out))
    throw VelmoError(err::BadShiftJis, "Shift_JISでない文字があります（レコード" + std::to_string(rec.number()) + "、位置" +
                                           std::to_string(offset) + "、長さ" + std::to_string(length) + "）");
  return out;
}

// Cuts a text after its first k characters, in place.
void keepHead(std::string& s, size_t k) {
  size_t i = 0, chars = 0;
  while (i < s.size() && chars < k) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  s.resize(i);
}

// Removes leading and trailing ASCII blanks, in place.
void trimInPlace(std::string& s) {
  size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  s.resize(e);
  size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  if (b) s.erase(0, b);
}
}  // namespace

std::string RecordView::raw(int offset, int length) const {
  // Plain ASCII (most fields) is its own decoding, blanks included.
  std::string_view b = bytes(offset, length);
  if (static_cast<int>(b.size()) == length && text::isAscii(b)) return std::string(b);
  std::string out = decodedField(*this, offset, length);
  size_t chars = text::isAscii(out) ? out.size() : text::charCount(out);
  if (chars < static_cast<size_t>(length)) out.append(static_cast<size_t>(length) - chars, ' ');
  return out;
}

double readNumber(std::string_view raw) {
  // Blanks are ignored wherever they stand; a leading sign and one decimal point
  // are accepted; reading stops at the first character that cannot continue.
  char small[64];
  std::string big;
  char* digits = small;
  if (raw.size() >= sizeof small) {
    big.resize(raw.size() + 1);
    digits = big.data();
  }
  size_t n = 0;
  bool seenDigit = false, seenPoint = false, seenSign = false;
  for (char c : raw) {
    if (c == ' ') continue;
    if ((c == '-' || c == '+') && !seenDigit && !seenPoint && !seenSign) {
      seenSign = true;
      digits[n++] = c;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      digits[n++] = c;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
      digits[n++] = c;
    } else {
      break;
    }
  }
  if (!seenDigit) return 0;
  digits[n] = '\0';
  return std::strtod(digits, nullptr);
}

static bool allBlank(const std::string& s) { return text::isBlank(s); }

db::Value applyRule(const Rule& rule, const std::string& raw) {
  switch (rule.kind) {
    case RuleKind::Text:
      return raw;
    case RuleKind::Head:
      return text::headChars(raw, static_cast<size_t>(rule.k));
    case RuleKind::TrimHead:
      return text::trimBlanks(text::headChars(raw, static_cast<size_t>(rule.k)));
    case RuleKind::Trim:
      return text::trimBlanks(raw);
    case RuleKind::BlankNull:
      if (allBlank(raw)) return std::monostate{};
      return raw;
    case RuleKind::Number:
      return readNumber(raw);
    case RuleKind::BlankNullNumber:
      if (allBlank(raw)) return std::monostate{};
      return readNumber(raw);
    case RuleKind::Char:
      return text::midChars(raw, static_cast<size_t>(rule.k), 1);
    case RuleKind::Fixed:
      return rule.literal;
    default:
      return raw;
  }
}

db::Value Layout::value(size_t i, const RecordView& rec) const {
  const CompiledField& f = fields[i];
  if (f.rule.kind == RuleKind::Fixed) return f.rule.literal;
  if (f.compose) return f.compose(rec, f.column);
  if (f.rule.kind == RuleKind::Key || f.rule.kind == RuleKind::Custom) {
    const std::string& name = f.rule.kind == RuleKind::Key ? f.column : f.rule.literal;
    auto it = composers.find(name);
    if (it == composers.end()) throw VelmoError(err::InvalidArgument, "no composer for " + name + " in " + kind);
    return it->second(rec, f.column);
  }
  // The trimming rules never see the padding (blanks at the end, trimmed anyway):
  // they work on the decoded bytes in place.
  if (f.rule.kind == RuleKind::TrimHead || f.rule.kind == RuleKind::Trim) {
    std::string s = decodedField(rec, f.offset, f.length);
    if (f.rule.kind == RuleKind::TrimHead) keepHead(s, static_cast<size_t>(f.rule.k));
    trimInPlace(s);
    return s;
  }
  std::string raw = rec.raw(f.offset, f.length);
  // The common rules hand the decoded text on without a copy.
  if (f.rule.kind == RuleKind::Text) return raw;
  if (f.rule.kind == RuleKind::BlankNull) {
    if (allBlank(raw)) return std::monostate{};
    return raw;
  }
  return applyRule(f.rule, raw);
}

std::vector<db::Value> Layout::keyValues(const RecordView& rec) const {
  std::vector<db::Value> r;
  r.reserve(keyFieldIndex.size());
  for (int i : keyFieldIndex) r.push_back(value(static_cast<size_t>(i), rec));
  return r;
}

size_t Layout::fieldIndex(const std::string& column) const {
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].column == column) return i;
  throw VelmoError(err::InvalidArgument, "column " + column + " missing from layout " + kind);
}

std::vector<Layout> compileFamily(const FamilyDef& def) {
  std::vector<Layout> out;
  for (size_t k = 0; k < def.kinds.size(); ++k) {
    Layout L;
    L.kind = def.kinds[k].kind;
    L.table = def.table;
    L.recordLength = def.kinds[k].recordLength;
    L.status = def.kinds[k].status;
    L.feedsList = def.kinds[k].feedsList;
    for (const char* c : def.seekKey) L.seekKey.emplace_back(c);
    L.composers = def.composers;
    for (const auto& row : def.rows) {
      const char* rt = row.rules.size() == 1 ? row.rules[0] : (k < row.rules.size() ? row.rules[k] : "-");
      if (std::string_view(rt) == "-") continue;
      L.fields.push_back({row.offset, row.length, row.column, parseRule(rt)});
      CompiledField& f = L.fields.back();
      if (f.rule.kind == RuleKind::Key || f.rule.kind == RuleKind::Custom) {
        auto it = L.composers.find(f.rule.kind == RuleKind::Key ? f.column : f.rule.literal);
        if (it != L.composers.end()) f.compose = it->second;
      }
    }
    for (const auto& key : L.seekKey) L.keyFieldIndex.push_back(static_cast<int>(L.fieldIndex(key)));
    out.push_back(std::move(L));
  }
  return out;
}

namespace {
struct Registry {
  std::vector<const FamilyDef*> pending;
  std::unordered_map<std::string, Layout> byKind;
  std::vector<std::string> order;
};
Registry seeded(const std::vector<const FamilyDef*>& fams) {
  Registry x;
  for (auto it = fams.rbegin(); it != fams.rend(); ++it) x.pending.push_back(*it);
  return x;
}
Registry& registry(const std::string& source) {
  static std::map<std::string, Registry> sets = [] {
    std::map<std::string, Registry> m;
    m["J"] = seeded(BuiltinFamilies());
    m["V"] = seeded(VanFamilies());
    return m;
  }();
  return sets[source];
}
Registry& compilePending(const std::string& source) {
  auto& r = registry(source);
  while (!r.pending.empty()) {
    const FamilyDef* d = r.pending.back();
    r.pending.pop_back();
    for (auto& L : compileFamily(*d)) {
      r.order.push_back(L.kind);
      r.byKind[L.kind] = std::move(L);
    }
  }
  return r;
}
}  // namespace

void RegisterFamily(const FamilyDef* def, const std::string& source) { registry(source).pending.push_back(def); }

const Layout* FindLayout(const std::string& kind, const std::string& source) {
  auto& r = compilePending(source);
  auto it = r.byKind.find(kind);
  return it == r.byKind.end() ? nullptr : &it->second;
}

const Layout& LayoutFor(const std::string& kind, const std::string& source) {
  const Layout* L = FindLayout(kind, source);
  if (!L) throw VelmoError(err::InvalidArgument, "no record layout for kind " + kind);
  return *L;
}

std::vector<const Layout*> AllLayouts(const std::string& source) {
  auto& r = compilePending(source);
  std::vector<const Layout*> out;
  for (const auto& k : r.order) out.push_back(&r.byKind[k]);
  return out;
}

std::string RaceDateFromPath(const std::string& path) {
  std::string last13 = text::tailChars(path, 13);
  std::string yymmdd = text::midChars(last13, 4, 6);
  // A file whose name carries no race date must not take one from its folder's path.
  bool digits = yymmdd.size() == 6 && FileNamePart(path).size() >= 12;
  for (char c : yymmdd) digits = digits && c >= '0' && c <= '9';
  if (!digits)
    throw VelmoError(err::InvalidArgument, "ファイル名に日付(yymmdd)がありません。[" + FileNamePart(path) + "]");
  return ToYear4Date(yymmdd);
}

void ForEachRecord(const std::string& path, int L, const std::string& raceDate,
                   const std::function<void(const RecordView&)>& fn) {
  // The file is read in blocks of whole records, so memory does not grow with it.
  std::ifstream in(path, std::ios::binary);
  if (!in) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
  in.seekg(0, std::ios::end);
  const size_t len = static_cast<size_t>(in.tellg());
  in.seekg(0, std::ios::beg);
  const size_t rl = static_cast<size_t>(L);
  size_t whole = len / rl;
  size_t frag = len % rl;
  // Rounding to the nearest whole number of records, a half to the even neighbour.
  bool extra = false;
  if (frag * 2 > rl) extra = true;
  else if (frag * 2 == rl) extra = (whole % 2) == 1;
  if (extra && frag + 2 < rl)
    throw VelmoError(err::BadRecordLength, "最後のレコードが途中で切れています（" + std::to_string(frag) + "バイト、レコード長" +
                                               std::to_string(L) + "）[" + FileNamePart(path) + "]");
  if (!extra && frag > 0) {
    const std::string note = "最後の" + std::to_string(frag) + "バイトはレコード長" + std::to_string(L) +
                             "の半分に満たないため読み飛ばしました。[" + FileNamePart(path) + "]";
    WriteLog(ErrObject(0, note), "ForEachRecord", false, true);
    std::fprintf(stderr, "velmo: %s\n", note.c_str());
  }
  const size_t perBlock = std::max<size_t>(1, (4u << 20) / rl);
  std::string block;
  std::string lastPadded;
  for (size_t first = 0; first < whole; first += perBlock) {
    size_t n = std::min(perBlock, whole - first);
    block.resize(n * rl);
    if (!in.read(block.data(), static_cast<std::streamsize>(block.size())))
      throw VelmoError(err::BadRecordLength, "ファイルを読めません。[" + FileNamePart(path) + "]");
    for (size_t j = 0; j < n; ++j) {
      std::string_view rec(block.data() + j * rl, rl);
      size_t i = first + j;
      if (rec[rl - 2] != '\r' || rec[rl - 1] != '\n')
        throw VelmoError(err::BadRecordLength, "レコード長が違います（レコード" + std::to_string(i + 1) + "の末尾が改行ではありません、レコード長" +
                                                   std::to_string(L) + "）[" + FileNamePart(path) + "]");
      fn(RecordView(rec, raceDate, static_cast<long>(i + 1)));
    }
  }
  if (extra) {
    lastPadded.assign(frag, '\0');
    if (!in.read(lastPadded.data(), static_cast<std::streamsize>(frag)))
      throw VelmoError(err::BadRecordLength, "ファイルを読めません。[" + FileNamePart(path) + "]");
    lastPadded.resize(rl - 2, ' ');
    lastPadded += "\r\n";
    fn(RecordView(lastPadded, raceDate, static_cast<long>(whole + 1)));
  }
  if (FileTally* t = ActiveTally())
    t->pass(static_cast<int64_t>(whole + (frag > 0 ? 1 : 0)), static_cast<int64_t>(whole + (extra ? 1 : 0)),
            !extra && frag > 0 ? 1 : 0);
}

long UpsertFile(db::Database& database, const std::string& prefix, const Layout& layout, const std::string& path,
                const UpsertOptions& options, std::string* lastRecord) {
  auto rs = database.openTable(prefix + layout.table);
  rs->setIndex("PrimaryKey");
  // The loop's only writes are the recordset's, which checks each field itself.
  // Entering the scope makes SQLite prepare its statements again, which a file
  // of a few records does not win back.
  std::optional<db::RecordWriteScope> checked;
  {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    if (ec || bytes / static_cast<uintmax_t>(std::max(1, layout.recordLength)) >= 100) checked.emplace(*rs);
  }
  std::vector<int> cols;
  const size_t nFields = layout.fields.size();
  cols.reserve(nFields + options.extraColumns.size());
  for (const auto& f : layout.fields) cols.push_back(rs->columnIndex(f.column));
  for (const auto& c : options.extraColumns) cols.push_back(rs->columnIndex(c));
  if (options.extraAddOnly) rs->setAddOnly(std::vector<int>(cols.begin() + static_cast<long>(nFields), cols.end()));
  std::string raceDate = options.undated ? std::string() : RaceDateFromPath(path);
  long count = 0;
  std::vector<db::Value> values(cols.size());
  std::vector<db::Value> key(layout.keyFieldIndex.size());  // reused: no allocation per record
  // Without a filter a record is added or replaces its row's fields whether or
  // not the row is there: one statement does both.
  const bool direct = !options.filter && options.addMissing;
  const int newer = options.keepNewerBy.empty() ? -1 : rs->columnIndex(options.keepNewerBy);
  size_t newerAt = 0;  // the layout field that writes it
  if (newer >= 0) {
    auto it = std::find(cols.rbegin(), cols.rend(), newer);
    if (it == cols.rend()) throw VelmoError(err::InvalidArgument, options.keepNewerBy + " is not written by layout " + layout.kind);
    newerAt = static_cast<size_t>(cols.rend() - it - 1);
  }
  const bool keyFirst = options.decodedBefore && !options.addMissing;
  int64_t ruleSkips = 0, noRowSkips = 0, olderSkips = 0;  // for the registration record
  // The records may have been decoded ahead, by the same rules, on the thread
  // that unpacks the next archive; the file then is not read again.
  std::unique_ptr<DecodedFile> ahead;
  if (!keyFirst && DecodedFiles::current()) {
    ahead = DecodedFiles::current()->take(path, layout);
    if (ahead && ahead->raceDate != raceDate) ahead.reset();
  }
  auto one = [&](const RecordView& rec) {
    if (keyFirst) {
      for (size_t k = 0; k < key.size(); ++k) key[k] = layout.value(static_cast<size_t>(layout.keyFieldIndex[k]), rec);
      rs->seek(key);
      ++count;
      if (lastRecord) lastRecord->assign(rec.all());
      if (rs->noMatch()) return void(++noRowSkips);
      for (size_t i = 0; i < nFields; ++i) values[i] = layout.value(i, rec);
    } else if (ahead) {
      auto& row = ahead->rows[static_cast<size_t>(rec.number() - 1)];
      for (size_t i = 0; i < nFields; ++i) values[i] = std::move(row[i]);
    } else {
      for (size_t i = 0; i < nFields; ++i) values[i] = layout.value(i, rec);
    }
    if (options.complete) options.complete(rec, values);
    if (direct) {
      ++count;
      if (lastRecord) lastRecord->assign(rec.all());
      rs->upsert(cols, values, newer);
      return;
    }
    if (!keyFirst) {
      for (size_t k = 0; k < key.size(); ++k) key[k] = values[static_cast<size_t>(layout.keyFieldIndex[k])];
      rs->seek(key);
      ++count;
      if (lastRecord) lastRecord->assign(rec.all());
    }
    bool found = !rs->noMatch();
    if (!found && !options.addMissing) return void(++noRowSkips);
    if (options.filter && !options.filter(*rs, found, rec)) return void(++ruleSkips);
    if (found && newer >= 0 &&
        db::toOptText(rs->get(newer)).value_or("") > db::toOptText(values[static_cast<size_t>(newerAt)]).value_or(""))
      return void(++olderSkips);
    if (found) rs->edit();
    else rs->addNew();
    const size_t written = found && options.extraAddOnly ? nFields : cols.size();
    for (size_t i = 0; i < written; ++i) rs->set(cols[i], std::move(values[i]));
    rs->update();
  };
  if (ahead) {
    for (size_t r = 0; r < ahead->rows.size(); ++r) one(RecordView(ahead->record(r), raceDate, static_cast<long>(r + 1)));
    // Decoded ahead only when every record was whole.
    const auto n = static_cast<int64_t>(ahead->rows.size());
    if (FileTally* t = ActiveTally()) t->pass(n, n, 0);
  } else {
    ForEachRecord(path, layout.recordLength, raceDate, one);
  }
  if (FileTally* t = ActiveTally()) t->skips(ruleSkips, noRowSkips, olderSkips);
  if (lastRecord && count == 0) lastRecord->clear();
  return count;
}

}  // namespace velmo::reg
