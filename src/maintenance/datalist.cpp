// The data list rebuild and the data list read as rows.
#include <algorithm>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "maintenance/maintenance.h"
#include "maintenance/waitcursor.h"
#include "registration/regkova.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/writerlock.h"

namespace velmo {

namespace {

const char* const kLoc = "makeTableList";

std::string textOf(const db::QueryResult& q, const char* column) {
  return db::toText(q.get(column));
}
std::string orDefault(const std::string& v, const std::string& fallback) { return v.empty() ? fallback : v; }

// Finds the row of a date (adding it when missing) and sets the family's columns.
class ListWriter {
 public:
  explicit ListWriter(const db::DatabasePtr& d) : rs_(d->openTable("Dデータ一覧テーブル")) { rs_->setIndex("PrimaryKey"); }
  void put(const std::string& date, const std::vector<std::pair<const char*, std::string>>& cells) {
    rs_->seek({date});
    if (rs_->noMatch())
      rs_->addNew();
    else
      rs_->edit();
    rs_->set("年月日", date);
    for (const auto& [column, value] : cells) rs_->set(column, value);
    rs_->update();
  }

 private:
  std::unique_ptr<db::Recordset> rs_;
};

void fill(const db::DatabasePtr& d) {
  const std::string P = "D";
  ListWriter w(d);
  // 1. Horse data.
  auto q = d->openQuery("SELECT distinct mid(競走成績キー,9,8) as 年月日,データID,CID FROM " + P + "競走馬データ ;");
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::string date = textOf(*q, "年月日");
    if (date.empty()) continue;
    w.put(date, {{"KOVAデータ", orDefault(textOf(*q, "データID"), "KYC")},
                 {"情報データ", textOf(*q, "CID").empty() ? "" : "JOA"}});
  }
  // 2. Training analysis.
  q = d->openQuery("SELECT mid(競走成績キー,9,8) as 年月日,データID FROM " + P +
                   "調教分析データ group by mid(競走成績キー,9,8),データID;");
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::string date = textOf(*q, "年月日");
    if (date.empty()) continue;
    w.put(date, {{"調教分析データ", textOf(*q, "データID")}});
  }
  // 3. Pre-race information.
  q = d->openQuery("SELECT mid(競走成績キー,9,8) as 年月日,データID,max(mid(レースキー,7,2)) as 最大レース FROM " + P +
                   "直前情報データ group by mid(競走成績キー,9,8),データID;");
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::string date = textOf(*q, "年月日");
    if (date.empty()) continue;
    w.put(date, {{"直前情報データ", orDefault(textOf(*q, "データID"), "TY") + textOf(*q, "最大レース")}});
  }
  // 4. Race programme with payouts.
  q = d->openQuery("SELECT distinct 年月日,データID,開催区分,max(mid(" + P + "払戻情報データ.レースキー,7,2)) as 最大レース" +
                   " FROM " + P + "番組データ INNER JOIN " + P + "払戻情報データ ON " + P + "番組データ.レースキー = " + P +
                   "払戻情報データ.レースキー group by 年月日,データID,開催区分;");
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::string date = textOf(*q, "年月日");
    if (date.empty()) continue;
    w.put(date, {{"払戻情報データ", orDefault(textOf(*q, "データID"), "HJA") + textOf(*q, "最大レース")},
                 {"番組データ", textOf(*q, "開催区分").empty() ? "BA" : "BAA"}});
  }
  // 5. Results: "  " in the first corner position marks the quick results.
  q = d->openQuery("SELECT 年月日,データID,first([コーナー順位１]) as 完全フラグ FROM " + P +
                   "成績データ GROUP BY 年月日,データID;");
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::string date = textOf(*q, "年月日");
    if (date.empty()) continue;
    std::string id = textOf(*q, "データID");
    std::string mark;
    if (id != "SE_V") {
      db::Value flag = q->get("完全フラグ");
      mark = (!db::isNull(flag) && db::toText(flag) != "  ") ? "完" : "速";
    }
    w.put(date, {{"成績データ", orDefault(id, "SEB") + mark}});
  }
  // 6. Result extension.
  q = d->openQuery("SELECT distinct mid(競走成績キー,9,8) as 年月日,データID FROM " + P + "成績拡張データ ;");
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::string date = textOf(*q, "年月日");
    if (date.empty()) continue;
    w.put(date, {{"成績拡張データ", orDefault(textOf(*q, "データID"), "SKA")}});
  }
}

}  // namespace

bool makeTableList() {
  LogMilestone("データ一覧再作成開始", kLoc);
  auto& ws = db::Workspace::get();
  db::DatabasePtr d;
  int depth = ws.transDepth();
  try {
    db::WriterLock turn(G().gDBDir);
    {
      RegKOVA reg;
      reg.Mode("D");
      reg.conDB(G().gDBDir);
      reg.upTYKey();
      reg.clsDB();
    }
    if (!DAO_Open(d, G().gDBDir + "kova_data.mdb"))
      throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[kova_data.mdb]");
    // Emptied and refilled in one transaction: a failure keeps the previous list.
    ws.beginTrans();
    d->execute("delete from Dデータ一覧テーブル");
    fill(d);
    ws.commitTrans();
    d->close();
  } catch (const std::exception& ex) {
    try {
      ws.rollbackTo(depth);
    } catch (...) {
    }
    if (d) d->close();
    WriteLog(ErrObject::from(ex), kLoc, false, false);
    return false;
  }
  LogMilestone("データ一覧再作成完了", kLoc);
  return true;
}

Outcome MakeItiran(CommandUi& ui) {
  if (MsgBox("一覧データ再作成処理を実行しますか？", vbOKCancel, "一覧データ再作成チェック") != vbOK) return Outcome::Cancelled;
  ui.setStatus("一覧データ再作成処理中！！");
  bool ok;
  {
    WaitCursor wait(ui);
    ok = makeTableList();
  }
  if (!ok) {
    ui.setStatus("一覧データ再作成処理異常終了！！");
    MsgBox("一覧データ再作成処理に失敗しました。元の一覧データのままです。", vbOKOnly, kAppTitle);
    return Outcome::Failed;
  }
  ui.setStatus("一覧データ再作成処理終了！！");
  MsgBox("一覧データ再作成処理終了しました。", vbOKOnly, kAppTitle);
  return Outcome::Done;
}

DataListTable ReadDataList(const std::string& prefix) {
  const std::string file = prefix == "D" ? "kova_data.mdb" : "kova_this.mdb";
  db::DatabasePtr d;
  if (!DAO_Open(d, G().gDBDir + file))
    throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[" + file + "]");
  DataListTable t;
  try {
    auto q = d->openQuery("SELECT * FROM " + prefix + "データ一覧テーブル ORDER BY 年月日 DESC;");
    t.columns = q->columns;
    for (q->moveFirst(); !q->eof(); q->moveNext()) {
      std::vector<std::string> row;
      for (size_t c = 0; c < q->columns.size(); ++c) row.push_back(db::toText(q->get(static_cast<int>(c))));
      t.rows.push_back(std::move(row));
    }
  } catch (...) {
    d->close();
    throw;
  }
  d->close();
  return t;
}

}  // namespace velmo
