// The log component: one instance for the whole program, writing VelmoLog.dat.
#pragma once
#include <cstdio>
#include <string>

#include "common/error.h"

namespace velmo {

class AppLog {
 public:
  static AppLog& instance();

  void setLogFile(const std::string& path);      // LogFile
  void setLogLimit(long limit);                  // LogLimit: entries kept in the file
  void setTitle(const std::string& title);       // Title: caption of the failure notice
  void setFormName(const std::string& name);     // FormName: shown with each entry
  const std::string& logFile() const { return file_; }

  // Writes one entry: time, number, description, location (and the form name
  // when set). A failure written with notify == false is also shown to the user
  // in the screen mode.
  void WriteLog(const ErrObject& e, const std::string& location, bool first, bool second);

 private:
  AppLog() = default;
  void trim();
  std::string file_;
  long limit_ = 3000;
  std::string title_ = "Velmo";
  std::string form_;
  long count_ = -1;  // entries in the file, counted on first write
  std::FILE* out_ = nullptr;
  std::string outPath_;
};

// Shorthand used everywhere: log an error object at a location.
inline void WriteLog(const ErrObject& e, const std::string& location, bool first, bool second) {
  AppLog::instance().WriteLog(e, location, first, second);
}
// A milestone: description set to a fixed text, second flag true. The number is the one of the
// error being handled, if any: 0 on the normal path, the raised error's on an error path.
void LogMilestone(const std::string& text, const std::string& location, long number = 0);

}  // namespace velmo
