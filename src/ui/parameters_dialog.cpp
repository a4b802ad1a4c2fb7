// The Parameters dialog `ParametersDialog` (see parameters_dialog.h): its controls at their pixel
// places, its handlers, and the option string it saves.
#include "ui/parameters_dialog.h"

#include "platform/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include <cstring>
#include <utility>

namespace {

template <typename Widget> Widget* Place(Widget* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
    return widget;
}

} // namespace

ParametersDialog::ParametersDialog(PlayerSettings& settings, SkinChanger changeSkin,
                                   QWidget* parent)
    : QDialog(parent), Settings(settings), ChangeSkin(std::move(changeSkin)),
      Associations(QCoreApplication::applicationFilePath().toStdString(),
                   [this](int code, const std::string& text) {
                       RegError(this, code, QString::fromStdString(text));
                   }) {
    setWindowTitle(QStringLiteral("Parameters"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(179, 359);
    setSizeGripEnabled(false);
    // The dialog's places are in pixels for an 8-point dialog font.
    QFont dialogFont = font();
    dialogFont.setPixelSize(10);
    setFont(dialogFont);

    ChipGroup = Place(new QGroupBox(QStringLiteral("Chip and channels"), this), 8, 0, 161, 49);
    ChipList = Place(new QComboBox(ChipGroup), 8, 16, 145, 21);
    for (const char* entry : ChipModeEntries) ChipList->addItem(QLatin1String(entry));
    ChipList->setEditable(false);
    ChipList->setMaxVisibleItems(AllChipModeCount);
    ChipList->setToolTip(QStringLiteral(
        "\"File's chip\": each file plays on the chip it was written for (the AY-3-8910 for "
        ".ay, .aym and .psg files, the YM2149F for .ym files, the chip a .vtx file names). "
        "A chip named here plays every file."));
    // What applies to the file playing, also when the mode follows the file.
    ChipInForceLabel = Place(new QLabel(ChipGroup), 8, 37, 145, 11);
    ShowChipInForce(Settings.ChipModeInForce());

    BeeperGroup =
        Place(new QGroupBox(QStringLiteral("Beeper level (0 - 32768)"), this), 8, 56, 161, 49);
    BeeperLevelEdit = Place(new QLineEdit(BeeperGroup), 8, 16, 145, 21);

    PriorityGroup =
        Place(new QGroupBox(QStringLiteral("Application priority"), this), 8, 112, 161, 41);
    NormalPriorityButton =
        Place(new QRadioButton(QStringLiteral("Normal"), PriorityGroup), 8, 16, 57, 17);
    HighPriorityButton =
        Place(new QRadioButton(QStringLiteral("High"), PriorityGroup), 80, 16, 57, 17);
    NormalPriorityButton->setChecked(true);

    SkinGroup = Place(new QGroupBox(QStringLiteral("Skin bitmap"), this), 8, 160, 161, 73);
    SkinFileEdit = Place(new QLineEdit(SkinGroup), 8, 16, 145, 21);
    SkinFileEdit->setReadOnly(true);
    SkinFileEdit->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    LoadSkinButton = Place(new QPushButton(QStringLiteral("Load"), SkinGroup), 8, 48, 65, 17);
    StandardSkinButton =
        Place(new QPushButton(QStringLiteral("Standard"), SkinGroup), 87, 48, 65, 17);

    AssociationGroup =
        Place(new QGroupBox(QStringLiteral("System register"), this), 8, 240, 161, 81);
    AyAssociationBox = Place(new QCheckBox(QStringLiteral("AY"), AssociationGroup), 8, 16, 41, 17);
    AymAssociationBox =
        Place(new QCheckBox(QStringLiteral("AYM"), AssociationGroup), 80, 16, 41, 17);
    // The register-stream files go together: .ym, .vtx and .psg.
    StreamAssociationBox =
        Place(new QCheckBox(QStringLiteral("YM"), AssociationGroup), 120, 16, 37, 17);
    SaveParametersButton =
        Place(new QPushButton(QStringLiteral("Save parameters"), AssociationGroup), 8, 39, 145, 17);
    RemoveParametersButton = Place(
        new QPushButton(QStringLiteral("Remove parameters"), AssociationGroup), 8, 56, 145, 17);

    CloseButton = Place(new QPushButton(QStringLiteral("Close"), this), 8, 328, 75, 25);
    DefaultButton = Place(new QPushButton(QStringLiteral("Default"), this), 96, 328, 75, 25);
    CloseButton->setDefault(true); // Enter closes; Esc closes as the dialog's cancel
    // Each control is found by its member's name.
    const std::pair<QWidget*, const char*> names[] = {
        {ChipGroup, "ChipGroup"},
        {ChipList, "ChipList"},
        {ChipInForceLabel, "ChipInForceLabel"},
        {BeeperGroup, "BeeperGroup"},
        {BeeperLevelEdit, "BeeperLevelEdit"},
        {PriorityGroup, "PriorityGroup"},
        {NormalPriorityButton, "NormalPriorityButton"},
        {HighPriorityButton, "HighPriorityButton"},
        {SkinGroup, "SkinGroup"},
        {SkinFileEdit, "SkinFileEdit"},
        {LoadSkinButton, "LoadSkinButton"},
        {StandardSkinButton, "StandardSkinButton"},
        {AssociationGroup, "AssociationGroup"},
        {AyAssociationBox, "AyAssociationBox"},
        {AymAssociationBox, "AymAssociationBox"},
        {StreamAssociationBox, "StreamAssociationBox"},
        {SaveParametersButton, "SaveParametersButton"},
        {RemoveParametersButton, "RemoveParametersButton"},
        {CloseButton, "CloseButton"},
        {DefaultButton, "DefaultButton"},
    };
    for (const auto& [widget, name] : names) widget->setObjectName(QLatin1String(name));

    // Tab order: chip group, beeper group, "Close", "Default", system-register
    // group, priority group, skin group.
    QWidget* const tabOrder[] = {ChipList,
                                 BeeperLevelEdit,
                                 CloseButton,
                                 DefaultButton,
                                 AyAssociationBox,
                                 AymAssociationBox,
                                 StreamAssociationBox,
                                 SaveParametersButton,
                                 RemoveParametersButton,
                                 NormalPriorityButton,
                                 HighPriorityButton,
                                 LoadSkinButton,
                                 StandardSkinButton};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i) setTabOrder(tabOrder[i], tabOrder[i + 1]);

    // Only what the user does runs a handler: the program sets the controls
    // without side effects (the start-up options, OnShow).
    connect(ChipList, &QComboBox::activated, this, &ParametersDialog::ChipListChange);
    connect(BeeperLevelEdit, &QLineEdit::textEdited, this, &ParametersDialog::BeeperLevelEdited);
    connect(NormalPriorityButton, &QRadioButton::clicked, this,
            &ParametersDialog::NormalPriorityClick);
    connect(HighPriorityButton, &QRadioButton::clicked, this, &ParametersDialog::HighPriorityClick);
    connect(LoadSkinButton, &QPushButton::clicked, this, &ParametersDialog::LoadSkinClick);
    connect(StandardSkinButton, &QPushButton::clicked, this, &ParametersDialog::StandardSkinClick);
    connect(DefaultButton, &QPushButton::clicked, this, &ParametersDialog::DefaultClick);
    connect(SaveParametersButton, &QPushButton::clicked, this,
            &ParametersDialog::SaveParametersClick);
    connect(RemoveParametersButton, &QPushButton::clicked, this,
            &ParametersDialog::RemoveParametersClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(AyAssociationBox, &QCheckBox::clicked, this, &ParametersDialog::AyAssociationClick);
    connect(AymAssociationBox, &QCheckBox::clicked, this, &ParametersDialog::AymAssociationClick);
    connect(StreamAssociationBox, &QCheckBox::clicked, this,
            &ParametersDialog::StreamAssociationClick);

    SkinChooser.Title = QStringLiteral("Choose skin bitmap");
    SkinChooser.Filter = QStringLiteral("Bitmap files (BMP)|*.bmp");
    SkinChooser.Chooser = [](const FileOpenDialog& d, QWidget* owner) {
        QFileDialog dialog(owner, d.Title, d.InitialDir, QtFileDialogFilter(d.Filter));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix(QString::fromLatin1(SkinDefaultSuffix));
        if (dialog.exec() != QDialog::Accepted) return QString();
        const QStringList chosen = dialog.selectedFiles();
        return chosen.isEmpty() ? QString() : chosen.first();
    };

    // The controls follow the settings whoever changes them (the start-up
    // options while the dialog is hidden, or the dialog itself).
    connect(&Settings, &PlayerSettings::ChipModeChanged, this,
            [this](int mode) { ChipList->setCurrentIndex(mode); });
    connect(&Settings, &PlayerSettings::ChipModeInForceChanged, this,
            &ParametersDialog::ShowChipInForce);
    connect(&Settings, &PlayerSettings::BeeperSettingChanged, this, [this](int level) {
        // What the user typed stays as typed when it means this level.
        bool ok = false;
        if (BeeperLevelEdit->text().toInt(&ok) != level || !ok)
            BeeperLevelEdit->setText(QString::number(level));
    });
    // The priority buttons show the class in force: a refused "High" goes
    // back to the class the process still runs at.
    connect(&Settings, &PlayerSettings::PriorityInForceChanged, this, [this](Priority priority) {
        (priority == Priority::High ? HighPriorityButton : NormalPriorityButton)->setChecked(true);
    });
    connect(&Settings, &PlayerSettings::SkinFileChanged, this,
            [this](const QString& path) { SkinFileEdit->setText(path); });

    OnCreate();
}

ParametersDialog::~ParametersDialog() = default;

void ParametersDialog::ShowChipInForce(int mode) {
    if (mode < 0 || mode >= ChipModeCount) return;
    ChipInForceLabel->setText(QStringLiteral("Now: ") + QLatin1String(ChipModeEntries[mode]));
}

void ParametersDialog::OnCreate() { ChipList->setCurrentIndex(DefaultFileChipMode); }

void ParametersDialog::showEvent(QShowEvent* event) {
    // Centred on the screen each time it is shown.
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    OnShow();
    QDialog::showEvent(event);
}

void ParametersDialog::OnShow() {
    BeeperLevelEdit->setText(QString::number(Settings.BeeperSetting()));
    Associations.RegPathOk = Associations.CheckRegPath();
    AyLinked = Associations.CheckRegistration(".ay");
    AymLinked = Associations.CheckRegistration(".aym");
    AyAssociationBox->setChecked(AyLinked);
    AymAssociationBox->setChecked(AymLinked);
    StreamLinked = std::all_of(std::begin(StreamExtensions), std::end(StreamExtensions),
                               [this](const char* e) { return Associations.CheckRegistration(e); });
    StreamAssociationBox->setChecked(StreamLinked);
}

void ParametersDialog::ChipListChange(int index) { Settings.SetChipMode(index); }

void ParametersDialog::BeeperLevelEdited(const QString& text) {
    bool ok = false;
    const int level = text.toInt(&ok);
    if (!ok || level < 0 || level > 32768) return; // kept as typed, nothing changes
    Settings.SetBeeperSetting(level);
}

void ParametersDialog::NormalPriorityClick() { Settings.SetPriorityClass(Priority::Normal); }

void ParametersDialog::HighPriorityClick() { Settings.SetPriorityClass(Priority::High); }

void ParametersDialog::LoadSkinClick() {
    // The skin dialog starts where the skin in use lies, else at home.
    SkinChooser.InitialDir = Settings.SkinFile().isEmpty()
                                 ? QDir::homePath()
                                 : QFileInfo(Settings.SkinFile()).absolutePath();
    if (!SkinChooser.Execute(this)) return;
    const QString path = SkinChooser.FileName;
    if (ChangeSkin && ChangeSkin(SkinSource::File, path)) Settings.SetSkinFile(path);
}

void ParametersDialog::StandardSkinClick() {
    if (Settings.SkinFile().isEmpty()) return; // the built-in skin is in use
    if (ChangeSkin && ChangeSkin(SkinSource::BuiltIn, QString())) Settings.SetSkinFile(QString());
}

void ParametersDialog::DefaultClick() {
    BeeperLevelEdit->setText(QString::number(DefaultBeeperSetting));
    Settings.SetDefaultBeeper();
    ChipList->setCurrentIndex(DefaultFileChipMode);
    Settings.SetChipMode(DefaultFileChipMode);
    NormalPriorityButton->setChecked(true);
    NormalPriorityClick();
    StandardSkinClick();
}

SettingsStore ParametersDialog::Store() {
    return SettingsStore([this](int code, const QString& text) { RegError(this, code, text); });
}

void ParametersDialog::RemoveOldPaths() { Store().RemoveOldPaths(); }

void ParametersDialog::SaveParametersClick() {
    RemoveOldPaths();
    const QString options = BuildStartupOptions(Settings.ChipMode(), Settings.BeeperSetting(),
                                                Settings.PriorityClass(), Settings.SkinFile());
    SettingsStore store = Store();
    if (options.isEmpty()) {
        store.DeleteStartup();
        return;
    }
    if (!store.OpenForWriting()) return;
    store.WriteStartup(options);
}

void ParametersDialog::RemoveParametersClick() {
    SettingsStore store = Store();
    if (!store.RemoveOldPaths()) return;
    if (!store.RemoveSettings()) return;
    // Opening the next song must not write the removed settings back.
    Settings.StopStoring();
    Associations.UnRegisterFile(".ay");
    Associations.UnRegisterFile(".aym");
    for (const char* extension : StreamExtensions) Associations.UnRegisterFile(extension);
    AyLinked = false;
    AymLinked = false;
    StreamLinked = false;
    AyAssociationBox->setChecked(false);
    AymAssociationBox->setChecked(false);
    StreamAssociationBox->setChecked(false);
}

void ParametersDialog::AssociationClick(QCheckBox* box, bool& flag, const char* extension) {
    // The box keeps the state the user gave it even when registering fails;
    // the flag holds the result for the next change.
    if (box->isChecked()) {
        if (flag) return;
        Associations.CreateZirrafonPath();
        flag = Associations.RegisterFile(extension);
    } else if (flag) {
        flag = Associations.UnRegisterFile(extension);
    }
}

void ParametersDialog::AyAssociationClick() { AssociationClick(AyAssociationBox, AyLinked, ".ay"); }

void ParametersDialog::AymAssociationClick() {
    AssociationClick(AymAssociationBox, AymLinked, ".aym");
}

void ParametersDialog::StreamAssociationClick() {
    // One box, three types: each is registered or unregistered as the box
    // says; the flag is true only when all three are ours.
    if (StreamAssociationBox->isChecked()) {
        if (StreamLinked) return;
        Associations.CreateZirrafonPath();
        bool all = true;
        for (const char* extension : StreamExtensions)
            all = Associations.RegisterFile(extension) && all;
        StreamLinked = all;
    } else if (StreamLinked) {
        for (const char* extension : StreamExtensions) Associations.UnRegisterFile(extension);
        StreamLinked = false;
    }
}

void ParametersDialog::RegError(QWidget* window, int code, const QString& systemText) {
    const QString text =
        systemText.isEmpty() ? QString::fromLocal8Bit(std::strerror(code)) : systemText;
    ShowMessage(window, text, QStringLiteral("Ошибка работы с реестром #%1").arg(code),
                MessageIcon::Information);
}
