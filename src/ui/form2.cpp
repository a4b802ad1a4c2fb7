// The Parameters dialog `TForm2` (see form2.h): its controls at their pixel
// places, its handlers, and the option string it saves.
#include "ui/form2.h"

#include "platform/messages.h"
#include "ui/form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>

#include <cstring>

namespace {

template <typename Widget> Widget* Place(Widget* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
    return widget;
}

} // namespace

TForm2::TForm2(TForm1* form1)
    : QDialog(form1), Form1(form1), Settings(form1->Settings),
      Association(QCoreApplication::applicationFilePath().toStdString(),
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

    GroupBox1 = Place(new QGroupBox(QStringLiteral("Chip and channels"), this), 8, 0, 161, 49);
    ComboBox1 = Place(new QComboBox(GroupBox1), 8, 16, 145, 21);
    for (const char* entry : ChipModeEntries) ComboBox1->addItem(QLatin1String(entry));
    ComboBox1->setEditable(false);
    ComboBox1->setMaxVisibleItems(ChipModeCount);

    GroupBox2 =
        Place(new QGroupBox(QStringLiteral("Beeper level (0 - 32768)"), this), 8, 56, 161, 49);
    Edit1 = Place(new QLineEdit(GroupBox2), 8, 16, 145, 21);

    GroupBox4 = Place(new QGroupBox(QStringLiteral("Application priority"), this), 8, 112, 161, 41);
    RadioButton1 = Place(new QRadioButton(QStringLiteral("Normal"), GroupBox4), 8, 16, 57, 17);
    RadioButton2 = Place(new QRadioButton(QStringLiteral("High"), GroupBox4), 80, 16, 57, 17);
    RadioButton1->setChecked(true);

    GroupBox5 = Place(new QGroupBox(QStringLiteral("Skin bitmap"), this), 8, 160, 161, 73);
    Edit2 = Place(new QLineEdit(GroupBox5), 8, 16, 145, 21);
    Edit2->setReadOnly(true);
    Edit2->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    Button5 = Place(new QPushButton(QStringLiteral("Load"), GroupBox5), 8, 48, 65, 17);
    Button6 = Place(new QPushButton(QStringLiteral("Standard"), GroupBox5), 87, 48, 65, 17);

    GroupBox3 = Place(new QGroupBox(QStringLiteral("System register"), this), 8, 240, 161, 81);
    CheckBox1 = Place(new QCheckBox(QStringLiteral("AY"), GroupBox3), 8, 16, 41, 17);
    CheckBox2 = Place(new QCheckBox(QStringLiteral("AYM"), GroupBox3), 80, 16, 41, 17);
    Button3 = Place(new QPushButton(QStringLiteral("Save parameters"), GroupBox3), 8, 39, 145, 17);
    Button4 =
        Place(new QPushButton(QStringLiteral("Remove parameters"), GroupBox3), 8, 56, 145, 17);

    Button1 = Place(new QPushButton(QStringLiteral("Close"), this), 8, 328, 75, 25);
    Button2 = Place(new QPushButton(QStringLiteral("Default"), this), 96, 328, 75, 25);
    Button1->setDefault(true); // Enter closes; Esc closes as the dialog's cancel

    // Tab order: chip group, beeper group, "Close", "Default", system-register
    // group, priority group, skin group.
    QWidget* const tabOrder[] = {ComboBox1,    Edit1,        Button1, Button2,
                                 CheckBox1,    CheckBox2,    Button3, Button4,
                                 RadioButton1, RadioButton2, Button5, Button6};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i) setTabOrder(tabOrder[i], tabOrder[i + 1]);

    // Only what the user does runs a handler: the program sets the controls
    // without side effects (the start-up options, FormShow).
    connect(ComboBox1, &QComboBox::activated, this, &TForm2::ComboBox1Change);
    connect(Edit1, &QLineEdit::textEdited, this, &TForm2::Edit1Change);
    connect(RadioButton1, &QRadioButton::clicked, this, &TForm2::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TForm2::RadioButton2Click);
    connect(Button5, &QPushButton::clicked, this, &TForm2::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm2::Button6Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
    connect(CheckBox1, &QCheckBox::clicked, this, &TForm2::CheckBox1Click);
    connect(CheckBox2, &QCheckBox::clicked, this, &TForm2::CheckBox2Click);

    OpenDialog1.Title = QStringLiteral("Choose skin bitmap");
    OpenDialog1.Filter = QStringLiteral("Bitmap files (BMP)|*.bmp");
    OpenDialog1.Chooser = [](const FileOpenDialog& d, QWidget* owner) {
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
            [this](int mode) { ComboBox1->setCurrentIndex(mode); });
    connect(&Settings, &PlayerSettings::BeeperSettingChanged, this, [this](int level) {
        // What the user typed stays as typed when it means this level.
        bool ok = false;
        if (Edit1->text().toInt(&ok) != level || !ok) Edit1->setText(QString::number(level));
    });
    // The priority buttons show the class in force: a refused "High" goes
    // back to the class the process still runs at.
    connect(&Settings, &PlayerSettings::PriorityInForceChanged, this, [this](int priorityClass) {
        (priorityClass == HighPriorityClass ? RadioButton2 : RadioButton1)->setChecked(true);
    });
    connect(&Settings, &PlayerSettings::SkinFileChanged, this,
            [this](const QString& path) { Edit2->setText(path); });

    if (Form1) Form1->Form2 = this;
    FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::FormCreate() { ComboBox1->setCurrentIndex(DefaultChipMode); }

void TForm2::showEvent(QShowEvent* event) {
    // Centred on the screen each time it is shown.
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    FormShow();
    QDialog::showEvent(event);
}

void TForm2::FormShow() {
    Edit1->setText(QString::number(Settings.BeeperSetting()));
    Association.RegPathOk = Association.CheckRegPath();
    AyAssociated = Association.CheckRegistration(".ay");
    AymAssociated = Association.CheckRegistration(".aym");
    CheckBox1->setChecked(AyAssociated);
    CheckBox2->setChecked(AymAssociated);
}

void TForm2::ComboBox1Change(int index) { Settings.SetChipMode(index); }

void TForm2::Edit1Change(const QString& text) {
    bool ok = false;
    const int level = text.toInt(&ok);
    if (!ok || level < 0 || level > 32768) return; // kept as typed, nothing changes
    Settings.SetBeeperSetting(level);
}

void TForm2::RadioButton1Click() { Form1->Playback->SetPriority(NormalPriorityClass); }

void TForm2::RadioButton2Click() { Form1->Playback->SetPriority(HighPriorityClass); }

void TForm2::Button5Click() {
    // The skin dialog starts where the skin in use lies, else at home.
    OpenDialog1.InitialDir = Settings.SkinFile.isEmpty()
                                 ? QDir::homePath()
                                 : QFileInfo(Settings.SkinFile).absolutePath();
    if (!OpenDialog1.Execute(this)) return;
    const QString path = OpenDialog1.FileName;
    if (Form1->ChangeSkin(1, path)) Settings.SetSkinFile(path);
}

void TForm2::Button6Click() {
    if (Settings.SkinFile.isEmpty()) return; // the built-in skin is in use
    if (Form1->ChangeSkin(0, QString())) Settings.SetSkinFile(QString());
}

void TForm2::Button2Click() {
    Edit1->setText(QString::number(DefaultBeeperSetting));
    Settings.SetDefaultBeeper();
    ComboBox1->setCurrentIndex(DefaultChipMode);
    Settings.SetChipMode(DefaultChipMode);
    RadioButton1->setChecked(true);
    RadioButton1Click();
    Button6Click();
}

SettingsStore TForm2::Store() {
    return SettingsStore([this](int code, const QString& text) { RegError(this, code, text); });
}

void TForm2::RemoveOldPaths() { Store().RemoveOldPaths(); }

void TForm2::Button3Click() {
    RemoveOldPaths();
    const QString options = BuildStartupOptions(Settings.ChipMode, Settings.BeeperSetting(),
                                                Settings.PriorityClass, Settings.SkinFile);
    SettingsStore store = Store();
    if (options.isEmpty()) {
        store.DeleteStartup();
        return;
    }
    if (!store.OpenForWriting()) return;
    store.WriteStartup(options);
}

void TForm2::Button4Click() {
    SettingsStore store = Store();
    if (!store.RemoveOldPaths()) return;
    if (!store.RemoveSettings()) return;
    // Opening the next song must not write the removed settings back.
    Settings.StopStoring();
    Association.UnRegisterFile(".ay");
    Association.UnRegisterFile(".aym");
    AyAssociated = false;
    AymAssociated = false;
    CheckBox1->setChecked(false);
    CheckBox2->setChecked(false);
}

void TForm2::AssociationClick(QCheckBox* box, bool& flag, const char* extension) {
    // The box keeps the state the user gave it even when registering fails;
    // the flag holds the result for the next change.
    if (box->isChecked()) {
        if (flag) return;
        Association.CreateZirrafonPath();
        flag = Association.RegisterFile(extension);
    } else if (flag) {
        flag = Association.UnRegisterFile(extension);
    }
}

void TForm2::CheckBox1Click() { AssociationClick(CheckBox1, AyAssociated, ".ay"); }

void TForm2::CheckBox2Click() { AssociationClick(CheckBox2, AymAssociated, ".aym"); }

void TForm2::RegError(QWidget* window, int code, const QString& systemText) {
    const QString text =
        systemText.isEmpty() ? QString::fromLocal8Bit(std::strerror(code)) : systemText;
    ShowMessage(window, text, QStringLiteral("Ошибка работы с реестром #%1").arg(code),
                MessageIcon::Information);
}
