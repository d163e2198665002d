#include "screens/frmabout.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "common/globals.h"
#include "common/msgbox.h"
#include "screens/screenutil.h"

namespace velmo::screens {

std::string VersionText(int major, int minor, int revision) {
  return "ﾊﾞｰｼﾞｮﾝ " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

// The program's version as the build defines it (major.minor.revision).
std::string VersionText() { return std::string("ﾊﾞｰｼﾞｮﾝ ") + VELMO_VERSION_STRING; }

// This desktop has no registry to name a system information program, so both
// lookups come back empty and the notice is shown.
bool StartSysInfo() {
  MsgBox("現時点ではｼｽﾃﾑ情報を使用できません", vbOKOnly, "Velmo");
  return false;
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("frmAbout");
  setWindowTitle(QString(kAppTitle) + "のﾊﾞｰｼﾞｮﾝ情報");
  auto* lay = new QGridLayout(this);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  QPixmap logo(Q(ProgramDir() + "pic/velmo_Rogo.jpg"));
  if (!logo.isNull()) Image1->setPixmap(logo.scaled(160, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  lblTitle = new QLabel(kAppTitle, this);
  lblTitle->setObjectName("lblTitle");
  QFont big = lblTitle->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  lblTitle->setFont(big);
  lblVersion = new QLabel(Q(VersionText()), this);
  lblVersion->setObjectName("lblVersion");
  lblDescription = new QLabel(
      "ＫＯＶＡのデータ（出馬表・成績・払戻・直前情報・オッズなど）をダウンロードし、"
      "お手元のデータベースに登録するソフトです。登録したデータは、同じデータベースを読む"
      "競馬ソフトからお使いいただけます。",
      this);
  lblDescription->setObjectName("lblDescription");
  lblDescription->setWordWrap(true);
  lblDescription->setMinimumWidth(320);
  lblDisclaimer = new QLabel(this);
  lblDisclaimer->setObjectName("lblDisclaimer");
  cmdOK = new QPushButton("OK", this);
  cmdOK->setObjectName("cmdOK");
  cmdOK->setDefault(true);
  cmdSysInfo = new QPushButton("ｼｽﾃﾑ情報(&S)...", this);
  cmdSysInfo->setObjectName("cmdSysInfo");
  lay->addWidget(Image1, 0, 0, 3, 1, Qt::AlignTop);
  lay->addWidget(lblTitle, 0, 1);
  lay->addWidget(lblVersion, 1, 1);
  lay->addWidget(lblDescription, 2, 1);
  lay->addWidget(lblDisclaimer, 3, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdSysInfo);
  lay->addLayout(buttons, 4, 0, 1, 2);
  SetOpeningSize(this);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(cmdSysInfo, &QPushButton::clicked, this, []() { StartSysInfo(); });
}

void ShowHelp() {
  const std::string page = ProgramDir() + "Velmo.html";
  if (!OpenInBrowser(page)) MsgBox("ヘルプを開けませんでした。[" + page + "]", vbOKOnly, "Velmo");
}

}  // namespace velmo::screens
