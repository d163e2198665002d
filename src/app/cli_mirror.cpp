// velmo-cli mirror sync [--full] [--json] | mirror status [--json] | mirror verify [--json]
// The server copy of the databases (setting Mirror).
#include <cstdio>

#include "app/cli.h"
#include "common/json.h"
#include "app/cli_maint.h"
#include "mirror/autosync.h"
#include "mirror/mirrorstatus.h"
#include "mirror/mirrorsync.h"
#include "mirror/pgconnection.h"
#include "startup/settings.h"

namespace velmo::cli {
namespace {

using namespace velmo::mirror;

int sync(Args& args, bool json) {
  SyncOptions o;
  o.full = TakeFlag(args, "--full");
  if (!NoExtraWords(args)) return Usage("mirror");
  if (!InitSettings("mirror")) return kExitFailed;
  if (MirrorSetting().empty()) {
    std::fprintf(stderr, "velmo-cli mirror: Mirror is not set in %s\n", IniPath().c_str());
    return kExitFailed;
  }
  SyncReport r;
  std::string error = SyncAndRecord(o, &r);
  if (!error.empty()) {
    std::fprintf(stderr, "velmo-cli mirror sync: %s\n", error.c_str());
    if (json) std::printf("{\"ok\":false,\"error\":%s}\n", text::quoteJson(error).c_str());
    return kExitFailed;
  }
  if (json) {
    std::string compared;
    for (const auto& f : r.comparedFiles) compared += (compared.empty() ? "" : ",") + text::quoteJson(f);
    std::printf("{\"ok\":true,\"tables_created\":%d,\"tables_copied\":%d,\"tables_dropped\":%d,\"keys\":%lld,\"rows_sent\":%lld,"
                "\"compared\":[%s],\"seconds\":%.3f}\n",
                r.tablesCreated, r.tablesCopied, r.tablesDropped, r.keysSynced, r.rowsSent, compared.c_str(), r.seconds);
  } else {
    std::printf("同期しました: 作成 %d 表, 全件 %d 表, 削除 %d 表, キー %lld, 送信 %lld 行, %.3f 秒\n", r.tablesCreated, r.tablesCopied,
                r.tablesDropped, r.keysSynced, r.rowsSent, r.seconds);
  }
  return kExitOk;
}

int status(Args& args, bool json) {
  if (!NoExtraWords(args)) return Usage("mirror");
  if (!InitSettings("mirror")) return kExitFailed;
  const std::string conninfo = MirrorSetting();
  const std::string server = conninfo.empty() ? "" : PgConnection::describe(conninfo);
  MirrorStatus s = MirrorStatusFile::read();
  long long pending = 0;
  try {
    pending = PendingNotes();
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "velmo-cli mirror status: %s\n", ex.what());
    return kExitFailed;
  }
  if (json) {
    std::printf("{\"mirror\":%s,\"last_sync\":%s,\"pending\":%lld,\"last_error\":%s,\"last_error_time\":%s}\n",
                conninfo.empty() ? "null" : text::quoteJson(server).c_str(), s.lastSync.empty() ? "null" : text::quoteJson(s.lastSync).c_str(),
                pending, s.lastError.empty() ? "null" : text::quoteJson(s.lastError).c_str(),
                s.lastErrorTime.empty() ? "null" : text::quoteJson(s.lastErrorTime).c_str());
    return kExitOk;
  }
  std::printf("接続先: %s\n", conninfo.empty() ? "(設定なし)" : server.c_str());
  std::printf("最後の同期: %s\n", s.lastSync.empty() ? "(なし)" : s.lastSync.c_str());
  std::printf("未反映の変更: %lld\n", pending);
  std::printf("最後のエラー: %s%s%s\n", s.lastError.empty() ? "(なし)" : s.lastErrorTime.c_str(), s.lastError.empty() ? "" : " ",
              s.lastError.c_str());
  return kExitOk;
}

int verify(Args& args, bool json) {
  if (!NoExtraWords(args)) return Usage("mirror");
  if (!InitSettings("mirror")) return kExitFailed;
  const std::string conninfo = MirrorSetting();
  if (conninfo.empty()) {
    std::fprintf(stderr, "velmo-cli mirror: Mirror is not set in %s\n", IniPath().c_str());
    return kExitFailed;
  }
  std::vector<TableCheck> checks;
  try {
    checks = Verify(conninfo);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "velmo-cli mirror verify: %s\n", ex.what());
    if (json) std::printf("{\"equal\":false,\"error\":%s}\n", text::quoteJson(ex.what()).c_str());
    return kExitFailed;
  }
  bool all = true;
  std::string differ;
  for (const auto& c : checks) {
    if (c.equal) continue;
    all = false;
    differ += (differ.empty() ? "" : ",") + text::quoteJson(c.schema + "." + c.table);
  }
  if (json) {
    std::printf("{\"equal\":%s,\"tables\":%zu,\"differ\":[%s]}\n", all ? "true" : "false", checks.size(), differ.c_str());
  } else {
    for (const auto& c : checks)
      std::printf("%s\t%s.%s\t%llu\t%llu\n", c.equal ? "OK" : "DIFFERS", c.schema.c_str(), c.table.c_str(),
                  static_cast<unsigned long long>(c.localRows), static_cast<unsigned long long>(c.serverRows));
    if (!all) std::fprintf(stderr, "velmo-cli mirror verify: tables differ: %s\n", differ.c_str());
  }
  return all ? kExitOk : kExitFailed;
}

int run(const Args& given) {
  Args args = given;
  if (args.empty()) return Usage("mirror");
  const std::string what = args[0];
  args.erase(args.begin());
  const bool json = TakeFlag(args, "--json");
  if (what == "sync") return sync(args, json);
  if (what == "status") return status(args, json);
  if (what == "verify") return verify(args, json);
  return Usage("mirror");
}

const Registrar reg({"mirror", "mirror sync [--full] [--json] | mirror status [--json] | mirror verify [--json]",
                     "the PostgreSQL copy of the databases (setting Mirror): sync it, show its state, compare every table", run});

}  // namespace
}  // namespace velmo::cli
