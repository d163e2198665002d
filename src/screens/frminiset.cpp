#include "screens/frminiset.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "screens/chourglass.h"
#include "screens/frmsettei.h"
#include "screens/screenutil.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"

namespace fs = std::filesystem;

namespace velmo::screens {

std::string DefaultSetupBase() {
  std::string base = WritableDir(UserFolder::Data);
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

namespace {
QLabel* text(const char* t, QWidget* parent) {
  auto* l = new QLabel(t, parent);
  l->setWordWrap(true);
  return l;
}
QPushButton* button(const char* caption, const char* name, QWidget* parent) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  return b;
}
}  // namespace

frmIniSet::frmIniSet(QWidget* parent) : QDialog(parent) {
  setObjectName("frmIniSet");
  setWindowTitle("Velmo-初期設定画面");
  auto* lay = new QVBoxLayout(this);

  fraStep1 = new QGroupBox("１．データベースフォルダの設定", this);
  auto* s1 = new QGridLayout(fraStep1);
  s1->addWidget(text("「データベースファイル（～.mdb）」を格納するフォルダを設定します。 ", fraStep1), 0, 0, 1, 5);
  s1->addWidget(text("過去データ保存用のＤＢファイル(kova_data.mdb)は、１年分のデータで 120MB "
                     "の大きさになることがあります。これを参考に、ディスク容量に余裕のあるパーティション（ディスク）"
                     "内のフォルダを設定してください。 ",
                     fraStep1),
                1, 0, 1, 5);
  s1->addWidget(new QLabel("データベースフォルダ", fraStep1), 2, 0);
  txtDBdir = new QLineEdit(fraStep1);
  txtDBdir->setObjectName("txtDBdir");
  txtDBdir->setMinimumWidth(320);
  s1->addWidget(txtDBdir, 2, 1);
  cmdDBdirGet = button("参照", "cmdDBdirGet", fraStep1);
  cmdDBdirGet->setIcon(CommandIcon("folder"));
  cmdMakeDir = button("フォルダ作成", "cmdMakeDir", fraStep1);
  cmdDB_OK = button("ＯＫ", "cmdDB_OK", fraStep1);
  s1->addWidget(cmdDBdirGet, 2, 2);
  s1->addWidget(cmdMakeDir, 2, 3);
  s1->addWidget(cmdDB_OK, 2, 4);
  s1->setColumnStretch(1, 1);
  lay->addWidget(fraStep1);

  fraStep2 = new QGroupBox("２．データベースファイルのコピー", this);
  auto* s2 = new QGridLayout(fraStep2);
  s2->addWidget(text("初期状態の「データベースファイル」を「データベースフォルダ」にコピーします。\n"
                     "データベースは、次の３ファイルで構成されています。\n"
                     "　kova_code.mdb : コード表などを格納しています。\n"
                     "　kova_data.mdb : 過去分のデータを格納します。\n"
                     "　kova_this.mdb : 今週分のデータを格納します。\n"
                     "右の「初期ＤＢコピー」ボタンを押すと３つの「データベースファイル」がコピーされます。",
                     fraStep2),
                0, 0, 1, 2);
  s2->addWidget(text("※既に使用中のデータベースがデータベースフォルダにある場合は、「初期ＤＢコピー」の必要はありません。",
                     fraStep2),
                1, 0, 1, 2);
  s2->addWidget(new QLabel("データベースフォルダ内ファイル", fraStep2), 2, 0);
  File1 = new QListWidget(fraStep2);
  File1->setObjectName("File1");
  File1->setMaximumHeight(90);
  s2->addWidget(File1, 3, 0, 2, 1);
  cmdCopy = button("初期DBコピー", "cmdCopy", fraStep2);
  cmdCopy->setIcon(CommandIcon("copy"));
  cmdCopy_OK = button("ＯＫ", "cmdCopy_OK", fraStep2);
  s2->addWidget(cmdCopy, 3, 1, Qt::AlignTop);
  s2->addWidget(cmdCopy_OK, 4, 1, Qt::AlignTop);
  s2->setColumnStretch(0, 1);
  lay->addWidget(fraStep2);

  fraStep3 = new QGroupBox("３．データ保存フォルダの設定", this);
  auto* s3 = new QGridLayout(fraStep3);
  s3->addWidget(text("ダウンロードした圧縮データファイル(～.lzh)を保存するフォルダを設定します。", fraStep3), 0, 0, 1, 5);
  s3->addWidget(new QLabel("データ保存フォルダ", fraStep3), 1, 0);
  txtLZHdir = new QLineEdit(fraStep3);
  txtLZHdir->setObjectName("txtLZHdir");
  s3->addWidget(txtLZHdir, 1, 1);
  cmdLZHdirGet = button("参照", "cmdLZHdirGet", fraStep3);
  cmdLZHdirGet->setIcon(CommandIcon("folder"));
  cmdMakeDir2 = button("フォルダ作成", "cmdMakeDir2", fraStep3);
  cmdLZH_OK = button("ＯＫ", "cmdLZH_OK", fraStep3);
  s3->addWidget(cmdLZHdirGet, 1, 2);
  s3->addWidget(cmdMakeDir2, 1, 3);
  s3->addWidget(cmdLZH_OK, 1, 4);
  s3->setColumnStretch(1, 1);
  lay->addWidget(fraStep3);

  cmdNextSet = button("次に設定画面でＩＤ・パスワードを設定してください。", "cmdNextSet", this);
  cmdNextSet->setIcon(CommandIcon("settings"));
  cmdNextSet->setMinimumHeight(34);
  cmdNextSet->setEnabled(false);
  lay->addWidget(cmdNextSet);

  enableStep(fraStep2, false);
  enableStep(fraStep3, false);

  const std::string base = DefaultSetupBase();
  txtDBdir->setText(Q(GetIni("main", "DBDir", base + "/DB")));
  txtLZHdir->setText(Q(GetIni("main", "LzhDir", base + "/Lzh")));

  SetOpeningSize(this);

  connect(cmdDBdirGet, &QPushButton::clicked, this, [this]() {
    std::string d = PickFolder(this, "データベースフォルダを選択", "");
    if (!d.empty()) txtDBdir->setText(Q(AddPathSep(d)));
  });
  connect(cmdLZHdirGet, &QPushButton::clicked, this, [this]() {
    std::string d = PickFolder(this, "データ保存フォルダを選択", "");
    if (!d.empty()) txtLZHdir->setText(Q(AddPathSep(d)));
  });
  connect(cmdMakeDir, &QPushButton::clicked, this,
          [this]() { makeFolder(S(txtDBdir->text()), "frmIniSet/cmdMakeDir"); });
  connect(cmdMakeDir2, &QPushButton::clicked, this,
          [this]() { makeFolder(S(txtLZHdir->text()), "frmIniSet/cmdMakeDir2"); });
  connect(cmdDB_OK, &QPushButton::clicked, this, &frmIniSet::cmdDB_OK_Click);
  connect(cmdCopy, &QPushButton::clicked, this, &frmIniSet::cmdCopy_Click);
  connect(cmdCopy_OK, &QPushButton::clicked, this, &frmIniSet::cmdCopy_OK_Click);
  connect(cmdLZH_OK, &QPushButton::clicked, this, &frmIniSet::cmdLZH_OK_Click);
  connect(cmdNextSet, &QPushButton::clicked, this, &frmIniSet::cmdNextSet_Click);
}

void frmIniSet::enableStep(QGroupBox* step, bool on) {
  for (QWidget* w : step->findChildren<QWidget*>()) w->setEnabled(on);
}

// Creates a missing folder after asking; an existing one is left alone.
bool frmIniSet::makeFolder(const std::string& folder, const char* where) {
  try {
    if (FolderExists(folder)) return true;
    if (MsgBox("フォルダを作成しますか？", vbOKOnly, "Velmo") != vbOK) return false;
    if (!MakeDirAll(folder)) throw VelmoError(err::PathNotFound, "フォルダを作成できません。[" + folder + "]");
    return true;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), where, false, false);
    return false;
  }
}

