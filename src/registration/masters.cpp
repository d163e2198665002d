// Jockey and trainer master files (KZA/KSA -> 騎手マスタ, CZA/CSA -> 調教師マスタ,
// 272-byte records, this week's database only) and the code conversion lists
// datachgKZ.txt / datachgCZ.txt that map JRA-VAN codes to the provider's codes.
#include <deque>

#include "common/error.h"
#include "registration/families.h"
#include "registration/regkova.h"
#include "startup/platform/daofunc.h"

namespace velmo {

namespace reg {

namespace {

const char* keep(std::string name) {
  static std::deque<std::string> names;
  names.push_back(std::move(name));
  return names.back().c_str();
}

// A count group: four counts of `width` characters (1st, 2nd, 3rd, other places),
// each written blank-null to prefix + "1着数", "2着数", "3着数", "着外数".
void countGroup(std::vector<FieldRow>& rows, int offset, int width, const std::string& prefix) {
  static const char* const suffixes[] = {"1着数", "2着数", "3着数", "着外数"};
  for (int i = 0; i < 4; ++i) rows.push_back({offset + i * width, width, keep(prefix + suffixes[i]), {"blank-null"}});
}

// The statistics from "本年リーディング" on; `at` is its offset.
void statistics(std::vector<FieldRow>& rows, int at) {
  rows.push_back({at, 3, "本年リーディング", {"blank-null"}});
  countGroup(rows, at + 3, 3, "本年平地");
  countGroup(rows, at + 15, 3, "本年障害");
  rows.push_back({at + 27, 3, "本年特別勝数", {"blank-null"}});
  rows.push_back({at + 30, 3, "本年重賞勝数", {"blank-null"}});
  rows.push_back({at + 33, 3, "昨年リーディング", {"blank-null"}});
  countGroup(rows, at + 36, 3, "昨年平地");
  countGroup(rows, at + 48, 3, "昨年障害");
  rows.push_back({at + 60, 3, "昨年特別勝数", {"blank-null"}});
  rows.push_back({at + 63, 3, "昨年重賞勝数", {"blank-null"}});
  countGroup(rows, at + 66, 5, "通算平地");
  countGroup(rows, at + 86, 5, "通算障害");
  rows.push_back({at + 106, 8, "データ年月日", {"text"}});
}

std::vector<FieldRow> personRows(const std::string& item, bool jockey) {
  std::vector<FieldRow> rows = {
      {0, 5, keep(item + "コード"), {"text"}},
      {5, 1, "登録抹消フラグ", {"text"}},
      {6, 8, "登録抹消年月日", {"text"}},
      {14, 12, keep(item + "名"), {"trim head 6"}},
      {26, 30, keep(item + "カナ"), {"trim head 15"}},
      {56, 6, keep(item + "名略称"), {"head 3"}},
      {62, 1, "所属コード", {"text"}},
      {63, 4, "所属地域名", {"trim head 2"}},
      {67, 8, "生年月日", {"text"}},
      {75, 4, "初免許年", {"text"}},
  };
  int at = 79;
  if (jockey) {
    rows.push_back({79, 1, "見習い区分", {"text"}});
    rows.push_back({80, 5, "所属厩舎", {"text"}});
    at = 85;
  }
  rows.push_back({at, 40, keep(item + "コメント"), {"head 20"}});
  rows.push_back({at + 40, 8, "コメント入力年月日", {"text"}});
  statistics(rows, at + 48);
  return rows;
}

}  // namespace

const FamilyDef& JockeyFamily() {
  static const FamilyDef def{"騎手マスタ", {"騎手コード"}, {{"KZA", 272, {}, false}}, personRows("騎手", true), {}};
  return def;
}

const FamilyDef& TrainerFamily() {
  static const FamilyDef def{"調教師マスタ", {"調教師コード"}, {{"CZA", 272, {}, false}}, personRows("調教師", false), {}};
  return def;
}

// The 12-byte conversion records: the provider's code, then the JRA-VAN code.
// Their kinds are named after the lists: "CHGKZ" (datachgKZ.txt), "CHGCZ" (datachgCZ.txt).
const FamilyDef& JockeyCodeFamily() {
  static const FamilyDef def{"S騎手コード変換",
                             {"Jravan"},
                             {{"CHGKZ", 12, {}, false}},
                             {{5, 5, "Jravan", {"text"}}, {0, 5, "Kova", {"text"}}},
                             {}};
  return def;
}

const FamilyDef& TrainerCodeFamily() {
  static const FamilyDef def{"S調教師コード変換",
                             {"Jravan"},
                             {{"CHGCZ", 12, {}, false}},
                             {{5, 5, "Jravan", {"text"}}, {0, 5, "Kova", {"text"}}},
                             {}};
  return def;
}

}  // namespace reg

void RegKOVA::regKZA(const std::string& strFile) { reg::UpsertFile(db(), strMode, reg::LayoutFor("KZA"), strFile, {}); }

void RegKOVA::regCZA(const std::string& strFile) { reg::UpsertFile(db(), strMode, reg::LayoutFor("CZA"), strFile, {}); }

void RegKOVA::regChgCD(const std::string& strFile, const std::string& strTable, const std::string& strItem) {
  const char* kind = strTable == "S騎手コード変換" ? "CHGKZ" : strTable == "S調教師コード変換" ? "CHGCZ" : nullptr;
  if (!kind) throw VelmoError(err::InvalidArgument, "コード変換テーブルではありません。[" + strTable + "]");
  DAO_Exec(m_DB, "delete from " + strTable + " ;");
  reg::UpsertOptions undated;
  undated.undated = true;
  reg::UpsertFile(db(), strMode, reg::LayoutFor(kind), strFile, undated);
  upChgNamae(strItem);
}

void RegKOVA::upChgNamae(const std::string& strItem) {
  const std::string& i = strItem;
  db().execute("UPDATE S" + i + "コード変換 INNER JOIN T" + i + "マスタ ON S" + i + "コード変換.kova = T" + i + "マスタ." + i +
               "コード SET S" + i + "コード変換." + i + "名 = [T" + i + "マスタ].[" + i + "名];");
}

}  // namespace velmo
