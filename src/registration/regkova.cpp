#include "registration/regkova.h"

#include <fstream>
#include <sstream>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"

namespace velmo {

RegKOVA::~RegKOVA() {
  if (m_DB) m_DB->close();
}

db::Database& RegKOVA::db() const {
  if (!m_DB || !m_DB->isOpen()) throw VelmoError(91, "オブジェクト変数または With ブロック変数が設定されていません。(データベース未接続)");
  return *m_DB;
}

void RegKOVA::conDB(const std::string& strDBpath) { m_DB = OpenModeDatabase(strDBpath, strMode); }

void RegKOVA::clsDB() {
  if (m_DB) m_DB->close();
  m_DB.reset();
}

void ConnectOutput(const db::DatabasePtr& database, const std::string& linkName, const std::string& connect,
                   const std::string& sourceTable) {
  int retries = 0;
  for (;;) {
    try {
      database->createLink(linkName, connect, sourceTable);
      return;
    } catch (const VelmoError& e) {
      if (e.number() == err::ObjectExists) {
        // Only a link of that name is replaced: a table of the member's own that
        // bears the name is kept, and the link is refused.
        if (!database->linkInfo(linkName)) {
          VelmoError refused(err::TableExists, "テーブル '" + linkName + "' はリンクではないため置き換えません。" +
                                                   "リンクを作成できません。名前を変えるか削除してください。[" +
                                                   database->path() + "]");
          WriteLog(ErrObject(refused.number(), refused.description()), "ConnectOutput", false, true);
          throw refused;
        }
        try {
          database->deleteTable(linkName);
        } catch (const VelmoError&) {
        }
        continue;
      }
      if (retries > 10) {
        WriteLog(ErrObject(e.number(), e.description()), "ConnectOutput", false, true);
        return;
      }
      WaitSeconds(1.0);
      ++retries;
    }
  }
}

void RegKOVA::lnkDSei(const std::string& strDBpath) {
  if (strMode != "T") return;
  try {
    if (!m_DB) return;
    ConnectOutput(m_DB, "D成績データ", ";DATABASE=" + strDBpath + "kova_data.mdb", "D成績データ");
  } catch (const VelmoError& e) {
    (void)e;  // never raises
  }
}

void RegKOVA::lnkDSeiDel() {
  if (strMode != "T") return;
  db().deleteTable("D成績データ");
}

std::string RegKOVA::CarriedStatus(const std::string& kind, const std::string& raceDate) const {
  if (text::headChars(strDataID, 2) == text::headChars(kind, 2) && g_Nengappi == raceDate) return strStatus;
  return {};
}

void RegKOVA::readKind(const std::string& kind, const std::string& strFile, const reg::UpsertOptions& options) {
  const reg::Layout& L = reg::LayoutFor(kind);
  std::string last;
  reg::UpsertFile(db(), strMode, L, strFile, options, &last);
  if (!L.feedsList) return;
  std::string date = reg::RaceDateFromPath(strFile);
  std::string status;
  if (L.status) {
    if (last.empty()) {
      status = L.status(nullptr);
    } else {
      reg::RecordView rv(last, date, 0);
      status = L.status(&rv);
    }
  }
  setCatalogue(L.kind, date, status);
}

// ---- data list entry ----------------------------------------------------------

void RegKOVA::regItiran() {
  auto rs = db().openTable(strMode + "データ一覧テーブル");
  rs->setIndex("PrimaryKey");
  rs->seek({g_Nengappi});
  if (rs->noMatch()) rs->addNew();
  else rs->edit();
  rs->set("年月日", g_Nengappi);
  std::string fam = text::headChars(strDataID, 2);
  std::string full = strDataID + strStatus;
  if (fam == "KY" || fam == "KT") {
    rs->set("KOVAデータ", full);
  } else if (fam == "TY") {
    std::string present = ValueOr(db::toOptText(rs->get("直前情報データ")), "00");
    if (full > present) rs->set("直前情報データ", full);
  } else if (fam == "HJ") {
    rs->set("払戻情報データ", full);
  } else if (fam == "SE") {
    rs->set("成績データ", full);
  } else if (fam == "SK") {
    rs->set("成績拡張データ", strDataID);
  } else if (fam == "CY") {
    rs->set("調教分析データ", strDataID);
  } else if (fam == "BA") {
    rs->set("番組データ", strDataID);
  } else if (fam == "JO") {
    rs->set("情報データ", strDataID);
  }
  rs->update();
}

// ---- data catalogue -------------------------------------------------------------

namespace {
// The catalogue's comma-separated values in one run (lines only separate them).
// Blanks around an unquoted value are dropped; a value in double quotes loses only
// its quotes and keeps every character between them (blanks, commas, line ends,
// a doubled quote as one quote).
std::vector<std::string> readCatalogueValues(const std::string& t) {
  std::vector<std::string> vals;
  std::string cur;
  bool quoted = false, inQuotes = false, any = false;
  auto endField = [&] {
    vals.push_back(quoted ? cur : text::trimBlanks(cur));
    cur.clear();
    quoted = false;
  };
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (inQuotes) {
      if (c != '"') cur += c;
      else if (i + 1 < t.size() && t[i + 1] == '"') cur += t[i++];
      else inQuotes = false;
    } else if (c == '"' && !quoted && text::isBlank(cur)) {
      cur.clear();  // blanks before the opening quote
      inQuotes = quoted = any = true;
    } else if (c == ',') {
      endField();
      any = true;
    } else if (c == '\r' || c == '\n') {
      if (any || !cur.empty()) endField();
      any = false;
    } else if (!(quoted && c == ' ')) {  // blanks after the closing quote are dropped
      cur += c;
    }
  }
  if (any || !cur.empty()) endField();
  return vals;
}
}  // namespace

void RegKOVA::regDATA_KANRI(const std::string& strFile) {
  db().execute("delete from Ｓデータ管理;");
  auto rs = db().openTable("Sデータ管理");
  rs->setIndex("PrimaryKey");
  std::string content = ReadFileBytes(strFile);
  std::string utf8;
  if (!text::decodeCp932(content, utf8))
    throw VelmoError(err::BadShiftJis, "カタログファイルにShift_JISでない文字があります。[" + strFile + "]");
  std::vector<std::string> v = readCatalogueValues(utf8);
  static const char* const cols[] = {"分類", "データID", "KOVAパック", "データ名", "提供時間", "説明",
                                     "サーバアドレス", nullptr, nullptr, "リストファイル", "表示順", "セット", "TDM"};
  for (size_t g = 0; g < v.size(); g += 13) {
    if (g + 13 > v.size())
      throw VelmoError(62, "ファイルにこれ以上データがありません。(カタログの値が13個そろっていません) [" + strFile + "]");
    rs->seek({v[g + 1]});
    if (rs->noMatch()) rs->addNew();
    else rs->edit();
    for (int order : {0, 1, 2, 3, 4, 6, 9, 10, 11, 12, 5}) {
      const std::string& val = v[g + static_cast<size_t>(order)];
      if (std::string(cols[order]) == "表示順" && val.empty()) rs->set(cols[order], std::monostate{});
      else rs->set(cols[order], val);
    }
    rs->update();
  }
}

}  // namespace velmo
