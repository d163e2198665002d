#include "van/regvan.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>

#include "common/error.h"
#include "common/func.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "registration/regkova.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/recordwritescope.h"

namespace velmo {

namespace {

using reg::RecordView;
using db::Value;

const reg::Layout& layout(const char* kind) { return reg::LayoutFor(kind, "V"); }

// A field of a layout by name, resolved once per file.
struct Fld {
  int off = 0, len = 0;
  Fld(const reg::Layout& l, const char* name) {
    for (const auto& f : l.fields)
      if (f.column == name) {
        off = f.offset;
        len = f.length;
        return;
      }
    throw VelmoError(err::InvalidArgument, std::string("no field ") + name + " in layout " + l.kind);
  }
  std::string operator()(const RecordView& r) const { return r.raw(off, len); }
};

// The records of a JRA-VAN file; an error of a record names the file.
void eachRecord(const std::string& path, const reg::Layout& l, const std::function<void(const RecordView&)>& fn) {
  static const std::string noDate;
  try {
    reg::ForEachRecord(path, l.recordLength, noDate, fn);
  } catch (const VelmoError& e) {
    std::string name = FileNamePart(path);
    if (e.description().find(name) != std::string::npos) throw;
    throw VelmoError(e.number(), e.description() + "[" + name + "]", e.source());
  }
}

// The stop rules of a results file: the message of a race that may not be
// registered (it ends the file there), or null.
const char* resultStop(const std::string& raceKey) {
  std::string course = raceKey.substr(8, 2);
  if (course < "01" || course > "10") return "ＪＲＡ以外のデータは登録できません。";
  if (raceKey < "1992") return "1992年以前のデータは登録できません。";
  return nullptr;
}

std::string raceKeyOf(const RecordView& rec, const Fld& f);

// True when a record of the results file stops it. A record that is not
// readable ends the file with an error before any stop, so it counts as none
// (the file's rows are then rolled back anyway).
bool resultsFileStops(const std::string& path, const reg::Layout& l, const Fld& fKey) {
  bool stops = false, unreadable = false;
  try {
    eachRecord(path, l, [&](const RecordView& rec) {
      if (stops || unreadable) return;
      try {
        stops = resultStop(raceKeyOf(rec, fKey)) != nullptr;
      } catch (const std::exception&) {
        unreadable = true;
      }
    });
  } catch (const std::exception&) {
  }
  return stops;
}

// Entry i of a record: the bytes of the repeated group, read with its own layout.
RecordView entryOf(const RecordView& rec, int base, int i, const reg::Layout& entry) {
  std::string_view all = rec.all();
  size_t off = static_cast<size_t>(base + entry.recordLength * i);
  std::string_view part = off < all.size() ? all.substr(off, static_cast<size_t>(entry.recordLength)) : std::string_view();
  return RecordView(part, rec.raceDate(), rec.number());
}

bool isDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The race key of a record; a key whose first eight characters are no date is an error.
std::string raceKeyOf(const RecordView& rec, const Fld& f) {
  std::string key = f(rec);
  std::string date = key.substr(0, 8);
  bool ok = isDigits(date);
  if (ok) {
    int m = std::atoi(date.substr(4, 2).c_str()), d = std::atoi(date.substr(6, 2).c_str());
    ok = m >= 1 && m <= 12 && d >= 1 && d <= 31;
  }
  if (!ok)
    throw VelmoError(err::ConversionError, "レースキーの年月日が日付ではありません（レコード" + std::to_string(rec.number()) +
                                               "、レースキー「" + key + "」）");
  return key;
}

Value nullIf(const std::string& raw, const char* empty) {
  if (raw == empty) return std::monostate{};
  return raw;
}

// Runners of a record: the numeric value of the two-byte field; blanks give none.
int runnerCount(const RecordView& rec, const Fld& f) {
  double n = reg::readNumber(f(rec));
  if (n > 18)
    throw VelmoError(err::TooManyFiles, "インデックスが有効範囲にありません。(頭数" + text::formatNumber(n) + "、レコード" +
                                            std::to_string(rec.number()) + ")");
  return n < 0 ? 0 : static_cast<int>(n);
}

// Time "mSSS" (minutes, then seconds in tenths) in tenths of a second.
long tenths(const std::string& t) {
  return static_cast<long>(reg::readNumber(t.substr(0, 1))) * 600 + static_cast<long>(reg::readNumber(t.substr(1, 3)));
}

std::string timeDifference(const std::string& a, const std::string& b) {
  long d = std::labs(tenths(a) - tenths(b));
  if (d > 999) d = 999;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03ld", d);
  return buf;
}

// A table-type recordset whose columns are resolved once; put() seeks the key
// and adds or edits the row, then sets the columns in the order given.
class Rows {
 public:
  Rows(db::Database& database, const std::string& table, const std::vector<const char*>& columns, bool keyed = true)
      : rs_(database.openTable(table)) {
    if (keyed) rs_->setIndex("PrimaryKey");
    for (const char* c : columns) idx_.push_back(rs_->columnIndex(c));
    // Where each key field stands among the columns set.
    for (size_t f : rs_->indexFields()) {
      auto it = std::find(idx_.begin(), idx_.end(), static_cast<int>(f));
      keyAt_.push_back(it == idx_.end() ? SIZE_MAX : static_cast<size_t>(it - idx_.begin()));
    }
  }
  void put(const std::vector<Value>& key, std::vector<Value>& values) {
    // The key among the values set: one statement adds or edits the row.
    bool direct = !keyAt_.empty() && key.size() == keyAt_.size();
    for (size_t j = 0; direct && j < keyAt_.size(); ++j) direct = keyAt_[j] < values.size() && values[keyAt_[j]] == key[j];
    if (direct) {
      rs_->upsert(idx_, values);
      return;
    }
    rs_->seek(key);
    if (rs_->noMatch()) rs_->addNew();
    else rs_->edit();
    set(values);
  }
  void add(std::vector<Value>& values) {
    rs_->addNew();
    set(values);
  }
  db::Recordset& rs() { return *rs_; }
  const db::Recordset& rs() const { return *rs_; }