void frmIniSet::refreshFiles() {
  File1->clear();
  std::vector<std::string> names = ListFiles(AddPathSep(S(txtDBdir->text())) + "*");
  std::sort(names.begin(), names.end());
  for (const auto& n : names) File1->addItem(Q(n));
}

void frmIniSet::cmdDB_OK_Click() {
  try {
    const std::string d = AddPathSep(S(txtDBdir->text()));
    if (IsReservedFolder(d)) {
      MsgBox(ReservedFolderMessage(d), vbOKOnly, "Velmo");
      return;
    }
    if (!FolderExists(d) && !makeFolder(d, "frmIniSet/cmdDB_OK")) return;
    SetIni("main", "DBDir", d);
    G().gDBDir = d;
    enableStep(fraStep2, true);
    refreshFiles();
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "frmIniSet/cmdDB_OK", false, false);
  }
}

void frmIniSet::cmdCopy_Click() {
  const std::string shown = S(txtDBdir->text());
  const std::string target = AddPathSep(shown);
  std::string failure;
  {
    // The wait cursor covers the whole copy, questions included.
    CHourglass wait;
    std::vector<std::string> sources = ListFiles(ProgramDir() + "initDB/*.mdb");
    std::sort(sources.begin(), sources.end());
    for (const auto& name : sources) {
      if (FileExists(target + name)) {
        std::string folder = shown;
        while (!folder.empty() && folder.back() == '/') folder.pop_back();
        if (MsgBox("[" + folder + "/" + name + "] は既に存在します。上書きしますか？", vbOKCancel, "Velmo") != vbOK)
          continue;
      }
      std::error_code ec;
      fs::copy_file(ProgramDir() + "initDB/" + name, target + name, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        // A locked or read-only target stops the copy at that file.
        WriteLog(ErrObject(err::CannotSave, "コピーできません。[" + target + name + "] " + ec.message()),
                 "frmIniSet/cmdCopy", false, true);
        failure = "[" + target + name + "] にコピーできませんでした。\r\n" + ec.message();
        break;
      }
    }
  }
  refreshFiles();
  MsgBox(failure.empty() ? std::string("処理終了しました。") : failure, vbOKOnly, "Velmo");
}

void frmIniSet::cmdCopy_OK_Click() {
  const std::string d = AddPathSep(S(txtDBdir->text()));
  if (FileExists(d + "kova_data.mdb") && FileExists(d + "kova_code.mdb") && FileExists(d + "kova_this.mdb")) {
    enableStep(fraStep3, true);
  } else {
    MsgBox("データベースフォルダに、「kova_????.mdb」が入っていません｡ ", vbOKOnly, "Velmo");
  }
}

void frmIniSet::cmdLZH_OK_Click() {
  const std::string l = AddPathSep(S(txtLZHdir->text()));
  if (IsReservedFolder(l)) {
    MsgBox(ReservedFolderMessage(l), vbOKOnly, "Velmo");
    return;
  }
  if (!FolderExists(l) && !makeFolder(l, "frmIniSet/cmdMakeDir2")) return;
  SetIni("main", "LzhDir", l);
  G().gLzhDir = l;
  cmdNextSet->setEnabled(true);
}

void frmIniSet::cmdNextSet_Click() {
  frmSettei s(this);
  s.exec();
  accept();
}

}  // namespace velmo::screens
