// Small pieces every screen shares: text conversion, twips, window positions in
// the per-user settings store, the command icons, and the folder picker, file
// chooser and browser launcher (replaceable, so that tests answer them).
#pragma once
#include <QIcon>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace velmo::screens {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// Twips (1/1440 inch) in pixels at the usual 96 dots per inch.
inline int Twips(int twips) { return twips / 15; }

// Window positions: section form + "_Settings", keys MainLeft, MainTop,
// MainWidth, MainHeight, under the application "Velmo" in the settings folder.
struct WindowPlace {
  bool width = false;   // restore the width (default defaultWidth)
  int defaultWidth = 0;
};
void RestorePosition(QWidget* w, const std::string& form, WindowPlace place = {});
// Saves left and top, and the size when withSize; nothing when minimized.
void SavePosition(const QWidget* w, const std::string& form, bool withSize);
// A stored value of the section (empty when absent); for tests and the benchmark.
std::string StoredPosition(const std::string& form, const std::string& key);

// Opens a window with wrapped texts at width (at least its preferred width) and
// the height its texts need at that width, and allows no smaller size: a text
// that wraps onto more lines never loses the first or last of them.
void SetOpeningSize(QWidget* w, int width = 0);

// Icon of a command button: program folder + "icons/" + name + ".png".
QIcon CommandIcon(const std::string& name);

// Folder picker: the chosen folder, or "" when cancelled.
using FolderPicker = std::function<std::string(QWidget* owner, const std::string& title, const std::string& start)>;
FolderPicker SetFolderPicker(FolderPicker picker);
std::string PickFolder(QWidget* owner, const std::string& title, const std::string& start);

// File chooser with several files: the chosen paths, empty when cancelled.
struct FileChoice {
  std::string title;
  std::string folder;
  std::vector<std::string> filters;  // "name (pattern)"
  int selectedFilter = 0;
};
using FileChooser = std::function<std::vector<std::string>(QWidget* owner, const FileChoice& choice)>;
FileChooser SetFileChooser(FileChooser chooser);
std::vector<std::string> ChooseFiles(QWidget* owner, const FileChoice& choice);

// Opens a page or file in the desktop's browser or viewer; false when nothing could.
using UrlOpener = std::function<bool(const std::string& url)>;
UrlOpener SetUrlOpener(UrlOpener opener);
bool OpenInBrowser(const std::string& url);

}  // namespace velmo::screens
