#include "startup/mmain.h"

#include <cstdio>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"

namespace velmo {

namespace {

int wholeNumber(const std::string& w) {
  std::string s = text::trimBlanks(w);
  size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  if (i >= s.size()) throw VelmoError(13, "型が一致しません。[" + w + "]");
  for (size_t j = i; j < s.size(); ++j)
    if (s[j] < '0' || s[j] > '9') throw VelmoError(13, "型が一致しません。[" + w + "]");
  if (s.size() > 9) throw VelmoError(6, "オーバーフローしました。[" + w + "]");
  return std::stoi(s);
}

void screenMode(StartupHooks& hooks) {
  auto& g = G();
  g.gSilent = "0";
  LogMilestone("画面モードSTART", "Main");
  if (!g.gLzhDir.empty() && !g.gDBDir.empty()) {
    bool dbExists = FolderExists(g.gDBDir);
    bool lzhExists = FolderExists(g.gLzhDir);
    if (!(dbExists && lzhExists)) {
      if (dbExists) {
        MsgBox("設定されているデータ保存フォルダ「" + g.gLzhDir + "」がありません", vbOKOnly, kAppTitle);
        hooks.showSettings(true, false);
      } else {
        MsgBox("設定されているデータベースフォルダ「" + g.gDBDir + "」がありません\r\n"
               "データベースフォルダに今まで使用していたデータベースを手動でコピーしてください。\r\n"
               "あるいは、データベースフォルダを今まで使用していたフォルダに変更してください。\r\n"
               "あるいは、「初期設定画面」で初期ＤＢをコピーしてください。\r\n",
               vbOKOnly, kAppTitle);
        hooks.showSettings(false, true);
      }
    }
  } else {
    hooks.showInitialSetup();
  }
  if (g.gLzhDir.empty() || g.gDBDir.empty()) {
    MsgBox("設定値が入っていません、終了します。", vbOKOnly, "Velmo");
    throw 0;  // end the program
  }
  if (!FileExists(g.gDBDir + "kova_this.mdb")) {
    MsgBox("データベースフォルダにデータベースファイル［kova_this.mdb］がありません", vbOKOnly, kAppTitle);
    hooks.showInitialSetup();
  }
  // Other programs of the same databases read the folder as the system writes it:
  // no separator at its end (the root alone keeps its "/").
  std::string programDir = ProgramDir();
  if (programDir.size() > 1 && programDir.back() == '/') programDir.pop_back();
  RegAddIn("Velmo", "データ登録ソフト", programDir);
  LogMilestone("メイン画面開始", "Main");
  hooks.showMainScreen();
}

}  // namespace

std::vector<std::string> ArchivesToOpen(const std::vector<std::string>& words) {
  for (const auto& w : words) {
    const std::string lower = text::toLowerAscii(w);
    if (lower.size() < 5 || lower.compare(lower.size() - 4, 4, ".lzh") != 0 || !FileExists(w)) return {};
  }
  return words;
}

MainResult Main(const std::string& commandLine, StartupHooks& hooks) {
  auto& log = AppLog::instance();
  log.setLogFile(LogFilePath());
  log.setLogLimit(3000);
  log.setTitle(kAppTitle);
  LogMilestone("起動", "Main");
  MainResult result;
  std::vector<std::string> words;
  int count = SplitCommandLine(commandLine, words, 10);
  try {
    // A parent program's call: nobody answers a message box from here on, not
    // even one about the settings.
    if (count == 3) {
      G().gSilent = "1";
      hooks.openParentChannel();
    }
    LoadSettings();
    if (count != 0 && (count != 3 || text::charCount(words[2]) != 8)) {
      // Not a silent call: said in the log and on standard error, and ended.
      std::string w = "起動パラメータが正しくないため終了します（データID 取得区分 日付yyyymmdd の3語で呼び出してください）。[" +
                      commandLine + "]";
      WriteLog(ErrObject(err::InvalidArgument, w), "Main", false, true);
      std::fprintf(stderr, "velmo: %s\n", w.c_str());
      result.exitCode = SilentExit::Usage;
      return result;
    }
    if (count == 3) {
      LogMilestone("サイレントモードSTART", "Main");
      G().gDownOnly = wholeNumber(words[1]);
      hooks.runSilent(words);
      result.exitCode = hooks.silentResult();
      if (result.exitCode == SilentExit::Done) {
        LogMilestone("正常終了（サイレントモード）", "Main");
      } else {
        WriteLog(ErrObject(result.exitCode, "異常終了（サイレントモード）終了コード" + std::to_string(result.exitCode)), "Main",
                 false, true);
      }
      hooks.closeParentChannel();
      return result;
    }
    screenMode(hooks);
    result.runEventLoop = true;
    return result;
  } catch (int) {
    return result;
  } catch (const std::exception& ex) {
    ErrObject e = ErrObject::from(ex);
    if (G().gSilent == "1") hooks.closeParentChannel();
    else MsgBox("データベース異常\r\n" + e.description, vbOKOnly, "Velmo");
    std::fprintf(stderr, "velmo: %s\n", e.description.c_str());
    WriteLog(e, "Main", false, true);  // the cause, then the end
    e.description = "異常終了";
    WriteLog(e, "Main", false, true);
    result.exitCode = 1;
    return result;
  }
}

}  // namespace velmo
