// The main window `TForm1`: the player it owns and what the player's signals
// show on the face (the skinned face, mouse, keys and drops are in
// form1_face.cpp).
#include "ui/form1.h"

#include "ui/form2.h"

#include <QCloseEvent>
#include <QDir>

TForm1::TForm1(WaveOutFactory waveOutFactory, QWidget* parent)
    : QWidget(parent), Playback(std::make_unique<Player>(std::move(waveOutFactory))),
      Settings(Playback->Settings) {
    setWindowTitle(QString::fromLatin1(MainWindowCaption));
    setFixedSize(240, 152);
    Playback->MessageOwner = this;

    // The open dialog starts in the user's home folder, later in the folder
    // of the last song file opened (never in the program's own folder, which
    // on an installed system holds no songs).
    OpenDialog1.Title = QStringLiteral("Open and play file");
    OpenDialog1.Filter =
        QStringLiteral("All supported files|*.ay;*.aym|.AY files|*.ay|.AYM files|*.aym");
    OpenDialog1.InitialDir = QDir::homePath();

    connect(Playback.get(), &Player::FileOpened, this, [this](const QString& fileName) {
        OpenDialog1.InitialDir = fileName.left(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    });
    connect(Playback.get(), &Player::LabelsChanged, this,
            [this](const QString& author, const QString& misc, const QString& title) {
                AuthorLabelText = author;
                MiscLabelText = misc;
                TitleLabelText = title;
                PaintLabels();
            });
    connect(Playback.get(), &Player::TitleChanged, this, [this](const QString& title) {
        TitleLabelText = title;
        PaintTitleLabel();
    });
    connect(Playback.get(), &Player::SongCountChanged, this, [this](int count) {
        SongCountShown = count;
        PrintNumber(2);
    });
    connect(Playback.get(), &Player::SongNumberChanged, this, [this](int number) {
        SongNumberShown = number;
        PrintNumber(1);
    });
    connect(&Settings, &PlayerSettings::VolumeChanged, this, [this] { PaintVolumeBar(); });

    FormCreate();
}

TForm1::~TForm1() {
    // The device must not outlive the buffers it refers to.
    Playback.reset();
    FormDestroy();
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TForm1::OpenButtonAction() {
    if (OpenDialog1.Execute(this)) OpenAndPlay(OpenDialog1.FileName);
}

bool TForm1::ChangeSkin(int mode, const QString& path) {
    if (!SkinLoader || !SkinLoader(mode, path)) return false;
    PrintNumber(1);
    PrintNumber(2);
    repaint();
    return true;
}

void TForm1::ShowParameters() {
    if (Form2) Form2->exec();
}
