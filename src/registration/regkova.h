// The registration session for the provider's text files: mode, database and
// the catalogue members that the data list needs after each file.
#pragma once
#include <string>

#include "registration/layout.h"
#include "startup/platform/db.h"

namespace velmo {

// Creates a linked table (name, connect string, source table) in a database;
// an existing link of that name is replaced; a table that is not a link is never
// dropped: the link is refused with error 3010 naming the table (logged at
// "ConnectOutput" and raised); other failures are retried and finally logged
// at "ConnectOutput" without raising.
void ConnectOutput(const db::DatabasePtr& database, const std::string& linkName, const std::string& connect,
                   const std::string& sourceTable);

class RegKOVA {
 public:
  RegKOVA() = default;
  ~RegKOVA();

  // Race date yyyymmdd of the last file that feeds the data list.
  std::string g_Nengappi;

  void Mode(const std::string& mode) { strMode = mode; }
  const std::string& Mode() const { return strMode; }

  void conDB(const std::string& strDBpath);
  void clsDB();
  void lnkDSei(const std::string& strDBpath);
  void lnkDSeiDel();

  // Race programme and meeting files.
  void regBA(const std::string& strFile) { readKind("BA", strFile); }
  void regBAA(const std::string& strFile) { readKind("BAA", strFile); }
  void regBAB(const std::string& strFile) { readKind("BAB", strFile); }
  void regKAA(const std::string& strFile) { readKind("KAA", strFile); }

  // Horse entry files.
  void regKYC(const std::string& strFile);
  void regKYD(const std::string& strFile);
  void regKYE(const std::string& strFile);
  void regKYF(const std::string& strFile);
  void regKYG(const std::string& strFile);
  // Registered-horse and horse-extension files.
  void regKTA(const std::string& strFile);
  void regKKA(const std::string& strFile);
  void upKK_Key();
  // Result files and previous-run files.
  void regZEB(const std::string& strFile);
  void regSEB(const std::string& strFile);
  void regSEBfromZEB(const std::string& strFile);
  void regZEC(const std::string& strFile);
  void regSEC(const std::string& strFile);
  void regSECfromZEC(const std::string& strFile);
  // Result-extension and race-result files.
  void regZKA(const std::string& strFile);
  void regSKA(const std::string& strFile);
  void regSKAfromZKA(const std::string& strFile);
  void regZKB(const std::string& strFile);
  void regSKB(const std::string& strFile);
  void regSKBfromZKB(const std::string& strFile);
  void regSRA(const std::string& strFile);
  // Horse basic files.
  void regUKA(const std::string& strFile);
  void regUKB(const std::string& strFile);
  void regUKC(const std::string& strFile);
  void regMZA(const std::string& strFile);
  // Horse information file.
  void regJOA(const std::string& strFile);
  // Odds files.
  void regOZ(const std::string& strFile);
  void regOZ2(const std::string& strFile);
  void regOW(const std::string& strFile);
  void regOW2(const std::string& strFile);
  void regOU2(const std::string& strFile);
  void regOV(const std::string& strFile);
  void regOT2(const std::string& strFile);
  // Pre-race information files and the key updates.
  void regTY(const std::string& strFile);
  void upTYKey();
  void upCYKey();
  void regTYA(const std::string& strFile);
  void regTYB(const std::string& strFile);
  // Payout files.
  void regHJA(const std::string& strFile);
  void regHJB(const std::string& strFile);
  void regHJC(const std::string& strFile);
  // Jockey and trainer master files and the code conversion lists.
  void regKZA(const std::string& strFile);
  void regCZA(const std::string& strFile);
  // strTable: "S騎手コード変換" or "S調教師コード変換"; strItem: "騎手" or "調教師".
  void regChgCD(const std::string& strFile, const std::string& strTable, const std::string& strItem);
  void upChgNamae(const std::string& strItem);
  // Training analysis file.
  void regCYA(const std::string& strFile);

  // Data list entry and catalogue.
  void regItiran();
  void regDATA_KANRI(const std::string& strFile);

  // Runs the record-upsert loop of a kind's layout on the session's database and
  // sets the catalogue members as the kind's layout says.
  void readKind(const std::string& kind, const std::string& strFile, const reg::UpsertOptions& options = {});

  const std::string& DataID() const { return strDataID; }
  // The status a reader that keeps the day's highest race number starts from:
  // what the previous file of the run left when that file was of the same family
  // and race day, else empty (a stage mark or another day's number says nothing
  // about this file's races).
  std::string CarriedStatus(const std::string& kind, const std::string& raceDate) const;
  const std::string& Status() const { return strStatus; }
  void setCatalogue(const std::string& dataId, const std::string& date, const std::string& status) {
    strDataID = dataId;
    g_Nengappi = date;
    strStatus = status;
  }
  const db::DatabasePtr& database() const { return m_DB; }
  // The session's database; raises the engine's "object not set" error when conDB failed.
  db::Database& db() const;

 private:
  std::string strMode;
  std::string strDataID;
  std::string strStatus;
  db::DatabasePtr m_DB;
};

}  // namespace velmo
