#include "screens/frmmnt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "registration/batch.h"
#include "registration/pipeline.h"
#include "registration/driver.h"
#include "screens/chourglass.h"
#include "screens/commandface.h"
#include "screens/datagrid.h"
#include "screens/frmabout.h"
#include "screens/frminiset.h"
#include "screens/frmint.h"
#include "screens/frmledger.h"
#include "screens/frmsettei.h"
#include "screens/frmsql.h"
#include "screens/screenutil.h"
#include "screens/wiring.h"
#include "startup/platform/applog.h"
#include "download/latest.h"
#include "maintenance/maintenance.h"
#include "schema/dbversion.h"
#include "schema/datacheck.h"
#include "van/vandriver.h"

namespace velmo::screens {

namespace {
// A number as the runtime writes it: a blank in place of the sign.
std::string num(long v) { return (v >= 0 ? " " : "") + std::to_string(v); }
// "yyyy/mm/dd" back to "yyyymmdd".
std::string ymdOf(const std::string& shown) {
  std::string r;
  for (char c : shown)
    if (c != '/') r += c;
  return r;
}
QLabel* heading(const char* text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}
}  // namespace

frmMnt::frmMnt(QWidget* parent) : QMainWindow(parent) {
  setObjectName("frmMnt");
  setWindowTitle("Velmo-メイン画面");
  setWindowIcon(QIcon(Q(ProgramDir() + "icons/velmo.png")));
  buildMenus();

  auto* central = new QWidget(this);
  auto* lay = new QGridLayout(central);
  lay->setHorizontalSpacing(10);

  // This week.
  auto* thisBox = new QVBoxLayout;
  thisBox->addWidget(heading("今週データ（kova_this.mdb）", central));
  auto* thisButtons = new QHBoxLayout;
  cmdInternetT = commandButton("cmdInternetT", "internet", "インターネットから登録");
  cmdFileInpT = commandButton("cmdFileInpT", "file", "ファイルから登録");
  cmdFileInpTV = commandButton("cmdFileInpTV", "van", "ファイルからVANデータを登録");
  cmdDeleteThis = commandButton("cmdDeleteThis", "delete", "今週分データ一覧ウインドウで削除範囲を指定して下さい。");
  for (QPushButton* b : {cmdInternetT, cmdFileInpT, cmdFileInpTV, cmdDeleteThis}) thisButtons->addWidget(b);
  thisButtons->addStretch();
  thisBox->addLayout(thisButtons);
  Gr1 = new DataGrid(central);
  Gr1->setObjectName("Gr1");
  m1_ = new DataListModel(this);
  Gr1->setModel(m1_);
  thisBox->addWidget(Gr1, 1);
  lay->addLayout(thisBox, 0, 0);

  // The changeover between the two.
  auto* middle = new QVBoxLayout;
  middle->addStretch();
  cmdWeekChange = commandButton("cmdWeekChange", "changeover", "「今週データ」から「過去データ」にデータを移動します。");
  cmdWeekChange->setIconSize(QSize(40, 40));
  cmdWeekChange->setFixedSize(56, 56);
  middle->addWidget(cmdWeekChange);
  middle->addStretch();
  lay->addLayout(middle, 0, 1);

  // Past data.
  auto* pastBox = new QVBoxLayout;
  pastBox->addWidget(heading("過去データ（kova_data.mdb）", central));
  auto* pastButtons = new QHBoxLayout;
  cmdInternet = commandButton("cmdInternet", "internet", "インターネットから登録");
  CmdFileInp = commandButton("CmdFileInp", "file", "ファイルから登録");
  CmdFileInpV = commandButton("CmdFileInpV", "van", "ファイルからVANデータを登録");
  cmdDelete = commandButton("cmdDelete", "delete", "過去分データ一覧ウインドウで削除範囲を指定して下さい。");
  for (QPushButton* b : {cmdInternet, CmdFileInp, CmdFileInpV, cmdDelete}) pastButtons->addWidget(b);
  pastButtons->addStretch();
  pastBox->addLayout(pastButtons);
  Gr2 = new DataGrid(central);
  Gr2->setObjectName("Gr2");
  m2_ = new DataListModel(this);
  Gr2->setModel(m2_);
  pastBox->addWidget(Gr2, 1);
  lay->addLayout(pastBox, 0, 2);

  // Masters and the end.
  auto* masterBox = new QVBoxLayout;
  masterBox->addWidget(heading("マスタ（kova_this.mdb）", central));
  auto* masterButtons = new QHBoxLayout;
  cmdMasterUpdate = commandButton("cmdMasterUpdate", "master", "インターネットからマスタデータ更新");
  masterButtons->addWidget(cmdMasterUpdate);
  masterButtons->addStretch();
  masterBox->addLayout(masterButtons);
  Gr3 = new DataGrid(central);
  Gr3->setObjectName("Gr3");
  m3_ = new MasterModel(this);
  Gr3->setModel(m3_);
  Gr3->setSelectionMode(QAbstractItemView::NoSelection);
  Gr3->setWidths({1100, 1000, 600}, {"調教師マスタ", "0000/00/00", "00000"});
  Gr3->setFixedHeight(Gr3->horizontalHeader()->sizeHint().height() + 2 * Gr3->verticalHeader()->defaultSectionSize() + 4);
  Gr3->setFixedWidth(Gr3->columnsWidth() + 4);
  Gr3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Gr3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  masterBox->addWidget(Gr3);
  auto* logo = new QLabel(central);
  logo->setObjectName("Image1");
  QPixmap pic(Q(ProgramDir() + "pic/velmo_Rogo.jpg"));
  if (!pic.isNull()) logo->setPixmap(pic.scaled(Gr3->columnsWidth(), 160, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  masterBox->addWidget(logo);
  masterBox->addStretch();
  auto* exitRow = new QHBoxLayout;
  exitRow->addStretch();
  cmdExit = commandButton("cmdExit", "exit", "Velmoを終了します。");
  exitRow->addWidget(cmdExit);
  masterBox->addLayout(exitRow);
  lay->addLayout(masterBox, 0, 3);

  for (DataGrid* g : {Gr1, Gr2}) {
    g->setWidths({1000, 1000, 800, 800, 800, 800, 800}, {"0000/00/00", "KOVA完", "CYA02", "TYB02", "HJC02", "SEC完", "SKB02"});
    g->setMinimumWidth(g->columnsWidth() + g->verticalScrollBar()->sizeHint().width() + 6);
  }
  Label4 = new QLabel("※直前データ(TY*)登録の前に前日データ(KOVA)を登録して下さい。", central);
  Label4->setObjectName("Label4");
  Label4->setStyleSheet("color: #b00000;");
  Label4->hide();
  lay->addWidget(Label4, 1, 0, 1, 4);
  lay->setColumnStretch(0, 1);
  lay->setColumnStretch(2, 1);
  setCentralWidget(central);

  // One text panel that keeps its text until the next command writes one (a
  // temporary message would vanish as soon as a menu opens).
  StatusBar1 = statusBar();
  StatusBar1->setObjectName("StatusBar1");
  lblStatus_ = new QLabel(StatusBar1);
  lblStatus_->setObjectName("StatusBar1Text");
  // A long path in the text never widens the window.
  lblStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  StatusBar1->addWidget(lblStatus_, 1);
  // The internet registration opens once the screen has loaded its data.
  cmdInternetT->setEnabled(false);
  cmdInternet->setEnabled(false);
  cmdFileInpTV->hide();
  CmdFileInpV->hide();

  connect(cmdInternetT, &QPushButton::clicked, this, [this]() { internetRegister("T"); });
  connect(cmdInternet, &QPushButton::clicked, this, [this]() { internetRegister("D"); });
  connect(cmdFileInpT, &QPushButton::clicked, this, [this]() {
    regDataFiles(G().gLzhDir, "T", "J");
    fillGr1();
  });
  connect(CmdFileInp, &QPushButton::clicked, this, [this]() {
    regDataFiles(G().gLzhDir, "D", "J");
    fillGr2();
  });
  connect(cmdFileInpTV, &QPushButton::clicked, this, [this]() {
    regDataFiles(G().gVANDir, "T", "V");
    fillGr1();
  });
  connect(CmdFileInpV, &QPushButton::clicked, this, [this]() {
    regDataFiles(G().gVANDir, "D", "V");
    fillGr2();
  });
  connect(cmdDeleteThis, &QPushButton::clicked, this, &frmMnt::cmdDeleteThis_Click);
  connect(cmdDelete, &QPushButton::clicked, this, &frmMnt::cmdDelete_Click);
  connect(cmdWeekChange, &QPushButton::clicked, this, &frmMnt::cmdWeekChange_Click);
  connect(cmdMasterUpdate, &QPushButton::clicked, this, &frmMnt::cmdMasterUpdate_Click);
  connect(cmdExit, &QPushButton::clicked, this, &QWidget::close);

  resize(1180, 600);
  formLoad();
}

frmMnt::~frmMnt() {
  if (G().gStatusForm == this) G().gStatusForm = nullptr;
}

QPushButton* frmMnt::commandButton(const char* name, const char* icon, const char* tip) {
  auto* b = new QPushButton(this);
  b->setObjectName(name);
  b->setIcon(CommandIcon(icon));
  b->setIconSize(QSize(32, 32));
  b->setFixedSize(46, 46);
  b->setToolTip(tip);
  b->setAccessibleName(tip);
  return b;
}

void frmMnt::buildMenus() {
  QMenuBar* bar = menuBar();
  cmdFile = bar->addMenu("ファイル(&F)");
  cmdFile->setObjectName("cmdFile");
  cmdEnd = cmdFile->addAction("終了(&X)", this, &QWidget::close);
  cmdEnd->setObjectName("cmdEnd");

  mnuTool = bar->addMenu("ツール(&T)");
  mnuTool->setObjectName("mnuTool");
  cmdDBcompact_this = mnuTool->addAction("ＤＢの最適化（今週分ＤＢ）", this,
                                         [this]() { cmdDBcompact_Click("kova_this.mdb"); });
  cmdDBcompact_this->setObjectName("cmdDBcompact_this");
  cmdDBcompact_data = mnuTool->addAction("ＤＢの最適化（過去分ＤＢ）-長時間", this,
                                         [this]() { cmdDBcompact_Click("kova_data.mdb"); });
  cmdDBcompact_data->setObjectName("cmdDBcompact_data");
  cmdDataChk = mnuTool->addAction("データチェック", this, &frmMnt::cmdDataChk_Click);
  cmdDataChk->setObjectName("cmdDataChk");
  cmdMakeItiran = mnuTool->addAction("一覧データ再作成", this, &frmMnt::cmdMakeItiran_Click);
  cmdMakeItiran->setObjectName("cmdMakeItiran");
  // The JRA-VAN code re-conversion is wired by the JRA-VAN conversion.
  cmdVanDodeSaihenkan = mnuTool->addAction("VANコード再変換", this, [this]() {
    ScreenCommandUi ui(this, this);
    VanCodeRecode(ui);
  });
  cmdVanDodeSaihenkan->setObjectName("cmdVanDodeSaihenkan");
  mnuLine1 = mnuTool->addSeparator();
  mnuLine1->setObjectName("mnuLine1");
  cmdsettei = mnuTool->addAction("設定(S)", this, [this]() {
    frmSettei f(this);
    f.exec();
  });
  cmdsettei->setObjectName("cmdsettei");
  cmdIniSet = mnuTool->addAction("初期設定(&I)", this, [this]() {
    frmIniSet f(this);
    f.exec();
  });
  cmdIniSet->setObjectName("cmdIniSet");
  cmdSQLGamen = mnuTool->addAction("SQL画面－緊急修正用(&Q)", this, [this]() {
    frmSQL f(this);
    f.exec();
  });
  cmdSQLGamen->setObjectName("cmdSQLGamen");
  cmdLedger = mnuTool->addAction("データ台帳(&L)", this, [this]() { ledgerWindow(); });
  cmdLedger->setObjectName("cmdLedger");

  menHelp = bar->addMenu("ヘルプ(&H)");
  menHelp->setObjectName("menHelp");
  cmdHelp = menHelp->addAction("ヘルプ(&C)", this, []() { ShowHelp(); });
  cmdHelp->setObjectName("cmdHelp");
  cmdVirsion = menHelp->addAction("バージョン(&A)", this, [this]() {
    frmAbout f(this);
    f.exec();
  });
  cmdVirsion->setObjectName("cmdVirsion");
}

void frmMnt::formLoad() {
  auto& g = G();
  try {
    const std::string version = DatabaseVersion();
    if (version != "Ver7.2") {
      if (version < "Ver7.2") {
        MsgBox("データベースのバージョンが合っていません。\r\nメイン画面起動後に [ツール]-[設定画面] で "
               "\r\n「ＤＢバージョンアップ」を実行してください。",
               vbOKOnly, "");
        return;
      }
      MsgBox(version + "\r\nメイン画面起動後に [ツール]-[設定画面] の \r\nデータベースフォルダ、データベース設定を確認してください。",
             vbOKOnly, "");
    }
    RestorePosition(this, "frmMnt");
    fillGr2();
    fillGr1();
    fillGr3();
    if (g.gVAN != 1) {
      cmdVanDodeSaihenkan->setVisible(false);
      cmdVanDodeSaihenkan->setEnabled(false);
    } else {
      cmdFileInpTV->show();
      CmdFileInpV->show();
      cmdVanDodeSaihenkan->setEnabled(true);
      addCodeNameFields(g.gDBDir + "kova_this.mdb");
    }
    cmdInternet->setEnabled(true);
    cmdInternetT->setEnabled(true);
    Label4->show();
    DoEvents();
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "Form_Load", false, false);
    MsgBox("起動エラー", vbOKOnly, "");
  }
}

void frmMnt::closeEvent(QCloseEvent* e) {
  SavePosition(this, "frmMnt", true);
  QMainWindow::closeEvent(e);
}

std::string frmMnt::statusText() const { return S(lblStatus_->text()); }
void frmMnt::setStatusText(const std::string& t) { lblStatus_->setText(Q(t)); }
void frmMnt::refresh() { StatusBar1->repaint(); }

void frmMnt::fillGr1() { m1_->fill(G().gDBDir + "kova_this.mdb", "Tデータ一覧テーブル"); }
void frmMnt::fillGr2() { m2_->fill(G().gDBDir + "kova_data.mdb", "Dデータ一覧テーブル"); }
void frmMnt::fillGr3() { m3_->fill(G().gDBDir + "kova_this.mdb"); }

void frmMnt::internetRegister(const std::string& mode) {
  DataGrid* grid = mode == "T" ? Gr1 : Gr2;
  frmInt f(this);
  f.gstrTDM = mode == "T" ? "T??" : "?D?";
  f.gstrSet = "通常";
  std::string a = ymdOf(grid->currentDate());
  std::string e = ymdOf(grid->selectionEndDate());
  if (!e.empty()) {
    if (a.empty()) a = e;
    f.setRange(std::min(a, e), std::max(a, e));
  } else {
    f.setSingle(S(QDate::currentDate().toString("yyyyMMdd")));
  }
  f.exec();
  registerDownloads(mode);
}

void frmMnt::ledgerWindow() {
  frmLedger f(this);
  f.setMode(Gr2->hasFocus() ? "D" : "T");
  f.loadLedger(false);
  f.exec();
  if (f.fetchedCount() == 0) return;
  G().gDownOnly = 0;
  registerDownloads(f.mode());
}

void frmMnt::registerDownloads(const std::string& mode) {
  auto& g = G();
  if (g.gDownOnly == 1) {
    DataIdoDir();
  } else if (g.gFetchResult == 1) {
    CHourglass wait;
    g.gStatusForm = this;
    regDataDir(mode);
    try {
      mode == "T" ? fillGr1() : fillGr2();
    } catch (const std::exception& ex) {
      WriteLog(ErrObject::from(ex), "frmMnt/cmdInternet", false, false);
    }
    MsgBox(g.gFetchResult == -1 ? "データ登録異常終了しました。" : "データ登録完了しました。", vbOKOnly, "Velmo");
    g.gFetchResult = 0;
  }
}

void frmMnt::regDataDir(const std::string& mode) {
  ScreenCommandUi ui(this, this);
  velmo::regDataDir(ui, mode);
}

void frmMnt::regDataFiles(const std::string& folder, const std::string& mode, const std::string& source) {
  FileChoice choice;
  choice.title = "LZHデータを選択する";
  choice.folder = folder;
  // Both spellings of the extension: names on this desktop keep their case.
  choice.filters = {"すべてのファイル (*.*)", "LHA圧縮ファイル(*.LZH *.lzh)"};
  choice.selectedFilter = 1;
  std::vector<std::string> paths = ChooseFiles(this, choice);
  if (paths.empty()) return;  // cancelled
  registerArchives(paths, mode, source);
}

void frmMnt::openArchives(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  std::string names;
  bool allVan = true;
  for (const auto& p : paths) {
    names += "\r\n" + p;
    const std::string name = p.substr(p.find_last_of('/') + 1);
    allVan = allVan && (name.rfind("JV", 0) == 0 || name.rfind("jv", 0) == 0);
  }
  const int answer = MsgBox("次のファイルを登録しますか？" + names +
                                "\r\n\r\nはい：今週データ（kova_this.mdb）に登録　いいえ：過去データ（kova_data.mdb）に登録",
                            vbYesNoCancel, "Velmo");
  if (answer != vbYes && answer != vbNo) return;
  // JRA-VAN archives (JVyymmdd.lzh) are converted when the JRA-VAN features are on.
  registerArchives(paths, answer == vbYes ? "T" : "D", allVan && G().gVAN == 1 ? "V" : "J");
}

void frmMnt::registerArchives(std::vector<std::string> paths, const std::string& mode, const std::string& source) {
  OrderArchives(paths);
  auto& g = G();
  std::string note;
  std::string last;
  {
    CHourglass wait;
    // The archives are committed a couple of seconds' worth at a time.
    ArchiveBatch batch(g.gDBDir);
    // The next archives are unpacked and decoded on a second thread meanwhile.
    ArchivePipeline::Options ahead;
    ahead.source = source;
    ahead.mode = mode;
    ArchivePipeline pipe(paths, ahead);
    const long n = static_cast<long>(paths.size());
    for (long i = 0; i < n; ++i) {
      const std::string& path = paths[i];
      std::unique_ptr<PreparedArchive> prep = pipe.next();
      last = path;
      setStatusText(path + "を取り込み中です(" + num(i + 1) + "/" + num(n) + ")");
      refresh();
      g.gStatusForm = this;
      batch.begin();
      const long r = regMain(path, mode, source, prep.get());
      if ((r == -1 || batch.due()) && !batch.commit()) {
        note = "（一部データ登録異常がありました）";
        break;
      }
      if (r == -1) {
        if (MsgBox("処理を続行しますか？", vbOKCancel, "Velmo") != vbOK) {
          setStatusText(path + "登録キャンセルしました。");
          note = "（一部データ登録異常がありました）";
          break;
        }
      } else {
        setStatusText(path + "登録完了。");
      }
    }
    if (!batch.commit()) note = "（一部データ登録異常がありました）";
    try {
      fillGr2();
    } catch (const std::exception& ex) {
      WriteLog(ErrObject::from(ex), "frmMnt/regDataFiles", false, false);
    }
  }
  MsgBox("登録処理が終了しました" + note + "\r\n" + last, vbOKOnly, "Velmo");
}

void frmMnt::DataIdoDir() {
  auto& g = G();
  for (const auto& name : ListFiles(g.gDwnDir + "*.lzh")) MoveFileOver(g.gDwnDir + name, AddPathSep(g.gLzhDir) + name);
}

void frmMnt::cmdDeleteThis_Click() {
  ScreenCommandUi ui(this, this);
  const std::string e1 = Gr1->currentDate();
  const std::string e2 = Gr1->selectionEndDate();
  if (DeleteThisWeek(ui, e1, e2) == Outcome::Done) fillGr1();
}

void frmMnt::cmdDelete_Click() {
  ScreenCommandUi ui(this, this);
  const std::string e1 = Gr2->currentDate();
  const std::string e2 = Gr2->selectionEndDate();
  if (DeletePast(ui, e1, e2) == Outcome::Done) fillGr2();
}

void frmMnt::cmdWeekChange_Click() {
  ScreenCommandUi ui(this, this);
  if (WeekChange(ui) == Outcome::Done) {
    fillGr1();
    fillGr2();
  }
}

void frmMnt::cmdMasterUpdate_Click() {
  ScreenCommandUi ui(this, this);
  SetFetchFunctions(FetchFunctions{&getNewFile, &subFileDownload});
  G().gStatusForm = this;
  // The master grid shows what was registered before the closing message, also
  // after the member stopped the registration.
  ui.setMasterGridRefill([this]() {
    try {
      fillGr3();
    } catch (const std::exception& ex) {
      WriteLog(ErrObject::from(ex), "frmMnt/cmdMasterUpdate", false, false);
    }
  });
  MasterUpdate(ui);
}

void frmMnt::cmdDBcompact_Click(const std::string& file) {
  ScreenCommandUi ui(this, this);
  DBcompact(ui, G().gDBDir + file);
}

void frmMnt::cmdDataChk_Click() {
  ScreenCommandUi ui(this, this);
  SetFetchFunctions(FetchFunctions{&getNewFile, &subFileDownload});
  if (DataChk(ui) == Outcome::Done) OpenInBrowser(DataCheckReportPath());
}

void frmMnt::cmdMakeItiran_Click() {
  ScreenCommandUi ui(this, this);
  if (MakeItiran(ui) != Outcome::Cancelled) fillGr2();
}

}  // namespace velmo::screens
