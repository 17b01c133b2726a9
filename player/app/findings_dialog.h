// The "Findings" tool window: the reviewer's list of marked frames, sorted by
// frame, with in-place editing, "Add New" (with the MDR measures of the frame
// when a map is loaded), "Remove", "Load...", "Save as..." and the
// interpretation-time counter, with a picture of its frame beside every
// entry. No finding is dropped without the user's word:
// a save that fails says why and, on closing, offers another name.
#pragma once

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "findings_file.h"
#include "preprocess_file_dialog.h"

class QLabel;
class QPushButton;

namespace vireo {

class FindingsThumbnails;
class MapState;
class PlaybackGraph;
struct PlayerState;

// The text "Add New" records for `frame` with a loaded map that carries
// measures: the eleven "%4.4f" values of the frame's row, without the frame.
std::string MapMeasuresText(const MapState& map, std::int64_t frame);

// The list of findings. Keys typed into it are its own: none travels on to
// the dialog (the dialog sends the arrow keys to playback before the list
// sees them).
class FindingsList : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The in-place editor of a finding's text: Esc cancels the edit, Enter
// commits it, and every other key stays in the editor.
class FindingEditor : public QLineEdit {
  Q_OBJECT
 public:
  using QLineEdit::QLineEdit;

 signals:
  void cancelled();
  void committed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

class FindingsDialog : public QDialog {
  Q_OBJECT
 public:
  // Control identifiers of the dialog's template.
  enum : int { kList = 1024, kEdit = 1025, kViewed = 1029, kLoad = 1028, kSaveAs = 6, kAddNew = 1, kRemove = 2 };

  // The list starts empty and belongs to no file until `AttachTo`. The
  // graph, the map and the player's state are read, never changed: the owner
  // acts on the dialog's signals.
  FindingsDialog(const PlaybackGraph& graph, const MapState& map, const PlayerState& player, QWidget* owner);
  // The window's size before it exists, and the smallest it can be made.
  static constexpr QSize kStartSize{480, 390};
  static constexpr QSize kMinimumSize{200, 160};

  // Replaces the list, header and counter by a file's; false (nothing
  // changed) when it cannot be read.
  bool LoadFile(const QString& path);
  // Writes the list; on failure tells the user which file and why.
  bool SaveFile(const QString& path);
  // Before the list is replaced or dropped: a changed list is written to
  // `path`; when that fails the user may choose another file. Clears the
  // changed flag.
  void Flush(const QString& path);
  // Gives the list to the clip whose findings file is `path` (empty: a clip
  // without one). A changed list of another file is first written to its
  // own; the list then shows `path`'s findings, or none. A changed list of
  // the same file stays as it is.
  void AttachTo(const QString& path);

  void AddNew();
  void Remove();
  void StartEdit(int row);
  void CommitEdit();
  // Leaves the finding as it was.
  void CancelEdit();
  // The 200 ms timer: counter and viewed frame.
  void Tick();

  const std::vector<Finding>& Findings() const { return findings_; }
  QStringList Entries() const;
  int Selected() const;
  void Select(int row);  // as a click on the list
  bool Changed() const { return changed_; }
  std::int64_t Ticks() const { return ticks_; }
  const std::string& Header() const { return header_; }
  // The list as "Save as..." writes it: header, minutes and findings.
  FindingsFile Contents() const;
  // The clip whose frames the entries' pictures show (empty: none).
  void ShowPicturesOf(const QString& clipPath);
  // The findings file the list belongs to.
  const QString& ListPath() const { return listPath_; }
  QString ViewedText() const;
  QListWidget* List() const { return list_; }
  QLineEdit* Editor() const { return edit_; }
  QPushButton* Button(int id) const;

 signals:
  // The user chose the finding at `frame`: pause there.
  void findingChosen(qint64 frame);
  // "Add New" takes the frame shown once playback has paused.
  void pauseRequested();
  // An entry was added, removed or changed, or the list was replaced.
  void listChanged();
  void keyPressed(QKeyEvent* event);
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Inserts in frame order; returns the row.
  int Insert(const Finding& finding, const QString& entry);
  void Erase(int row);
  void Clear();
  // An empty list with a new header and a counter at zero.
  void Reset();
  void Jump(int row);  // pause and seek to the finding
  void SelectWithoutSeek(int row);
  void LoadDialog();
  void SaveAsDialog();

  const PlaybackGraph& graph_;
  const MapState& map_;
  const PlayerState& player_;
  FindingsList* list_;
  std::map<int, QPushButton*> buttons_;
  FindingEditor* edit_;
  QLabel* viewed_;
  FindingsThumbnails* thumbnails_;
  std::vector<Finding> findings_;  // in list order
  std::string header_ = kNewFindingsHeader;
  std::int64_t ticks_ = 0;  // 200 ms ticks, 300 a minute
  bool changed_ = false;
  int editIndex_ = -1;
  Finding editFinding_;
  bool editChanged_ = false;
  bool selecting_ = false;  // selection set by the program: no seek
  QString listPath_;
};

}  // namespace vireo
