#include "screens/screenutil.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QLayout>
#include <QSettings>
#include <QUrl>
#include <QWidget>

#include <algorithm>

#include "common/globals.h"

namespace velmo::screens {

namespace {
QSettings store() {
  return QSettings(Q(ConfigDir() + "Velmo.conf"), QSettings::IniFormat);
}

std::string defaultFolderPicker(QWidget* owner, const std::string& title, const std::string& start) {
  QString d = QFileDialog::getExistingDirectory(owner, Q(title), Q(start), QFileDialog::ShowDirsOnly);
  return S(d);
}

std::vector<std::string> defaultFileChooser(QWidget* owner, const FileChoice& c) {
  QStringList filters;
  for (const auto& f : c.filters) filters << Q(f);
  QString selected = c.selectedFilter < filters.size() ? filters[c.selectedFilter] : QString();
  QStringList files = QFileDialog::getOpenFileNames(owner, Q(c.title), Q(c.folder), filters.join(";;"), &selected);
  std::vector<std::string> out;
  for (const auto& f : files) out.push_back(S(f));
  return out;
}

bool defaultUrlOpener(const std::string& url) {
  QUrl u = url.find("://") == std::string::npos ? QUrl::fromLocalFile(Q(url)) : QUrl(Q(url));
  return QDesktopServices::openUrl(u);
}

FolderPicker& folderPicker() {
  static FolderPicker p = defaultFolderPicker;
  return p;
}
FileChooser& fileChooser() {
  static FileChooser c = defaultFileChooser;
  return c;
}
UrlOpener& urlOpener() {
  static UrlOpener o = defaultUrlOpener;
  return o;
}
}  // namespace

void RestorePosition(QWidget* w, const std::string& form, WindowPlace place) {
  QSettings s = store();
  s.beginGroup(Q(form + "_Settings"));
  int left = s.value("MainLeft", "0").toString().toInt();
  int top = s.value("MainTop", "0").toString().toInt();
  w->move(left, top);
  if (place.width) {
    int width = s.value("MainWidth", QString::number(place.defaultWidth)).toString().toInt();
    if (width > 0) w->resize(width, w->height());
  }
}

void SavePosition(const QWidget* w, const std::string& form, bool withSize) {
  if (w->isMinimized()) return;
  QSettings s = store();
  s.beginGroup(Q(form + "_Settings"));
  s.setValue("MainLeft", QString::number(w->x()));
  s.setValue("MainTop", QString::number(w->y()));
  if (withSize) {
    s.setValue("MainWidth", QString::number(w->width()));
    s.setValue("MainHeight", QString::number(w->height()));
  }
}

std::string StoredPosition(const std::string& form, const std::string& key) {
  QSettings s = store();
  return S(s.value(Q(form + "_Settings/" + key)).toString());
}

void SetOpeningSize(QWidget* w, int width) {
  w->ensurePolished();
  if (QLayout* l = w->layout()) l->activate();
  const QSize hint = w->sizeHint();
  const int wide = std::max(width, hint.width());
  const int high = std::max(hint.height(), w->heightForWidth(wide));
  w->setMinimumSize(wide, high);
  w->resize(wide, high);
}

QIcon CommandIcon(const std::string& name) { return QIcon(Q(ProgramDir() + "icons/" + name + ".png")); }

FolderPicker SetFolderPicker(FolderPicker picker) {
  FolderPicker old = folderPicker();
  folderPicker() = picker ? std::move(picker) : FolderPicker(defaultFolderPicker);
  return old;
}
std::string PickFolder(QWidget* owner, const std::string& title, const std::string& start) {
  return folderPicker()(owner, title, start);
}

FileChooser SetFileChooser(FileChooser chooser) {
  FileChooser old = fileChooser();
  fileChooser() = chooser ? std::move(chooser) : FileChooser(defaultFileChooser);
  return old;
}
std::vector<std::string> ChooseFiles(QWidget* owner, const FileChoice& choice) { return fileChooser()(owner, choice); }

UrlOpener SetUrlOpener(UrlOpener opener) {
  UrlOpener old = urlOpener();
  urlOpener() = opener ? std::move(opener) : UrlOpener(defaultUrlOpener);
  return old;
}
bool OpenInBrowser(const std::string& url) { return urlOpener()(url); }

}  // namespace velmo::screens
