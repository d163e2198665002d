#include "screens/frmbusy.h"

#include <QCloseEvent>
#include <QDate>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <fstream>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "screens/screenutil.h"

namespace velmo::screens {

namespace {
std::string& monthOverride() {
  static std::string m;
  return m;
}
std::string currentMonth() {
  if (!monthOverride().empty()) return monthOverride();
  return S(QDate::currentDate().toString("MM"));
}
std::string topicsPath() { return ProgramDir() + "topics.txt"; }
// The topic counter lives in the header of topics.txt; where the program folder
// cannot be written, a copy of that 16-byte header in the user's state folder
// holds it.
std::string counterPath() {
  return ProgramDirWritable() ? topicsPath() : UserFolderPath(UserFolder::State) + "topics.next";
}
int number(const std::string& s) {
  try {
    return std::stoi(s);
  } catch (...) {
    return 0;
  }
}
// The text between marker and the next "]" (or the next two characters for seasons).
std::string after(const std::string& line, const std::string& marker, size_t n) {
  size_t p = line.find(marker);
  if (p == std::string::npos) return "";
  return line.substr(p + marker.size(), n);
}

const char* const kIntro =
    "処理が終わるまで、ＫＯＶＡのデータにまつわるトピックスをお楽しみください。\n"
    "「前のトピック」「次のトピック」でトピックをめくれます。\n"
    "「キャンセル」で処理を切りのいいところで中断します。";
}  // namespace

bool isInSeason(const std::string& m, const std::string& f, const std::string& t) {
  if (f <= t) return f <= m && m <= t;
  return (f <= m && m <= "12") || ("01" <= m && m <= t);
}

void frmBusy::SetMonthForTests(const std::string& month) { monthOverride() = month; }

frmBusy::frmBusy(QWidget* parent) : QDialog(parent) {
  setObjectName("frmBusy");
  setWindowTitle("只今処理中です。しばらくお待ちください。");
  auto* lay = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  lblSyori = new QLabel("只今処理中です。", this);
  lblSyori->setObjectName("lblSyori");
  lblSyori->setWordWrap(true);
  QFont big = lblSyori->font();
  big.setPointSizeF(big.pointSizeF() * 1.25);
  big.setBold(true);
  lblSyori->setFont(big);
  // Room for two lines: the cancel notice is the longest text it shows.
  lblSyori->setMinimumHeight(2 * QFontMetrics(big).lineSpacing() + 6);
  // Hiding the blinking text must not move the others.
  QSizePolicy keep = lblSyori->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  lblSyori->setSizePolicy(keep);
  top->addWidget(lblSyori, 1);
  lblYajirusi = new QLabel("⇒", this);
  lblYajirusi->setObjectName("lblYajirusi");
  lblYajirusi->setFont(big);
  lblYajirusi->setSizePolicy(keep);
  lblYajirusi->hide();
  top->addWidget(lblYajirusi);
  cmdCancel = new QPushButton("キャンセル", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setMinimumWidth(110);
  top->addWidget(cmdCancel);
  lay->addLayout(top);

  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::StyledPanel);
  auto* grid = new QGridLayout(frame);
  lblDaimei = new QLabel("ＫＯＶＡ競馬トピックス", frame);
  lblDaimei->setObjectName("lblDaimei");
  QFont title = lblDaimei->font();
  title.setBold(true);
  lblDaimei->setFont(title);
  lblDaimei->setWordWrap(true);
  grid->addWidget(lblDaimei, 0, 0, 1, 2);
  img1 = new QLabel(frame);
  img1->setObjectName("img1");
  img1->setFixedSize(200, 150);
  img1->setAlignment(Qt::AlignCenter);
  grid->addWidget(img1, 1, 0, Qt::AlignTop);
  txtHonbun = new QTextEdit(frame);
  txtHonbun->setObjectName("txtHonbun");
  txtHonbun->setReadOnly(true);
  txtHonbun->setPlainText(kIntro);
  txtHonbun->setMinimumSize(340, 150);
  grid->addWidget(txtHonbun, 1, 1);
  auto* pages = new QHBoxLayout;
  pages->addStretch();
  cmdPre = new QPushButton("前のトピック", frame);
  cmdPre->setObjectName("cmdPre");
  cmdNext = new QPushButton("次のトピック", frame);
  cmdNext->setObjectName("cmdNext");
  pages->addWidget(cmdPre);
  pages->addWidget(cmdNext);
  grid->addLayout(pages, 2, 0, 1, 2);
  lay->addWidget(frame, 1);

  timBlink = new QTimer(this);
  timBlink->setObjectName("timBlink");
  timBlink->setInterval(200);
  connect(timBlink, &QTimer::timeout, this, &frmBusy::blink);
  connect(cmdCancel, &QPushButton::clicked, this, &frmBusy::cancelClicked);
  connect(cmdNext, &QPushButton::clicked, this, [this]() {
    moveTopic(+1);
    showTopic();
  });
  connect(cmdPre, &QPushButton::clicked, this, [this]() {
    moveTopic(-1);
    showTopic();
  });

  loadPicture("velmo_Rogo.jpg");
  SetOpeningSize(this, 600);
  RestorePosition(this, "frmBusy");
  mstrCancel = "0";
  blinkTarget_ = lblSyori;
  timBlink->start();
  showTopic();
}

frmBusy::~frmBusy() = default;

void frmBusy::blink() {
  if (blinkTarget_) blinkTarget_->setVisible(!blinkTarget_->isVisible());
}

void frmBusy::loadPicture(const std::string& name) {
  std::string path = ProgramDir() + "pic/" + name;
  if (!FileExists(path)) path = ProgramDir() + "pic/velmo_Rogo.jpg";
  QPixmap p(Q(path));
  if (!p.isNull()) p = p.scaled(img1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  img1->setPixmap(p);
}

void frmBusy::showTopic() {
  std::ifstream in(topicsPath(), std::ios::binary);
  if (!in) return;
  std::string raw;
  if (!std::getline(in, raw)) return;
  auto clean = [](std::string s) {
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return text::decodeCp932(s);
  };
  std::string header = clean(raw);
  h_ = number(text::midChars(header, 4, 4));
  int n = number(text::midChars(header, 12, 4));
  if (counterPath() != topicsPath()) {
    char kept[16] = {};
    std::ifstream k(counterPath(), std::ios::binary);
    k.read(kept, 16);
    if (k.gcount() == 16) n = number(std::string(kept + 11, 4));
  }
  int count = 0;
  std::string line;
  bool have = false;
  while (true) {
    if (!have) {
      if (!std::getline(in, raw)) return;  // the file ended before a topic was shown
      line = clean(raw);
    }
    have = false;
    if (!text::startsWith(line, "■")) continue;
    ++count;
    if (count < n) continue;
    if (line.find("時期=[") != std::string::npos) {
      const std::string season = after(line, "時期=[", 5);  // "04-06"
      const std::string from = season.substr(0, 2);
      const std::string to = season.size() >= 5 ? season.substr(3, 2) : std::string();
      if (isInSeason(currentMonth(), from, to)) {
        n = n + 1;
        continue;
      }
    }
    n_ = n;
    if (size_t p = line.find("pic=["); p != std::string::npos) {
      size_t e = line.find(']', p);
      loadPicture(line.substr(p + 5, e == std::string::npos ? std::string::npos : e - p - 5));
    }
    std::string title;
    if (std::getline(in, raw)) title = clean(raw);
    lblDaimei->setText(Q(title));
    std::string body;
    while (std::getline(in, raw)) {
      line = clean(raw);
      if (text::startsWith(line, "■")) break;
      body += line + "\n";
    }
    txtHonbun->setPlainText(Q(body));
    return;
  }
}

void frmBusy::moveTopic(int step) {
  n_ += step;
  if (n_ == h_) n_ = 1;
  if (n_ == 0) n_ = h_;
  char head[16] = {};
  {
    std::ifstream in(topicsPath(), std::ios::binary);
    in.read(head, 16);
    if (in.gcount() < 16) return;
  }
  char num[8];
  std::snprintf(num, sizeof num, "%04d", n_ < 0 ? 0 : n_ % 10000);
  std::string out = std::string(head, 7) + "NEXT" + num + "                ";
  out.resize(16);
  const std::string path = counterPath();
  if (path != topicsPath()) {
    MakeDirAll(UserFolderPath(UserFolder::State));
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(out.data(), 16);
    return;
  }
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) return;
  f.write(out.data(), 16);
}

void frmBusy::cancelClicked() {
  if (cmdCancel->text() == "キャンセル") {
    mstrCancel = "1";
    lblSyori->setText("キャンセル処理を受け付けました。切りのいいところで処理を中断します。");
    timBlink->stop();
    lblSyori->setVisible(true);
  } else if (cmdCancel->text() == "閉じる") {
    close();
  }
  moveTopic(+1);
}

void frmBusy::syoriEnd() {
  lblSyori->setVisible(true);
  cmdCancel->setText("閉じる");
  lblYajirusi->setVisible(true);
  blinkTarget_ = lblYajirusi;
  if (!timBlink->isActive()) timBlink->start();
}

bool frmBusy::ended() const { return cmdCancel->text() == "閉じる"; }

void frmBusy::hideEvent(QHideEvent* e) {
  timBlink->stop();
  SavePosition(this, "frmBusy", false);
  QDialog::hideEvent(e);
}

}  // namespace velmo::screens