 private:
  void set(std::vector<Value>& values) {
    for (size_t i = 0; i < idx_.size(); ++i) rs_->set(idx_[i], std::move(values[i]));
    rs_->update();
  }
  std::unique_ptr<db::Recordset> rs_;
  std::vector<int> idx_;
  std::vector<size_t> keyAt_;
};

// A reader's writing loop: when every recordset it writes through checks its
// fields itself, SQLite's per-column checks are left out for the loop. The loop
// may run statements that read, never one that writes.
class WriteScope {
 public:
  WriteScope(std::initializer_list<const Rows*> rows) {
    for (const Rows* r : rows)
      if (!r->rs().checksItself()) return;
    scope_.emplace((*rows.begin())->rs());
  }

 private:
  std::optional<db::RecordWriteScope> scope_;
};

std::string abnormality(const std::string& c) {
  static const std::map<std::string, std::string> m = {{"1", "1"}, {"2", "2"}, {"3", "2"}, {"4", "3"},
                                                        {"5", "4"}, {"6", "6"}, {"7", "5"}};
  auto it = m.find(c);
  return it == m.end() ? std::string() : it->second;
}

}  // namespace

RegVAN::~RegVAN() {
  if (m_DB) m_DB->close();
  if (m_Code) m_Code->close();
}

db::Database& RegVAN::db() const {
  if (!m_DB || !m_DB->isOpen()) throw VelmoError(91, "オブジェクト変数または With ブロック変数が設定されていません。(データベース未接続)");
  return *m_DB;
}

void RegVAN::conDB(const std::string& strDBpath) { m_DB = OpenModeDatabase(strDBpath, strMode); }

void RegVAN::clsDB() {
  if (m_DB) m_DB->close();
  m_DB.reset();
}

void RegVAN::opnHen(const std::string& strDBpath) {
  if (m_Code && m_Code->isOpen()) return;  // open until the object is released
  db::DatabasePtr d;
  if (!DAO_Open(d, strDBpath + "kova_code.mdb") || !d)
    throw VelmoError(err::CannotOpen, "コード変換データベースを開けません。[" + strDBpath + "kova_code.mdb]");
  m_Code = d;
  hen_.clear();
  // The whole table is small: one read, then every lookup is in memory. One
  // query, in the order of the primary key: a recordset walk outside a
  // transaction would lock the file once per row.
  auto q = m_Code->openQuery("SELECT 種類, Jravan, Kova FROM CJRAコード変換 ORDER BY 種類, Jravan;");
  for (q->moveFirst(); !q->eof(); q->moveNext())
    hen_[db::toText(q->get(0)) + '\t' + db::toText(q->get(1))] = db::toText(q->get(2));
}

const std::string& RegVAN::getHenCD(const std::string& kind, const std::string& code) {
  static const std::string none;
  if (!m_Code) throw VelmoError(91, "オブジェクト変数または With ブロック変数が設定されていません。(コード変換テーブル未接続)");
  auto it = hen_.find(kind + '\t' + code);
  if (it != hen_.end()) return it->second;
  if (missingLogged_.insert(kind + '\t' + code).second)
    WriteLog(ErrObject(0, "CJRAコード変換にないコードです[" + kind + ":" + code + "][" + FileNamePart(file_) + "]"), "getHenCD",
             false, true);
  return none;
}

void RegVAN::lnkHen(const std::string& strDBpath) {
  if (strMode != "D" || !m_DB) return;
  try {
    for (const char* t : {"S騎手コード変換", "S調教師コード変換"})
      ConnectOutput(m_DB, t, ";DATABASE=" + strDBpath + "kova_this.mdb", t);
  } catch (const std::exception&) {
    // Never raises: the key updates then find no conversion table.
  }
}

void RegVAN::lnkHenDel() {
  if (strMode != "D") return;
  db().deleteTable("S騎手コード変換");
  db().deleteTable("S調教師コード変換");
}

void RegVAN::beginFile(const std::string& path) {
  file_ = path;
  missingLogged_.clear();
}

std::string RegVAN::mkRaceKey(const std::string& k) {
  return text::midChars(k, 9, 2) + text::midChars(k, 3, 2) + text::midChars(k, 12, 1) + text::midChars(k, 14, 1) +
         text::midChars(k, 15, 2);
}

int RegVAN::regVSEItoSE(const std::string& strFile) {
  beginFile(strFile);
  const auto& R = layout("JracSei1.dat");
  const auto& E = layout("JracSei1.dat#runner");
  const Fld fKey(R, "race_key"), fName(R, "race_name"), fShort(R, "short_name"), fGrade(R, "grade"),
      fKind(R, "race_kind"), fSymbol(R, "symbol"), fWeight(R, "weight_rule"), fCond(R, "condition"),
      fDist(R, "distance"), fTrack(R, "track"), fRunners(R, "runners"), fGoing(R, "going");
  const Fld eNo(E, "horse_no"), eReg(E, "reg_no"), eName(E, "horse_name"), eCarried(E, "carried_weight"),
      eJCode(E, "jockey_code"), eJName(E, "jockey_name"), eTCode(E, "trainer_code"), eTName(E, "trainer_name"),
      eAbn(E, "abnormality"), eBody(E, "body_weight"), eChange(E, "body_change"), eC1(E, "corner1"),
      eC2(E, "corner2"), eC3(E, "corner3"), eC4(E, "corner4"), e3f(E, "last3f"), eTime(E, "time"),
      ePos(E, "position"), ePop(E, "popularity"), eOdds(E, "win_odds");
  Rows out(db(), strMode + "成績データ",
           {"競走成績キー", "レースキー", "馬番", "血統登録番号", "年月日", "馬名", "距離", "芝ダ障害コード", "右左", "内外",
            "馬場状態", "種別", "条件", "記号A", "記号B", "記号C", "重量", "グレード", "レース名", "頭数", "レース名略称",
            "着順", "異常区分", "タイム", "斤量", "騎手名", "調教師名", "確定単勝オッズ", "確定単勝人気順位", "1(2)着馬名",
            "1(2)着タイム差", "後３Ｆ", "コーナー順位1", "コーナー順位2", "コーナー順位3", "コーナー順位4", "騎手コード",
            "調教師コード", "馬体重", "増減", "データID"});
  readConversions(strMode + "成績データ");
  // A file that stops at a record never gets its key update, so the rows before
  // the stop keep the file's codes and names: no conversion while writing them.
  if ((jockeys_.usable || trainers_.usable) && resultsFileStops(strFile, R, fKey)) jockeys_.usable = trainers_.usable = false;
  const int base = 724;
  int result = 0;
  std::string lastKey;
  std::vector<Value> values, key(1);
  WriteScope checked{&out};
  eachRecord(strFile, R, [&](const RecordView& rec) {
    if (result) return;
    std::string rk = raceKeyOf(rec, fKey);
    if (const char* stop = resultStop(rk)) {
      MsgBox(stop, vbOKOnly);
      result = -1;
      return;
    }
    lastKey = rk;
    int n = runnerCount(rec, fRunners);
    // The race's values, the same in every runner's row.
    std::string date = rk.substr(0, 8), raceKey = mkRaceKey(rk);
    const std::string& t = getHenCD("トラ", fTrack(rec));
    const std::string& s = getHenCD("記号", fSymbol(rec));
    std::string runners = fRunners(rec);
    Value heads = runners == "  " ? Value{} : Value{reg::readNumber(runners)};
    std::string going = fGoing(rec) + "0";
    const std::string& kind = getHenCD("種別", fKind(rec));
    const std::string& cond = getHenCD("条件", fCond(rec));
    const std::string& grade = getHenCD("グレ", fGrade(rec));
    std::string raceName = text::trimBlanks(text::headChars(fName(rec), 50));
    std::string shortName = text::trimBlanks(fShort(rec));
    std::string dist = fDist(rec), weightRule = fWeight(rec);
    // The winner W (the first placed "01") and the runner-up R (the last placed
    // "02", or a second "01" after W, whichever comes later).
    int W = -1, Rn = -1;
    for (int i = 0; i < n; ++i) {
      std::string pos = ePos(entryOf(rec, base, i, E));
      if (pos == "01" && W < 0) W = i;
      else if (pos == "02" || (pos == "01" && W >= 0)) Rn = i;
    }
    std::string wName, rName, wTime, rTime;
    if (W >= 0) {
      RecordView w = entryOf(rec, base, W, E);
      wName = text::headChars(eName(w), 6);
      wTime = eTime(w);
    }
    if (Rn >= 0) {
      RecordView r = entryOf(rec, base, Rn, E);
      rName = text::headChars(eName(r), 6);
      rTime = eTime(r);
    }
    for (int i = 0; i < n; ++i) {
      RecordView e = entryOf(rec, base, i, E);
      std::string reg = eReg(e), pos = ePos(e), time = eTime(e), odds = eOdds(e), pop = ePop(e);
      std::string reg8 = text::tailChars(reg, 8);
      bool winner = pos == "01";
      // The other placed horse: the runner-up for a winner, the winner for the rest.
      bool haveOther = winner ? Rn >= 0 : W >= 0;
      const std::string& otherName = winner ? rName : wName;
      const std::string& otherTime = winner ? rTime : wTime;
      Value diff = time == "0000" ? Value{std::string("   ")} : haveOther ? Value{timeDifference(time, otherTime)} : Value{};
      std::string abn = abnormality(eAbn(e));
      std::string jCode = eJCode(e), jName = text::trimBlanks(text::headChars(eJName(e), 3));
      std::string tCode = eTCode(e), tName = text::trimBlanks(text::headChars(eTName(e), 3));
      jockeys_.apply(jCode, jName);
      trainers_.apply(tCode, tName);
      values = {reg8 + date,
                raceKey,
                eNo(e),
                reg8,
                date,
                text::trimBlanks(eName(e)),
                dist,
                text::midChars(t, 1, 1),
                text::midChars(t, 2, 1),
                text::midChars(t, 3, 1),
                going,
                kind,
                cond,
                text::midChars(s, 1, 1),
                text::midChars(s, 2, 1),
                text::midChars(s, 3, 1),
                weightRule,
                grade,
                raceName,
                heads,
                shortName,
                pos,
                abn.empty() ? Value{} : Value{abn},
                time,
                eCarried(e),
                jName,
                tName,
                odds == "0000" ? Value{} : Value{text::formatNumber(reg::readNumber(odds) / 10)},
                nullIf(pop, "00"),
                haveOther ? Value{otherName} : Value{},
                diff,
                nullIf(e3f(e), "000"),
                eC1(e),
                eC2(e),
                eC3(e),
                eC4(e),
                jCode,
                tCode,
                nullIf(eBody(e), "000"),
                nullIf(eChange(e), "   "),
                std::string("SE_V")};
      key[0] = reg8 + date;
      out.put(key, values);
    }
  });
  if (result == 0 && !lastKey.empty()) {
    strDataID = "SE_V";
    g_Nengappi = lastKey.substr(0, 8);
    strStatus.clear();
  }
  return result;
}

namespace {
// The payout slots of a layout: its fields named after a column of "払戻情報データ".
void payoutsToHJ(db::Database& database, const std::string& prefix, const reg::Layout& L, const std::string& file,
                 std::string& lastKey) {
  const Fld fKey(L, "race_key");
  std::vector<size_t> slots;
  std::vector<const char*> cols = {"レースキー", "データID"};
  for (size_t i = 0; i < L.fields.size(); ++i)
    if (L.fields[i].rule.kind == reg::RuleKind::BlankNull) {
      slots.push_back(i);
      cols.push_back(L.fields[i].column.c_str());
    }
  Rows out(database, prefix + "払戻情報データ", cols);
  std::vector<Value> values, key(1);
  WriteScope checked{&out};
  eachRecord(file, L, [&](const RecordView& rec) {
    std::string rk = raceKeyOf(rec, fKey);
    lastKey = rk;
    key[0] = RegVAN::mkRaceKey(rk);
    values.clear();
    values.push_back(key[0]);
    values.push_back(std::string("HJ_V"));
    for (size_t i : slots) values.push_back(L.value(i, rec));
    out.put(key, values);
  });
}
}  // namespace

// Both payout files fill the same table through their own layout.
void RegVAN::payoutsFrom(const char* kind, const std::string& strFile) {
  beginFile(strFile);
  std::string lastKey;
  payoutsToHJ(db(), strMode, layout(kind), strFile, lastKey);
  if (!lastKey.empty()) {
    strDataID = "HJ_V";
    g_Nengappi = lastKey.substr(0, 8);
    strStatus.clear();
  }
}

void RegVAN::regVSEItoHJ(const std::string& strFile) { payoutsFrom("JracSei1.dat", strFile); }

void RegVAN::regVSEHtoHJ(const std::string& strFile) { payoutsFrom("JracSeih.dat", strFile); }

int RegVAN::regVDENtoBA(const std::string& strFile) {
  beginFile(strFile);
  const auto& R = layout("JracDen1.dat");
  const Fld fKey(R, "race_key"), fName(R, "race_name"), fEdition(R, "edition"), fGrade(R, "grade"),
      fKind(R, "race_kind"), fSymbol(R, "symbol"), fWeight(R, "weight_rule"), fCond(R, "condition"),
      fDist(R, "distance"), fTrack(R, "track"), fPost(R, "post_time"), fRunners(R, "runners");
  Rows out(db(), strMode + "番組データ",
           {"レースキー", "年月日", "発走時間", "距離", "芝ダ障害コード", "右左", "内外", "種別", "条件", "記号A", "記号B",
            "記号C", "重量", "グレード", "レース名", "回数", "頭数"});
  int result = 0;
  std::string lastKey;
  std::vector<Value> values, key(1);
  WriteScope checked{&out};
  eachRecord(strFile, R, [&](const RecordView& rec) {
    if (result) return;
    std::string rk = raceKeyOf(rec, fKey);
    if (rk < "1992") {
      MsgBox("1992年以前のデータは登録できません。", vbOKOnly);
      result = -1;
      return;
    }
    lastKey = rk;
    const std::string& t = getHenCD("トラ", fTrack(rec));
    const std::string& s = getHenCD("記号", fSymbol(rec));
    std::string gradeCode = fGrade(rec), runners = fRunners(rec);
    key[0] = mkRaceKey(rk);
    values = {key[0],
              rk.substr(0, 8),
              fPost(rec),
              fDist(rec),
              text::midChars(t, 1, 1),
              text::midChars(t, 2, 1),
              text::midChars(t, 3, 1),
              getHenCD("種別", fKind(rec)),
              getHenCD("条件", fCond(rec)),
              text::midChars(s, 1, 1),
              text::midChars(s, 2, 1),
              text::midChars(s, 3, 1),
              fWeight(rec),
              gradeCode == " " ? std::string(" ") : getHenCD("グレ", gradeCode),
              text::headChars(fName(rec), 50),
              fEdition(rec),
              // The count goes into a text column as its digits.
              runners == "  " ? Value{} : Value{text::formatNumber(reg::readNumber(runners))}};
    out.put(key, values);
  });
  if (result == 0 && !lastKey.empty()) {
    strDataID = "BA_V";
    g_Nengappi = lastKey.substr(0, 8);
    strStatus.clear();
  }
  return result;
}

void RegVAN::regVDENtoKY(const std::string& strFile) {
  beginFile(strFile);
  const auto& R = layout("JracDen1.dat");
  const auto& E = layout("JracDen1.dat#runner");
  const Fld fKey(R, "race_key"), fTrack(R, "track"), fRunners(R, "runners");
  const Fld eNo(E, "horse_no"), eBracket(E, "bracket"), eReg(E, "reg_no"), eName(E, "horse_name"),
      eCarried(E, "carried_weight"), eBlinker(E, "blinker"), eJCode(E, "jockey_code"), eJName(E, "jockey_name"),
      eApp(E, "apprentice"), eTCode(E, "trainer_code"), eTName(E, "trainer_name");
  Rows out(db(), strMode + "競走馬データ",
           {"データID", "レースキー", "馬番", "血統登録番号", "競走成績キー", "馬名", "ブリンカー", "騎手名", "負担重量",
            "見習い区分", "調教師名", "枠番", "騎手コード", "調教師コード"});
  readConversions(strMode + "競走馬データ");
  db().execute("delete from W出走馬 ;");
  Rows work(db(), "W出走馬", {"レースキー", "馬番", "血統登録番号", "障害フラグ"}, false);
  const int base = 327;
  std::string lastKey;
  std::vector<Value> values, key(2), w;
  WriteScope checked{&out, &work};
  eachRecord(strFile, R, [&](const RecordView& rec) {
    std::string rk = raceKeyOf(rec, fKey);
    lastKey = rk;
    int n = runnerCount(rec, fRunners);
    std::string raceKey = mkRaceKey(rk), date = rk.substr(0, 8);
    std::string jump = fTrack(rec) > "50" ? "1" : "0";
    for (int j = 0; j < n; ++j) {
      RecordView e = entryOf(rec, base, j, E);
      std::string no = eNo(e), reg8 = text::tailChars(eReg(e), 8);
      std::string jCode = eJCode(e), jName = text::trimBlanks(eJName(e));
      std::string tCode = eTCode(e), tName = text::trimBlanks(eTName(e));
      jockeys_.apply(jCode, jName);
      trainers_.apply(tCode, tName);
      key[0] = raceKey;
      key[1] = no;
      values = {std::string("KY_V"),
                raceKey,
                no,
                reg8,
                reg8 + date,
                text::trimBlanks(eName(e)),
                std::string(eBlinker(e) == "1" ? "3" : "0"),
                jName,
                eCarried(e),
                eApp(e),
                tName,
                eBracket(e),
                jCode,
                tCode};
      out.put(key, values);
      w = {raceKey, no, reg8, jump};
      work.add(w);
    }
  });
  strDataID = "KY_V";
  if (!lastKey.empty()) g_Nengappi = lastKey.substr(0, 8);
  strStatus.clear();
}

void RegVAN::regVUMAtoUK(const std::string& strFile) {
  beginFile(strFile);
  const auto& R = layout("JracUmaj.dat");
  const Fld fReg(R, "reg_no"), fName(R, "horse_name"), fBirth(R, "birth_date"), fSex(R, "sex"), fCoat(R, "coat"),
      fSymbol(R, "horse_symbol"), fSire(R, "sire"), fDam(R, "dam"), fDamSire(R, "dam_sire"), fBreeder(R, "breeder"),
      fOwner(R, "owner");
  Rows out(db(), strMode + "馬基本データ",
           {"血統登録番号", "馬名", "性別コード", "毛色コード", "馬記号コード", "父馬名", "母馬名", "母父馬名", "生年月日",
            "馬主名", "生産者名"});
  std::vector<Value> values, key(1);
  WriteScope checked{&out};
  eachRecord(strFile, R, [&](const RecordView& rec) {
    key[0] = text::tailChars(fReg(rec), 8);
    values = {key[0],
              text::trimBlanks(fName(rec)),
              fSex(rec),
              fCoat(rec),
              fSymbol(rec),
              text::trimBlanks(fSire(rec)),
              text::trimBlanks(fDam(rec)),
              text::trimBlanks(fDamSire(rec)),
              fBirth(rec),
              text::trimBlanks(fOwner(rec)),
              text::trimBlanks(fBreeder(rec))};
    out.put(key, values);
  });
}

void RegVAN::regVUMAtoKY(const std::string& strFile) {
  beginFile(strFile);
  const auto& R = layout("JracUmaj.dat");
  const Fld fReg(R, "reg_no"), fSex(R, "sex"), fSymbol(R, "horse_symbol"), fOwner(R, "owner"), fPrize1(R, "prize1"),
      fPrize2(R, "prize2"), fFlat(R, "earnings_flat"), fJump(R, "earnings_jump");
  const std::string P = strMode;
  // The runners of the last race card, by registration number.
  struct Runner {
    std::string raceKey, no, jump;
  };
  std::multimap<std::string, Runner> runners;
  {
    auto q = db().openQuery("SELECT W出走馬.血統登録番号, W出走馬.レースキー, W出走馬.馬番, 障害フラグ FROM W出走馬 INNER JOIN " +
                            P + "競走馬データ ON (W出走馬.馬番 = " + P + "競走馬データ.馬番) AND (W出走馬.レースキー = " + P +
                            "競走馬データ.レースキー);");
    for (q->moveFirst(); !q->eof(); q->moveNext())
      runners.emplace(db::toText(q->get(0)), Runner{db::toText(q->get(1)), db::toText(q->get(2)), db::toText(q->get(3))});
  }
  if (runners.empty()) return;
  Rows out(db(), P + "競走馬データ", {});
  std::vector<int> idx;
  for (const char* c : {"性別コード", "馬記号コード", "馬主名", "獲得賞金", "収得賞金"}) idx.push_back(out.rs().columnIndex(c));
  std::vector<Value> values, key(2);
  WriteScope checked{&out};
  eachRecord(strFile, R, [&](const RecordView& rec) {
    auto range = runners.equal_range(text::tailChars(fReg(rec), 8));
    for (auto it = range.first; it != range.second; ++it) {
      key[0] = it->second.raceKey;
      key[1] = it->second.no;
      out.rs().seek(key);
      if (out.rs().noMatch()) continue;
      out.rs().edit();
      values = {fSex(rec), fSymbol(rec), text::trimBlanks(fOwner(rec)),
                text::formatNumber(reg::readNumber(fPrize1(rec)) + reg::readNumber(fPrize2(rec))),
                it->second.jump == "1" ? fJump(rec) : fFlat(rec)};
      for (size_t i = 0; i < values.size(); ++i) out.rs().set(idx[i], std::move(values[i]));
      out.rs().update();
    }
  });
}

void RegVAN::regItiran() {
  if (g_Nengappi.empty()) return;  // nothing converted yet: no row without a date
  auto rs = db().openTable(strMode + "データ一覧テーブル");
  rs->setIndex("PrimaryKey");
  rs->seek({g_Nengappi});
  if (rs->noMatch()) rs->addNew();
  else rs->edit();
  rs->set("年月日", g_Nengappi);
  if (strDataID == "KY_V") rs->set("KOVAデータ", std::string("KY_V"));
  else if (strDataID == "HJ_V") rs->set("払戻情報データ", std::string("HJ_V"));
  else if (strDataID == "SE_V") rs->set("成績データ", "SE_V" + strStatus);
  rs->update();
}

// True when the conversion table certainly has no rows: the key update's inner
// join then matches nothing. A table that cannot be read (a link that failed)
// counts as not empty, so that the update runs and reports the failure itself.
bool RegVAN::convEmpty(const std::string& table) {
  try {
    auto q = db().openQuery("SELECT TOP 1 Jravan FROM " + table + ";");
    q->moveFirst();
    return q->eof();
  } catch (const std::exception&) {
    return false;
  }
}

// The key update run after a file ("UPDATE X INNER JOIN S…コード変換 … WHERE
// X.…コード < '10000'") rewrites every row just written whose JRA-VAN code has a
// conversion row. Writing the row with the converted values in the first place
// saves that second write; the update still runs and then has nothing left to
// change in these rows. A code is converted here only where the outcome is
// certainly the update's own:
// - mode "T" only: the conversion tables are tables of the same database and
//   transaction (in mode "D" they are linked in later, and the link may fail);
// - every row of the conversion table was read, Kova and the name as text or
//   Null, and every value fits the columns it would be written to (else the
//   update might fail, and then converts nothing);
// - the new code is not itself a code the update would convert again (a code
//   below '10000' with a conversion row of its own): the update converts once
//   per run, so such a row stays with the update.
void RegVAN::readConversions(const std::string& X) {
  for (const std::string I : {"騎手", "調教師"}) {
    Conversions& c = I == "騎手" ? jockeys_ : trainers_;
    c.usable = false;
    c.byJravan.clear();
    if (strMode != "T") continue;
    try {
      size_t codeSize = 0, nameSize = 0;
      for (const auto& f : db().fields(X)) {
        if (f.name == I + "コード") codeSize = f.size > 0 ? static_cast<size_t>(f.size) : 255;
        if (f.name == I + "名") nameSize = f.size > 0 ? static_cast<size_t>(f.size) : 255;
      }
      if (!codeSize || !nameSize) continue;
      auto q = db().openQuery("SELECT Jravan, Kova, " + I + "名 FROM S" + I + "コード変換;");
      bool ok = true;
      for (q->moveFirst(); ok && !q->eof(); q->moveNext()) {
        Value jra = q->get(0), kova = q->get(1), name = q->get(2);
        auto isTextOrNull = [](const Value& v) {
          return std::holds_alternative<std::string>(v) || std::holds_alternative<std::monostate>(v);
        };
        if (!std::holds_alternative<std::string>(jra) || !isTextOrNull(kova) || !isTextOrNull(name)) {
          ok = false;
          break;
        }
        const std::string& j = std::get<std::string>(jra);
        std::string k = db::toText(kova), n = db::toText(name);
        Conversion conv{k.empty() ? j : k, n.empty() ? std::nullopt : std::optional<std::string>(n)};
        if (text::charCount(conv.code) > codeSize || (conv.name && text::charCount(*conv.name) > nameSize)) ok = false;
        else c.byJravan.emplace(j, std::move(conv));
      }
      if (!ok) {
        c.byJravan.clear();
        continue;
      }
      for (auto it = c.byJravan.begin(); it != c.byJravan.end();) {
        const std::string& to = it->second.code;
        if (to != it->first && to < "10000" && c.byJravan.count(to)) it = c.byJravan.erase(it);
        else ++it;
      }
      c.usable = true;
    } catch (const std::exception&) {
      c.byJravan.clear();
    }
  }
}

void RegVAN::Conversions::apply(std::string& code, std::string& name) const {
  if (!usable || !(code < "10000")) return;
  auto it = byJravan.find(code);
  if (it == byJravan.end()) return;
  code = it->second.code;
  if (it->second.name) name = *it->second.name;
}

bool RegVAN::upKey(const std::string& X) {
  bool ok = true;
  for (const std::string I : {"騎手", "調教師"}) {
    if (convEmpty("S" + I + "コード変換")) continue;
    std::string sql = "UPDATE " + X + " INNER JOIN S" + I + "コード変換 ON " + X + "." + I + "コード = S" + I +
                      "コード変換.jravan " + " SET " + X + "." + I + "コード = iif([kova]<>'',[kova],[jravan]), " + "     " +
                      X + "." + I + "名 = iif([S" + I + "コード変換].[" + I + "名]<>'',[S" + I + "コード変換].[" + I +
                      "名],[" + X + "].[" + I + "名]) " + " WHERE (((" + X + "." + I + "コード) <'10000'));";
    ok = DAO_Exec(m_DB, sql) && ok;  // retries and logs a failure itself
  }
  return ok;
}

bool RegVAN::upKYKey() {
  if (strMode != "T" && strMode != "D") return true;
  db();
  return upKey(strMode + "競走馬データ");
}

bool RegVAN::upSEKey() {
  if (strMode != "T" && strMode != "D") return true;
  db();
  return upKey(strMode + "成績データ");
}

}  // namespace velmo
