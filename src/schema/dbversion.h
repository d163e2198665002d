// Version of the racing databases and the upgrade to the current one.
//
// Faces: the settings screen's "ＤＢバージョンアップ" calls dbVersionUp(ui) and then
// shows getDBVersion() again; the main screen reads getDBVersion() at start and
// calls addCodeNameFields(gDBDir + "kova_this.mdb") when VAN is 1;
// `velmo-cli upgrade [--force]` calls dbVersionUp(ui) (with --force the question
// for a current pair is answered yes).
#pragma once
#include <string>

#include "maintenance/commandui.h"
#include "maintenance/maintenance.h"

namespace velmo {

constexpr const char* kCurrentDBVersion = "Ver7.2";
constexpr const char* kNoDBVersion = "ＤＢが設定されていません。";

// "Subject" of kova_this.mdb; "ＤＢが設定されていません。" when it cannot be read.
std::string getDBVersion();
// Writes "Subject" of gDBDir + file (creating the property when missing).
bool setDBVersion(const std::string& version, const std::string& file);
// The interactive upgrade: the question by version, then the steps. Done when a
// step chain ran and succeeded, Cancelled when the user said no (or nothing is
// upgradable), Failed when a step failed.
Outcome dbVersionUp(CommandUi& ui);
// The two steps; each reports to the user itself. True on success.
bool dbVerUp50to60(CommandUi& ui);
bool dbVerUp60to72(CommandUi& ui);
// Fixed clean-ups of kova_data.mdb used by the steps.
bool HJmnt();
bool kobetsu72();
// Adds "騎手名" / "調教師名" (text 12) to the code conversion tables when missing.
void addCodeNameFields(const std::string& databasePath);

}  // namespace velmo
