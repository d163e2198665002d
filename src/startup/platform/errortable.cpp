#include "startup/platform/errortable.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>

#include "startup/platform/jetsql.h"

namespace velmo::db {

namespace {

struct Entry {
  long number;
  const char* description;
};

// Sorted by number.
constexpr Entry kTable[] = {
    {err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。"},
    {err::EngineGeneric, "%1"},
    {err::Locked, "データベース '%1' はロックされています。"},
    {err::TableExists, "テーブル '%1' は既に存在します。"},
    {err::ObjectNotFound, "オブジェクト '%1' が見つかりませんでした。"},
    {err::ObjectExists, "オブジェクト '%1' は既に存在します。"},
    {err::NoCurrentIndex, "インデックスが設定されていないため、操作が無効です。"},
    {err::UpdateWithoutEdit, "Edit メソッドまたは AddNew メソッドを使わずに Update を実行しました。"},
    {err::NoCurrentRecord, "カレント レコードがありません。"},
    {err::DuplicateKey, "インデックス、主キー、またはリレーションシップで値が重複しているため、変更できませんでした。"},
    {err::CannotFindFile, "ファイル '%1' が見つかりません。"},
    {err::NoTransaction, "トランザクションを開始せずにコミットまたはロールバックしようとしました。"},
    {err::FileInUse, "ファイル '%1' はほかのユーザーが使用中です。"},
    {err::CannotSave, "データベース '%1' に書き込めません。"},
    {err::CannotOpen, "データベース '%1' を開けません。"},
    {err::CannotLock, "データベース '%1' はほかのプログラムで使用中のため、ロックできません。"},
    {err::NullInRequired, "フィールド '%1' には Null 値を入力できません。"},
    {err::TooFewParameters, "パラメータが少なすぎます。'%1' を指定してください。"},
    {err::SelectNotExecutable, "選択クエリは実行できません。"},
    {err::NotUpdatable, "更新可能なクエリであることが必要です。"},
    {err::SyntaxError, "クエリ式 '%1' の構文エラーです。"},
    {err::NoSuchTable, "入力テーブル '%1' が見つかりませんでした。"},
    {err::AmbiguousField, "指定されたフィールド '%1' は、SQL ステートメントの FROM 句にある複数のテーブルを参照しています。"},
    {err::UndefinedFunction, "式に未定義関数 '%1' があります。"},
    {err::UnknownInsertField, "INSERT INTO ステートメントに不明なフィールド名 '%1' があります。"},
    {err::InvalidStatement, "SQL ステートメントが正しくありません。'DELETE'、'INSERT'、'PROCEDURE'、'SELECT'、または 'UPDATE' を使用してください。"},
    {err::SyntaxInFrom, "FROM 句の構文エラーです。%1"},
    {err::SyntaxInInsert, "INSERT INTO ステートメントの構文エラーです。%1"},
    {err::CharactersAfterEnd, "SQL ステートメントの後に文字が見つかりました。"},
    {err::SyntaxInUpdate, "UPDATE ステートメントの構文エラーです。%1"},
    {err::FieldTooSmall, "フィールドのサイズが小さすぎます。[%1]"},
    {err::NoIsam, "インストール可能な ISAM が見つかりませんでした。[%1]"},
    {err::DatabaseExists, "データベース '%1' は既に存在します。"},
    {err::InvalidOperation, "操作が無効です。"},
    {err::NoFields, "フィールドがありません。'%1' を追加できません。"},
    {err::NoSuchField, "項目 '%1' はこのコレクションにありません。"},
    {err::PropertyNotFound, "プロパティ '%1' が見つかりません。"},
    {err::SyntaxInTableDef, "テーブル定義の構文エラーです。%1"},
    {err::NotADatabase, "データベースの形式 '%1' を認識できません。"},
    {err::ValueCountMismatch, "クエリの値の数と出力先のフィールドの数が一致しません。"},
    {err::DatabaseInUse, "データベース '%1' はほかのプログラムが開いているため、最適化できません。"},
    {err::QueryTooComplex, "クエリが複雑すぎます。"},
    {err::InvalidObject, "オブジェクトが無効か、設定されていません。"},
    {err::ConversionError, "データ型の変換エラーです。[%1]"},
    {err::TypeMismatch, "抽出条件でデータ型が一致しません。"},
    {err::NotAnIndex, "'%1' はこのテーブルのインデックスではありません。"},
};

}  // namespace

std::string_view engineDescription(long number) {
  auto it = std::lower_bound(std::begin(kTable), std::end(kTable), number,
                             [](const Entry& e, long n) { return e.number < n; });
  if (it != std::end(kTable) && it->number == number) return it->description;
  return "%1";
}

VelmoError engineError(long number, std::string_view name, std::string_view detail) {
  std::string d(engineDescription(number));
  size_t p = d.find("%1");
  if (p != std::string::npos) d.replace(p, 2, name);
  d += detail;
  return VelmoError(number, std::move(d));
}

void raise(long number, std::string_view name, std::string_view detail) { throw engineError(number, name, detail); }

void raiseSqlite(sqlite3* db, int rc, const std::string& context) {
  std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int ext = db ? sqlite3_extended_errcode(db) : rc;
  std::string where = context.empty() ? "" : " [" + context + "]";
  // Failures of the translator's functions.
  if (msg.find("jet_type_mismatch") != std::string::npos) raise(err::TypeMismatch, {}, where);
  if (msg.find("jet_invalid_argument") != std::string::npos) raise(err::InvalidArgument, {}, where);
  if (ext == SQLITE_CONSTRAINT_UNIQUE || ext == SQLITE_CONSTRAINT_PRIMARYKEY) raise(err::DuplicateKey, {}, where);
  if (ext == SQLITE_CONSTRAINT_CHECK) {
    size_t p = msg.find("velmo_size:");
    if (p != std::string::npos) raise(err::FieldTooSmall, msg.substr(p + 11), where);
    p = msg.find("velmo_num:");
    if (p != std::string::npos) raise(err::ConversionError, msg.substr(p + 10), where);
  }
  if (ext == SQLITE_CONSTRAINT_DATATYPE) {
    // "cannot store TEXT value in REAL column T.C"
    size_t p = msg.rfind(' ');
    std::string column = p == std::string::npos ? msg : msg.substr(p + 1);
    size_t dot = column.find('.');
    if (dot != std::string::npos) column = column.substr(dot + 1);
    raise(err::ConversionError, column, where);
  }
  if (ext == SQLITE_CONSTRAINT_NOTNULL) {
    size_t p = msg.rfind(' ');
    std::string column = p == std::string::npos ? msg : msg.substr(p + 1);
    raise(err::NullInRequired, column, where);
  }
  // SQLite's own limits of an expression's depth and of its parser's stack.
  if (msg.find("Expression tree is too large") != std::string::npos || msg.find("parser stack overflow") != std::string::npos)
    raise(err::QueryTooComplex, {}, where);
  int prim = rc & 0xFF;
  if (prim == SQLITE_BUSY || prim == SQLITE_LOCKED) raise(err::CannotLock, context, " (" + msg + ")");
  if (prim == SQLITE_NOTADB) raise(err::NotADatabase, context, " (" + msg + ")");
  if (prim == SQLITE_CANTOPEN || prim == SQLITE_CORRUPT) raise(err::CannotOpen, context, " (" + msg + ")");
  if (prim == SQLITE_READONLY) raise(err::CannotSave, context, " (" + msg + ")");
  if (msg.rfind("no such table", 0) == 0) raise(err::NoSuchTable, msg.substr(msg.find(':') + 2), where);
  if (msg.rfind("no such column", 0) == 0) raise(err::TooFewParameters, msg.substr(msg.find(':') + 2), where);
  raise(err::EngineGeneric, msg, where);
}

}  // namespace velmo::db
