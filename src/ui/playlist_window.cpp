// The playlist window (see playlist_window.h).
#include "ui/playlist_window.h"

#include "platform/settings.h"
#include "playback/playlist.h"
#include "playback/playlist_store.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char* GeometryKey = "PlaylistGeometry";

const QString SongFilter =
    QStringLiteral("Songs and playlists (*.ay *.AY *.aym *.AYM *.m3u *.m3u8)");
const QString ListFilter = QStringLiteral("Playlists (*.m3u8 *.m3u)");

// Sorting by a column sorts the files by it and the songs within each file by
// it; the list's own order comes back when no column is chosen.
class PlaylistProxy : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
        const QVariant a = left.data(PlaylistModel::SortRole);
        const QVariant b = right.data(PlaylistModel::SortRole);
        if (left.column() == PlaylistModel::LengthColumn) return a.toULongLong() < b.toULongLong();
        return QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive) < 0;
    }
};

} // namespace

PlaylistWindow::PlaylistWindow(PlaylistModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), Model(model) {
    setWindowTitle(QStringLiteral("Playlist — Zirrafon"));
    setObjectName(QStringLiteral("PlaylistWindow"));
    resize(640, 480);

    ChooseFiles = [](QWidget* owner) {
        return QFileDialog::getOpenFileNames(owner, QStringLiteral("Add files"), {}, SongFilter);
    };
    ChooseFolder = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Add folder"));
    };
    ChoosePlaylistToOpen = [](QWidget* owner) {
        return QFileDialog::getOpenFileName(owner, QStringLiteral("Open playlist"), {}, ListFilter);
    };
    ChoosePlaylistToSave = [](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save playlist as"), {},
                                            ListFilter);
    };

    auto* proxy = new PlaylistProxy(this);
    Proxy = proxy;
    proxy->setSourceModel(&Model);
    proxy->setFilterRole(PlaylistModel::SearchTextRole);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setRecursiveFilteringEnabled(true);
    proxy->setAutoAcceptChildRows(true);
    proxy->setDynamicSortFilter(false);

    Tree = new QTreeView(this);
    Tree->setObjectName(QStringLiteral("PlaylistView"));
    Tree->setModel(proxy);
    Tree->setUniformRowHeights(true);
    Tree->setRootIsDecorated(true);
    Tree->setAllColumnsShowFocus(true);
    Tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    Tree->setDragDropMode(QAbstractItemView::DragDrop);
    Tree->setDefaultDropAction(Qt::MoveAction);
    Tree->setDragEnabled(true);
    Tree->setAcceptDrops(true);
    Tree->setDropIndicatorShown(true);
    Tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tree->setSortingEnabled(false);
    Tree->header()->setSectionsClickable(true);
    Tree->header()->setSortIndicatorShown(true);
    Tree->header()->setSortIndicator(-1, Qt::AscendingOrder);
    Tree->header()->setStretchLastSection(false);
    Tree->header()->setSectionResizeMode(PlaylistModel::TitleColumn, QHeaderView::Stretch);
    Tree->header()->resizeSection(PlaylistModel::AuthorColumn, 160);
    Tree->header()->resizeSection(PlaylistModel::LengthColumn, 64);
    Tree->header()->resizeSection(PlaylistModel::FileColumn, 150);
    // Clicks on a header: ascending, descending, the list's own order.
    connect(Tree->header(), &QHeaderView::sectionClicked, this, [this, proxy](int column) {
        Qt::SortOrder order = Qt::AscendingOrder;
        if (proxy->sortColumn() == column) {
            if (proxy->sortOrder() == Qt::DescendingOrder) {
                proxy->sort(-1);
                Tree->header()->setSortIndicator(-1, Qt::AscendingOrder);
                return;
            }
            order = Qt::DescendingOrder;
        }
        proxy->sort(column, order);
        Tree->header()->setSortIndicator(column, order);
    });
    connect(Tree, &QTreeView::activated, this, &PlaylistWindow::PlayIndex);

    FilterField = new QLineEdit(this);
    FilterField->setObjectName(QStringLiteral("PlaylistFilter"));
    FilterField->setPlaceholderText(QStringLiteral("Filter: title, author or file"));
    FilterField->setClearButtonEnabled(true);
    connect(FilterField, &QLineEdit::textChanged, this, [this, proxy](const QString& text) {
        proxy->setFilterFixedString(text);
        if (!text.isEmpty()) Tree->expandAll();
        UpdateStatus();
    });

    const auto button = [this](const QString& text, auto action) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button(QStringLiteral("Add files…"), [this] {
        if (const QStringList files = ChooseFiles(this); !files.isEmpty()) Model.Add(files);
    }));
    buttons->addWidget(button(QStringLiteral("Add folder…"), [this] {
        if (const QString folder = ChooseFolder(this); !folder.isEmpty()) Model.Add({folder});
    }));
    buttons->addWidget(button(QStringLiteral("Open playlist…"), [this] {
        if (const QString list = ChoosePlaylistToOpen(this); !list.isEmpty())
            emit OpenPlaylistRequested(list);
    }));
    buttons->addWidget(button(QStringLiteral("Save playlist as…"), [this] { SaveAs(); }));
    buttons->addWidget(button(QStringLiteral("Remove"), [this] { RemoveSelected(); }));
    buttons->addWidget(button(QStringLiteral("Clear"), [this] { Model.Clear(); }));
    buttons->addStretch();
    ShuffleBox = new QCheckBox(QStringLiteral("Shuffle"), this);
    connect(ShuffleBox, &QCheckBox::toggled, this, &PlaylistWindow::ShuffleChosen);
    buttons->addWidget(ShuffleBox);
    RepeatBox = new QComboBox(this);
    RepeatBox->addItems({QStringLiteral("Repeat off"), QStringLiteral("Repeat song"),
                         QStringLiteral("Repeat all")});
    connect(RepeatBox, &QComboBox::activated, this, &PlaylistWindow::RepeatChosen);
    buttons->addWidget(RepeatBox);

    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("PlaylistStatus"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(FilterField);
    layout->addWidget(Tree, 1);
    layout->addWidget(Status);

    connect(&Model, &PlaylistModel::TotalsChanged, this, &PlaylistWindow::UpdateStatus);
    connect(&Model, &PlaylistModel::AddingFinished, this, &PlaylistWindow::UpdateStatus);
    connect(&Model, &PlaylistModel::CurrentChanged, this, &PlaylistWindow::ShowCurrent);
    connect(&Model, &PlaylistModel::EntriesFailed, this, [this](int count, const QString& first) {
        if (!FailureNote.isEmpty()) return; // once
        FailureNote = count == 1 ? QStringLiteral("Skipped: %1").arg(first)
                                 : QStringLiteral("%1 files skipped (%2, …)").arg(count).arg(first);
        UpdateStatus();
    });
    connect(&Model, &PlaylistModel::modelReset, this, [this] {
        FailureNote.clear();
        UpdateStatus();
    });
    UpdateStatus();
}

