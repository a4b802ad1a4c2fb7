// The playlist window: an ordinary resizable window over the playlist model.
// Songs are rows grouped under their file (title, author, length, file); the
// playing song is bold, marked and kept in view. Double-click or Enter plays
// a row, Delete removes the selected files, rows are dragged to reorder,
// a click on a column header sorts by it (a third click brings back the
// list's own order), and the filter narrows the rows to those whose title,
// author or file name hold the text. The status line gives the count and the
// total time, and says once when files could not be played.
//
//     PlaylistWindow window(model, order);
//     connect(&window, &PlaylistWindow::PlayRequested, ...);  // (entry id, song)
//
// One view over a model and no widget per row, so ten thousand files scroll
// and filter like ten.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QWidget>
#include <functional>

class PlaylistModel;
class PlaylistOrder;
class QCheckBox;
class QPushButton;
class QComboBox;

class PlaylistWindow : public QWidget {
    Q_OBJECT

  public:
    PlaylistWindow(PlaylistModel& model, QWidget* parent = nullptr);
    ~PlaylistWindow() override;

    // What the file dialogs answer; tests put their own in place (a modal
    // dialog would block them).
    std::function<QStringList(QWidget* owner)> ChooseFiles;
    std::function<QString(QWidget* owner)> ChooseFolder;
    std::function<QString(QWidget* owner)> ChoosePlaylistToOpen;
    std::function<QString(QWidget* owner)> ChoosePlaylistToSave;

    QTreeView& View() { return *Tree; }
    QLineEdit& Filter() { return *FilterField; }
    QString StatusText() const { return Status->text(); }

    // Shows the shuffle and repeat choices the player holds.
    void ShowOrder(bool shuffle, int repeat);
    // Puts `bar` (the song's position) under the rows; the window owns it.
    void AddPositionBar(QWidget* bar);

  signals:
    void PlayRequested(quint64 entryId, int song);
    // A playlist file chosen with "Open playlist…": it replaces the list.
    void OpenPlaylistRequested(const QString& path);
    void ShuffleChosen(bool shuffle);
    void RepeatChosen(int repeat); // RepeatMode as an int
    // Saving failed: the text and caption of the box the face shows.
    void Failed(const QString& text, const QString& caption);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    PlaylistModel& Model;
    QSortFilterProxyModel* Proxy;
    bool GeometryRestored = false;
    QTreeView* Tree;
    QLineEdit* FilterField;
    QLabel* Status;
    QCheckBox* ShuffleBox;
    QPushButton* ClearButton; // "Undo clear" while the list cleared can come back
    QComboBox* RepeatBox;
    // The files skipped since the list was last cleared, counted over every
    // batch they came in, and the first of them with its reason.
    int FailedFiles = 0;
    QString FirstFailure;
    QString FailureNote;
    void PlayIndex(const QModelIndex& proxyIndex);
    void RemoveSelected();
    void UpdateStatus();
    void ShowCurrent();
    void SaveAs();
};
