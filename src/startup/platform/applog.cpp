#include "startup/platform/applog.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/globals.h"
#include "common/msgbox.h"

namespace velmo {

AppLog& AppLog::instance() {
  static AppLog log;
  return log;
}

void AppLog::setLogFile(const std::string& path) {
  if (out_) std::fclose(out_);
  out_ = nullptr;
  file_ = path;
  count_ = -1;
}
void AppLog::setLogLimit(long limit) { limit_ = limit > 0 ? limit : 1; }
void AppLog::setTitle(const std::string& title) { title_ = title; }
void AppLog::setFormName(const std::string& name) { form_ = name; }

static std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return s;
}

void AppLog::trim() {
  std::ifstream in(file_);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  in.close();
  // The file never holds more than the limit; a trim keeps a tenth less, so
  // that the next trim is a tenth of the limit's entries away rather than at
  // every entry once the file is full.
  size_t keep = static_cast<size_t>(std::max(1L, limit_ - limit_ / 10));
  if (lines.size() <= static_cast<size_t>(limit_)) {
    count_ = static_cast<long>(lines.size());
    return;
  }
  std::ofstream out(file_, std::ios::trunc);
  for (size_t i = lines.size() - keep; i < lines.size(); ++i) out << lines[i] << '\n';
  count_ = static_cast<long>(keep);
}

void AppLog::WriteLog(const ErrObject& e, const std::string& location, bool /*first*/, bool second) {
  if (!file_.empty()) {
    if (count_ < 0) {
      std::ifstream in(file_);
      long n = 0;
      for (std::string l; std::getline(in, l);) ++n;
      count_ = n;
    }
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char ts[32];
    std::strftime(ts, sizeof ts, "%Y/%m/%d %H:%M:%S", &tm);
    std::string line = std::string(ts) + '\t' + std::to_string(e.number) + '\t' + oneLine(e.description) + '\t' +
                       oneLine(location);
    if (!form_.empty()) line += '\t' + oneLine(form_);
    line += '\n';
    // The file stays open between entries; each entry is written through at once.
    if (!out_ || outPath_ != file_) {
      if (out_) std::fclose(out_);
      out_ = std::fopen(file_.c_str(), "a");
      outPath_ = file_;
    }
    if (out_) {
      std::fwrite(line.data(), 1, line.size(), out_);
      std::fflush(out_);
    }
    if (++count_ > limit_) {
      if (out_) std::fclose(out_);
      out_ = nullptr;
      trim();
    }
  }
  if (!second && G().gSilent != "1") {
    MsgBox(e.description + "\r\n\r\n[" + location + "] エラー番号 " + std::to_string(e.number), vbOKOnly, title_);
  }
}

void LogMilestone(const std::string& text, const std::string& location, long number) {
  WriteLog(ErrObject(number, text), location, false, true);
}

}  // namespace velmo