PlaylistWindow::~PlaylistWindow() = default;

void PlaylistWindow::AddPositionBar(QWidget* bar) {
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->insertWidget(layout->indexOf(Status), bar);
}

void PlaylistWindow::ShowOrder(bool shuffle, int repeat) {
    const QSignalBlocker a(ShuffleBox), b(RepeatBox);
    ShuffleBox->setChecked(shuffle);
    RepeatBox->setCurrentIndex(std::clamp(repeat, 0, 2));
}

void PlaylistWindow::PlayIndex(const QModelIndex& proxyIndex) {
    if (!proxyIndex.isValid()) return;
    const quint64 id = proxyIndex.data(PlaylistModel::EntryIdRole).value<quint64>();
    const int song = proxyIndex.data(PlaylistModel::SongRole).toInt();
    // A file's row plays the file from its first song.
    emit PlayRequested(id, std::max(song, 0));
}

void PlaylistWindow::RemoveSelected() {
    QVector<int> rows;
    for (const QModelIndex& i : Tree->selectionModel()->selectedRows()) {
        const int row = Model.RowOf(i.data(PlaylistModel::EntryIdRole).value<quint64>());
        // A song row stands for its file: files are what the list holds.
        if (row >= 0) rows << row;
    }
    Model.RemoveEntries(rows);
}

void PlaylistWindow::UpdateStatus() {
    const int files = Model.Count();
    QString text =
        QStringLiteral("%1 %2, %3 %4, %5")
            .arg(files)
            .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
            .arg(Model.SongCount())
            .arg(Model.SongCount() == 1 ? QStringLiteral("song") : QStringLiteral("songs"))
            .arg(FramesText(Model.TotalFrames()));
    if (Model.Busy()) text += QStringLiteral(" — adding…");
    if (!FailureNote.isEmpty()) text += QStringLiteral(" — ") + FailureNote;
    Status->setText(text);
}

void PlaylistWindow::ShowCurrent() {
    const QModelIndex at = Proxy->mapFromSource(Model.CurrentIndex());
    if (!at.isValid()) return;
    if (at.parent().isValid()) Tree->expand(at.parent());
    Tree->scrollTo(at);
}

void PlaylistWindow::SaveAs() {
    QString path = ChoosePlaylistToSave(this);
    if (path.isEmpty()) return;
    if (!IsPlaylistFile(path)) path += QStringLiteral(".m3u8");
    QString error;
    if (!SavePlaylistFile(Model, path, &error))
        emit Failed(QStringLiteral("The playlist could not be saved to %1: %2").arg(path, error),
                    QStringLiteral("Zirrafon"));
}

void PlaylistWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        RemoveSelected();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PlaylistWindow::showEvent(QShowEvent* event) {
    if (!GeometryRestored) {
        GeometryRestored = true;
        if (const auto geometry = SettingsStore().ReadPlayerValue(QString::fromLatin1(GeometryKey)))
            restoreGeometry(geometry->toByteArray());
    }
    QWidget::showEvent(event);
    // Files that were missing may be back by now.
    Model.RecheckMissing();
    ShowCurrent();
}

void PlaylistWindow::closeEvent(QCloseEvent* event) {
    SettingsStore().WritePlayerValue(QString::fromLatin1(GeometryKey), saveGeometry());
    QWidget::closeEvent(event);
}
