// The JRA-VAN conversion: registers the race, result, payout, entry and horse
// records of JRA-VAN data files into the provider's table families of the T or
// D database, converting JRA-VAN codes to the provider's through
// "CJRAコード変換" (kova_code.mdb) and the jockey and trainer code tables.
#pragma once
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "registration/layout.h"
#include "startup/platform/db.h"

namespace velmo {

class RegVAN {
 public:
  RegVAN() = default;
  ~RegVAN();
  RegVAN(const RegVAN&) = delete;
  RegVAN& operator=(const RegVAN&) = delete;

  void Mode(const std::string& mode) { strMode = mode; }
  const std::string& Mode() const { return strMode; }

  // Opens folder + kova_this.mdb (mode "T") or kova_data.mdb (mode "D").
  void conDB(const std::string& strDBpath);
  void clsDB();
  // Mode "D" only: links "S騎手コード変換" and "S調教師コード変換" of kova_this.mdb
  // into the past database (never raises) and removes the links again.
  void lnkHen(const std::string& strDBpath);
  void lnkHenDel();
  // Opens kova_code.mdb and reads "CJRAコード変換" into the lookup cache.
  void opnHen(const std::string& strDBpath);

  // Results into "成績データ"; 0, or -1 when a record may not be registered
  // (message shown; the records before it stay).
  int regVSEItoSE(const std::string& strFile);
  // Single-race payouts of the result file, and exacta and trio payouts, into "払戻情報データ".
  void regVSEItoHJ(const std::string& strFile);
  void regVSEHtoHJ(const std::string& strFile);
  // Race card runners into "競走馬データ" and the work table "W出走馬".
  void regVDENtoKY(const std::string& strFile);
  // Race card into "番組データ"; 0, or -1 as regVSEItoSE.
  int regVDENtoBA(const std::string& strFile);
  // Horse records into "馬基本データ", and into the runners of the last race card.
  void regVUMAtoUK(const std::string& strFile);
  void regVUMAtoKY(const std::string& strFile);
  // The data list entry of the last conversion.
  void regItiran();
  // JRA-VAN jockey and trainer codes of the entries / results replaced by the provider's.
  // False when one of the statements failed (retried and logged; the others still ran).
  bool upKYKey();
  bool upSEKey();

  // Data list state left by the last conversion.
  std::string g_Nengappi;
  const std::string& DataID() const { return strDataID; }
  const std::string& Status() const { return strStatus; }

  // The provider's 8-character race key of a 16-character JRA-VAN race key.
  static std::string mkRaceKey(const std::string& raceKey);
  // The provider code of a JRA-VAN code, or the empty text when "CJRAコード変換"
  // has no row (logged once per code and file).
  const std::string& getHenCD(const std::string& kind, const std::string& code);

 private:
  void payoutsFrom(const char* kind, const std::string& strFile);
  db::Database& db() const;
  bool upKey(const std::string& table);
  bool convEmpty(const std::string& table);
  // The rows a file writes into `table` carry, already, the code and name that the
  // key update run after the file would give them (see readConversions).
  struct Conversion {
    std::string code;
    std::optional<std::string> name;
  };
  struct Conversions {
    bool usable = false;
    std::unordered_map<std::string, Conversion> byJravan;
    void apply(std::string& code, std::string& name) const;
  };
  void readConversions(const std::string& table);
  Conversions jockeys_, trainers_;
  // Starts a file: remembers its name for the messages and the once-per-file log.
  void beginFile(const std::string& path);
  std::string strMode;
  std::string strDataID;
  std::string strStatus;
  db::DatabasePtr m_DB;
  db::DatabasePtr m_Code;
  std::unordered_map<std::string, std::string> hen_;  // kind + '\t' + JRA-VAN code -> provider code
  std::set<std::string> missingLogged_;
  std::string file_;
};

}  // namespace velmo
