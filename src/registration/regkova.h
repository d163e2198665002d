// The registration session for the provider's text files: mode, database and
// the catalogue members that the data list needs after each file.
#pragma once
#include <string>

#include "registration/layout.h"
#include "startup/platform/db.h"

namespace velmo {

// Creates a linked table (name, connect string, source table) in a database;
// an existing table of that name is replaced; other failures are retried and
// finally logged at "ConnectOutput" without raising.
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

  // Key updates run after pack and training archives.
  void upKK_Key();
  void upCYKey();

  // Data list entry and catalogue.
  void regItiran();
  void regDATA_KANRI(const std::string& strFile);

  // Runs the record-upsert loop of a kind's layout on the session's database and
  // sets the catalogue members as the kind's layout says.
  void readKind(const std::string& kind, const std::string& strFile, const reg::UpsertOptions& options = {});

  const std::string& DataID() const { return strDataID; }
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
