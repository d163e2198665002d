#include "screens/frmsettei.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "mirror/connectiontest.h"
#include "screens/chourglass.h"
#include "screens/commandface.h"
#include "screens/screenutil.h"
#include "screens/wiring.h"
#include "startup/settings.h"
#include "schema/dbversion.h"

namespace velmo::screens {

bool IsReservedFolder(const std::string& d) {
  const std::string p = ProgramDir();
  return d == p + "tmp/" || d == p + "dwn/" || d == p + "initDB/";
}

std::string ReservedFolderMessage(const std::string& d) {
  return "フォルダ[" + d + "]は、Velmo で使用します。他の名前にしてください。";
}

frmSettei::frmSettei(QWidget* parent) : QDialog(parent) {
  setObjectName("frmSettei");
  setWindowTitle("Velmo-設定画面");
  auto* lay = new QVBoxLayout(this);

  fraDB = new QGroupBox("データベース設定", this);
  auto* dbLay = new QGridLayout(fraDB);
  Command1 = new QPushButton("ＤＢバージョンアップ", fraDB);
  Command1->setObjectName("Command1");
  Command1->setIcon(CommandIcon("upgrade"));
  lblDBVersion = new QLabel("DBバージョン", fraDB);
  lblDBVersion->setObjectName("lblDBVersion");
  Label1 = new QLabel("指示が無い限り実行する必要はありません。", fraDB);
  Label1->setObjectName("Label1");
  dbLay->addWidget(Command1, 0, 0);
  dbLay->addWidget(lblDBVersion, 0, 1);
  dbLay->addWidget(Label1, 1, 0, 1, 2);
  dbLay->setColumnStretch(1, 1);
  lay->addWidget(fraDB);

  fraFolder = new QGroupBox("フォルダの設定", this);
  auto* fLay = new QGridLayout(fraFolder);
  auto row = [&](int r, QWidget* label, QLineEdit*& edit, QPushButton*& browse, const char* editName,
                 const char* buttonName) {
    edit = new QLineEdit(fraFolder);
    edit->setObjectName(editName);
    edit->setMinimumWidth(360);
    browse = new QPushButton("参照", fraFolder);
    browse->setObjectName(buttonName);
    browse->setIcon(CommandIcon("folder"));
    fLay->addWidget(label, r, 0);
    fLay->addWidget(edit, r, 1);
    fLay->addWidget(browse, r, 2);
  };
  Label2 = new QLabel("データベースフォルダ", fraFolder);
  Label2->setObjectName("Label2");
  row(0, Label2, Text2, Command2, "Text2", "Command2");
  Label5 = new QLabel("データ保存フォルダ", fraFolder);
  Label5->setObjectName("Label5");
  Label5->setToolTip("インターネットからダウンロードしてデータを登録した場合、登録済みのＬｚｈファイルが格納されます。");
  row(1, Label5, Text3, Command3, "Text3", "Command3");
  chkVAN = new QCheckBox("VANデータ（任意）", fraFolder);
  chkVAN->setObjectName("chkVAN");
  row(2, chkVAN, Text6, Command4, "Text6", "Command4");
  lay->addWidget(fraFolder);

  fraUser = new QGroupBox("ユーザ情報の設定", this);
  auto* uLay = new QGridLayout(fraUser);
  Label4 = new QLabel("ユーザID", fraUser);
  Label4->setObjectName("Label4");
  Text4 = new QLineEdit(fraUser);
  Text4->setObjectName("Text4");
  Label3 = new QLabel("パスワード", fraUser);
  Label3->setObjectName("Label3");
  Text5 = new QLineEdit(fraUser);
  Text5->setObjectName("Text5");
  Text5->setEchoMode(QLineEdit::Password);
  uLay->addWidget(Label4, 0, 0);
  uLay->addWidget(Text4, 0, 1);
  uLay->addWidget(Label3, 1, 0);
  uLay->addWidget(Text5, 1, 1);
  uLay->setColumnStretch(2, 1);
  lay->addWidget(fraUser);

  fraBackup = new QGroupBox("バックアップの設定", this);
  auto* bLay = new QGridLayout(fraBackup);
  lblBackupDir = new QLabel("バックアップフォルダ", fraBackup);
  lblBackupDir->setObjectName("lblBackupDir");
  lblBackupDir->setToolTip("週替わり・削除・最適化・マスタ更新・DBバージョンアップ・SQL画面の前に、書き換えるデータベースの写しをここに作ります。空欄ならデータベースフォルダの backup です。");
  txtBackupDir = new QLineEdit(fraBackup);
  txtBackupDir->setObjectName("txtBackupDir");
  txtBackupDir->setMinimumWidth(360);
  cmdBackupDir = new QPushButton("参照", fraBackup);
  cmdBackupDir->setObjectName("cmdBackupDir");
  cmdBackupDir->setIcon(CommandIcon("folder"));
  lblBackupGenerations = new QLabel("保存する世代数", fraBackup);
  lblBackupGenerations->setObjectName("lblBackupGenerations");
  spnBackupGenerations = new QSpinBox(fraBackup);
  spnBackupGenerations->setObjectName("spnBackupGenerations");
  spnBackupGenerations->setRange(0, 99);
  bLay->addWidget(lblBackupDir, 0, 0);
  bLay->addWidget(txtBackupDir, 0, 1, 1, 2);
  bLay->addWidget(cmdBackupDir, 0, 3);
  auto* generations = new QHBoxLayout;
  generations->addWidget(spnBackupGenerations);
  generations->addWidget(new QLabel("（0 でバックアップしない）", fraBackup));
  generations->addStretch();
  bLay->addWidget(lblBackupGenerations, 1, 0);
  bLay->addLayout(generations, 1, 1, 1, 2);
  bLay->setColumnStretch(1, 1);
  lay->addWidget(fraBackup);

  fraMirror = new QGroupBox("PostgreSQL ミラー", this);
  auto* mLay = new QGridLayout(fraMirror);
  txtMirror = new QLineEdit(fraMirror);
  txtMirror->setObjectName("txtMirror");
  txtMirror->setPlaceholderText("postgresql://velmo@dbhost/keiba （空欄ならミラーしない）");
  txtMirror->setToolTip("三つのデータベースのすべての表を PostgreSQL に写します。libpq の接続文字列か URI です。");
  cmdMirrorTest = new QPushButton("接続テスト", fraMirror);
  cmdMirrorTest->setObjectName("cmdMirrorTest");
  mLay->addWidget(new QLabel("接続先", fraMirror), 0, 0);
  mLay->addWidget(txtMirror, 0, 1);
  mLay->addWidget(cmdMirrorTest, 0, 2);
  mLay->setColumnStretch(1, 1);
  lay->addWidget(fraMirror);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  CancelButton = new QPushButton("ｷｬﾝｾﾙ", this);
  CancelButton->setObjectName("CancelButton");
  for (QPushButton* b : {OKButton, CancelButton}) {
    b->setMinimumWidth(96);
    buttons->addWidget(b);
  }
  lay->addLayout(buttons);

  connect(chkVAN, &QCheckBox::toggled, this, [this](bool on) { Text6->setEnabled(on); });
  connect(Command1, &QPushButton::clicked, this, &frmSettei::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, [this]() {
    std::string start = S(Text2->text());
    if (start.empty()) start = S(QDir::currentPath());
    std::string d = PickFolder(this, "データベースフォルダを選択", start);
    if (!d.empty()) Text2->setText(Q(AddPathSep(d)));
  });
  connect(Command3, &QPushButton::clicked, this, [this]() {
    std::string d = PickFolder(this, "データ保存フォルダを選択", "");
    if (!d.empty()) Text3->setText(Q(AddPathSep(d)));
  });
  connect(Command4, &QPushButton::clicked, this, [this]() {
    std::string d = PickFolder(this, "JRA-VANデータ保存フォルダを選択", "");
    if (!d.empty()) Text6->setText(Q(AddPathSep(d)));
  });
  connect(cmdBackupDir, &QPushButton::clicked, this, [this]() {
    std::string d = PickFolder(this, "バックアップフォルダを選択", S(txtBackupDir->text()));
    if (!d.empty()) txtBackupDir->setText(Q(AddPathSep(d)));
  });
  connect(cmdMirrorTest, &QPushButton::clicked, this, [this]() {
    mirror::ConnectionTestResult r;
    {
      CHourglass wait;
      r = mirror::TestConnection(text::trimBlanks(S(txtMirror->text())));
    }
    MsgBox(r.message, vbOKOnly, "接続テスト");
  });
  connect(OKButton, &QPushButton::clicked, this, &frmSettei::OKButton_Click);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  formLoad();
}

void frmSettei::formLoad() {
  Text2->setText(Q(GetIni("main", "DBDir", "")));
  Text3->setText(Q(GetIni("main", "LzhDir", "")));
  Text4->setText(Q(GetIni("main", "UserID", "")));
  Text6->setText(Q(GetIni("main", "VANDir", "")));
  try {
    Text5->setText(Q(DecodeSetting(GetIni("main", "Passwd", ""))));
  } catch (const std::exception&) {
    Text5->clear();  // a stored value this program cannot read back
  }
  chkVAN->setChecked(GetIni("main", "VAN", "0") == "1");
  Text6->setEnabled(chkVAN->isChecked());
  lblDBVersion->setText(Q(DatabaseVersion()));
  txtBackupDir->setText(Q(GetIni("main", "BackupDir", "")));
  txtBackupDir->setPlaceholderText(Q(AddPathSep(S(Text2->text())) + "backup/"));
  spnBackupGenerations->setValue(BackupGenerations());
  txtMirror->setText(Q(MirrorSetting()));
}

void frmSettei::markRed(bool storage, bool database) {
  if (storage) Text3->setStyleSheet("background-color: #ff8080;");
  if (database) Text2->setStyleSheet("background-color: #ff8080;");
}

void frmSettei::Command1_Click() {
  ScreenCommandUi ui(this);
  dbVersionUp(ui);
  lblDBVersion->setText(Q(DatabaseVersion()));
}

void frmSettei::OKButton_Click() {
  const std::string d = AddPathSep(S(Text2->text()));
  if (IsReservedFolder(d)) {
    MsgBox(ReservedFolderMessage(d), vbOKOnly, "Velmo");
    return;
  }
  const std::string l = AddPathSep(S(Text3->text()));
  if (IsReservedFolder(l)) {
    MsgBox(ReservedFolderMessage(l), vbOKOnly, "Velmo");
    return;
  }
  if (Text4->text().isEmpty() || Text5->text().isEmpty()) {
    MsgBox("ユーザＩＤ、パスワードを入力してください。", vbOKOnly, "Velmo");
    return;
  }
  std::string stored;
  try {
    stored = EncodeSetting(S(Text5->text()));
  } catch (const std::exception&) {
    // Too short to scramble: the password is kept as typed.
    stored = S(Text5->text());
  }
  SetIni("main", "DBDir", d);
  SetIni("main", "LzhDir", l);
  SetIni("main", "VANDir", Text6->text().isEmpty() ? std::string() : AddPathSep(S(Text6->text())));
  SetIni("main", "VAN", chkVAN->isChecked() ? "1" : "0");
  SetIni("main", "UserID", S(Text4->text()));
  SetIni("main", "Passwd", stored);
  SetIni("main", "BackupDir", txtBackupDir->text().isEmpty() ? std::string() : AddPathSep(S(txtBackupDir->text())));
  SetIni("main", "BackupGenerations", std::to_string(spnBackupGenerations->value()));
  SetIni("main", "Mirror", text::trimBlanks(S(txtMirror->text())));
  LoadSettings();
  MsgBox("設定を有効にする為 Velmo を再起動してください。", vbOKOnly, "Velmo");
  accept();
}

}  // namespace velmo::screens
