// The data check report: the provider's check files against the data lists.
//
// Faces: the main screen's "データチェック" (cmdDataChk_Click) calls DataChk(ui)
// and, when it returns Done, opens DataCheckReportPath() in the desktop's text
// viewer; `velmo-cli check` calls DataChk(ui) and prints the report.
#pragma once
#include <string>

#include "maintenance/commandui.h"
#include "maintenance/maintenance.h"

namespace velmo {

constexpr const char* kCheckFileD = "datacheckD.txt";
constexpr const char* kCheckFileUK = "datacheckUK.txt";
constexpr const char* kCheckResult = "datacheckD_Result.txt";

// "datacheckD_Result.txt" in the program folder, or in the user's data folder
// when the program folder cannot be written.
std::string DataCheckReportPath();
// The lines of the past-database section; `date` receives the last date read.
std::string makeReportBody_D(const std::string& fileName, std::string& date);
// The lines of the horse-data section.
std::string makeReportBody_UK(const std::string& fileName);
// Writes the report (Shift_JIS, CR LF) to the program folder; true when written.
bool DataCheck(CommandUi& ui, const std::string& pastFile, const std::string& horseFile,
               const std::string& resultFile);
// True when the last DataCheck wrote a section empty after a failure (the
// report was written all the same).
bool DataCheckHadFailure();
// The command: question, the two fetches from the public list folder, the report.
// Done when the report was written. Check files left by an earlier run are
// removed before the fetches, so a failed fetch of the past check file leaves
// that section empty and DataCheckHadFailure() true.
Outcome DataChk(CommandUi& ui);

}  // namespace velmo
