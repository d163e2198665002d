#include "mirror/connectiontest.h"

namespace velmo::mirror {

ConnectionTestResult TestConnection(const std::string& conninfo, double seconds) {
  ConnectionTestResult r;
  if (conninfo.empty()) {
    r.problem = ConnectProblem::Setting;
    r.message = "接続先(Mirror)が空欄です。";
    return r;
  }
  const std::string where = PgConnection::describe(conninfo);
  try {
    PgConnection c(conninfo, seconds);
    auto v = c.query("SELECT current_setting('server_version'), has_database_privilege(current_database(), 'CREATE')");
    r.ok = true;
    r.message = "接続できました。[" + where + "] PostgreSQL " + v[0][0];
    if (v[0][1] != "t") r.message += "\nただし、このロールはこのデータベースにスキーマを作成できません。";
  } catch (const MirrorError& e) {
    r.problem = e.problem;
    const char* what = e.problem == ConnectProblem::Unreachable      ? "サーバーに届きません(ホスト名・ポート・サーバーの起動を確かめてください)。"
                       : e.problem == ConnectProblem::Authentication ? "認証に失敗しました(ユーザー名・パスワードを確かめてください)。"
                       : e.problem == ConnectProblem::NoDatabase     ? "データベースがありません(dbname を確かめてください)。"
                       : e.problem == ConnectProblem::Setting        ? "接続文字列を読み取れません。"
                                                                     : "接続できません。";
    r.message = std::string(what) + "[" + where + "]\n" + e.what();
  }
  return r;
}

}  // namespace velmo::mirror
