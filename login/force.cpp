#include "login/force.h"

#include "login/Alarm.h"
#include "login/ForceRow.h"
#include "login/WhosOnLines.h"
#include "login/Whoson.h"
#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/DayCount.h"
#include "store/Session.h"
#include "support/Clock.h"
#include "support/ErrorBox.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/DataSource.h"
#include "ui/DbCheckBox.h"
#include "ui/DbEdit.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/RowState.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

using namespace login;

namespace {

constexpr int kHelpContext = 1250;
constexpr int kWhosOnInterval = 5000;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// Fills each "%s" of pattern with the next value, in order; a value is never
// read as a pattern itself (a reason may hold "%1" or "%s").
QString fillS(const QString& pattern, const QStringList& values)
{
    const QStringList pieces = pattern.split(QStringLiteral("%s"));
    QString result = pieces.first();
    for (int i = 1; i < pieces.size(); ++i)
        result += values.value(i - 1) + pieces[i];
    return result;
}

// "Label (*.a)|*.a|Other (*.*)|*.*" as the file dialog's name filters.
QStringList nameFilters(const QString& pipes)
{
    const QStringList parts = pipes.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i];
    return filters;
}

} // namespace

TfrmForce::TfrmForce(QWidget* parent)
    : QDialog(parent),
      tblUserPref(catalogue::kAlias, catalogue::kUserPref),
      tblSettings(catalogue::kAlias, catalogue::kSettings)
{
    buildWindow();
}

TfrmForce::~TfrmForce()
{
    // The bound controls go after the tables: unbind them first.
    dsSettings->setTable(nullptr);
}

void TfrmForce::buildWindow()
{
    setWindowTitle(text("Force Users Off"));
    dsSettings = new ui::DataSource(this);
    dsSettings->setTable(&tblSettings);

    lblHeading = new QLabel(text("Force users off of Kontiva Professional"), this);
    QFont headingFont = lblHeading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.6);
    lblHeading->setFont(headingFont);
    QPalette navy = lblHeading->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    lblHeading->setPalette(navy);
    lblHeading->setAlignment(Qt::AlignCenter);

    cbUsers = new QComboBox(this);
    cbUsers->setEditable(false);
    Edit1 = new QLineEdit(this);
    edWarn = new QSpinBox(this);
    edWarn->setRange(kMinWarnMinutes, kMaxWarnMinutes);
    edWarn->setValue(kDefaultWarnMinutes);
    edSound = new ui::DbEdit(this);
    edSound->setDataSource(dsSettings);
    edSound->setDataField(fForceWav);
    sbDir = new QToolButton(this);
    sbDir->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    sbDir->setToolTip(text("Wav (sound) files"));
    btTest = new QPushButton(text("Test"), this);
    cbPlay = new ui::DbCheckBox(text("Play?"), this);
    cbPlay->setDataSource(dsSettings);
    cbPlay->setDataField(fForcePlay);
    cbRepeat = new ui::DbCheckBox(text("Repeat?"), this);
    cbRepeat->setDataSource(dsSettings);
    cbRepeat->setDataField(fForceRepeat);

    auto label = [this](const char* caption, QWidget* buddy) {
        auto* l = new QLabel(text(caption), this);
        l->setBuddy(buddy);
        return l;
    };
    auto* fields = new QGridLayout;
    fields->addWidget(label("Who are you?", cbUsers), 0, 0);
    fields->addWidget(cbUsers, 0, 1);
    fields->addWidget(label("Reason:", Edit1), 1, 0);
    fields->addWidget(Edit1, 1, 1, 1, 3);
    fields->addWidget(label("Warning (minutes):", edWarn), 2, 0);
    fields->addWidget(edWarn, 2, 1, Qt::AlignLeft);
    fields->addWidget(label("Sound file (*.wav)", edSound), 3, 0);
    auto* sound = new QHBoxLayout;
    sound->addWidget(edSound, 1);
    sound->addWidget(sbDir);
    fields->addLayout(sound, 3, 1, 1, 3);
    auto* soundButtons = new QHBoxLayout;
    soundButtons->addWidget(btTest);
    soundButtons->addWidget(cbPlay);
    soundButtons->addWidget(cbRepeat);
    soundButtons->addStretch();
    fields->addLayout(soundButtons, 4, 1, 1, 3);
    fields->setColumnStretch(3, 1);
    Edit1->setMinimumWidth(Edit1->fontMetrics().averageCharWidth() * 50);

    auto* frame = new QGroupBox(this);
    auto* explain = new QVBoxLayout(frame);
    for (const char* s : {"Force users who are currently on to log out.  If they are not at their workstations, "
                          "they will be logged out automatically.  New logins will not be allowed until you click "
                          "on the Allow On button.",
                          "The reason should give the user an estimate of when the system will be available.  "
                          "Also, there is a time lag from the time you click Force Off until the time the users "
                          "get the message."}) {
        auto* l = new QLabel(text(s), frame);
        l->setWordWrap(true);
        explain->addWidget(l);
    }

    auto button = [this](const char* caption) {
        auto* b = new QPushButton(text(caption), this);
        b->setAutoDefault(false);
        return b;
    };
    btWhosOn = button("&Who's on?");
    btHistory = button("&Last time");
    btOn = button("&Allow On");
    btOff = button("&Force Off");
    btClose = button("Close");
    btHelp = button("&Help");
    btTest->setAutoDefault(false);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {btWhosOn, btHistory, btOn, btOff, btClose, btHelp})
        buttons->addWidget(b);
    buttons->addStretch();

    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(frame);
    auto* body = new QHBoxLayout;
    body->addLayout(left, 1);
    body->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblHeading);
    layout->addLayout(body);

    ui::setTabChain({cbUsers, Edit1, edWarn, edSound, sbDir, btTest, cbPlay, cbRepeat, btWhosOn, btHistory, btOn,
                     btOff, btClose, btHelp});

    connect(btOff, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btOffClick));
    connect(btOn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btOnClick));
    connect(btHistory, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btHistoryClick));
    connect(btWhosOn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btWhosOnClick));
    connect(btTest, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btTestClick));
    connect(sbDir, &QToolButton::clicked, this, ui::guardedSlot(this, &TfrmForce::sbDirClick));
    connect(btClose, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btCloseClick));
    connect(btHelp, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmForce::btHelpClick));

    ui::fixDialogBorder(this);
}

void TfrmForce::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    support::guarded([this] { FormShow(); });
}

void TfrmForce::FormShow()
{
    // SETTINGS.DB is protected; its password joins those of start-up.
    store::Session::instance().addPassword(catalogue::forceOffPassword());

    tblUserPref.open();
    cbUsers->clear();
    store::Field& who = tblUserPref.fieldByName(QStringLiteral("who"));
    for (tblUserPref.first(); !tblUserPref.eof(); tblUserPref.next())
        cbUsers->addItem(who.asString());

    tblSettings.open();
    readSettingsRow({});

    if (const int size = tblSettings.fieldByName(fForceReason).size())
        Edit1->setMaxLength(size);
    Edit1->setText(tblSettings.fieldByName(fForceReason).asString());
    const int warn = tblSettings.fieldByName(fForceWarn).asInteger();
    if (warn > 0)
        edWarn->setValue(warn);
    cbUsers->setCurrentIndex(
        cbUsers->findText(tblSettings.fieldByName(fForceWho).asString(), Qt::MatchFixedString));
}

void TfrmForce::btOffClick()
{
    const QString who = cbUsers->currentText();
    if (support::isBlank(who)) {
        support::showError(forceWhoBlankMessage());
        cbUsers->setFocus();
        return;
    }
    if (support::isBlank(Edit1->text())) {
        support::showError(forceReasonBlankMessage());
        Edit1->setFocus();
        return;
    }
    if (!support::confirm(text("Really force the users off of Kontiva Professional?")))
        return;

    writeSettings([&] { setForcedOff(tblSettings, who, Edit1->text(), edWarn->value()); });

    btOff->setEnabled(false);
    btOn->setEnabled(true);
    support::showInfo(forcedOffMessage());
}

TfrmForce::SoundSettings TfrmForce::soundSettings()
{
    return {tblSettings.fieldByName(fForceWav).asString(), tblSettings.fieldByName(fForcePlay).asBoolean(),
            tblSettings.fieldByName(fForceRepeat).asBoolean()};
}

TfrmForce::SoundChanges TfrmForce::changedSound()
{
    SoundChanges changes;
    if (!tblSettings.active())
        return changes;
    const SoundSettings now = soundSettings();
    if (now.wav != m_soundAsRead.wav)
        changes.wav = now.wav;
    if (now.play != m_soundAsRead.play)
        changes.play = now.play;
    if (now.repeat != m_soundAsRead.repeat)
        changes.repeat = now.repeat;
    return changes;
}

void TfrmForce::putSound(const SoundChanges& changes)
{
    if (!changes.any())
        return;
    ui::startEditing(tblSettings);
    if (changes.wav)
        tblSettings.fieldByName(fForceWav).setAsString(*changes.wav);
    if (changes.play)
        tblSettings.fieldByName(fForcePlay).setAsBoolean(*changes.play);
    if (changes.repeat)
        tblSettings.fieldByName(fForceRepeat).setAsBoolean(*changes.repeat);
}

void TfrmForce::readSettingsRow(const SoundChanges& keep)
{
    // An empty table shows the defaults in a new row that only a write
    // creates (see writeSettings).
    readForceRow(tblSettings);
    m_soundAsRead = soundSettings();
    putSound(keep);
    btOn->setEnabled(tblSettings.fieldByName(fForceOff).asBoolean());
    btOff->setEnabled(!btOn->isEnabled());
}

void TfrmForce::writeSettings(const std::function<void()>& setFields)
{
    const SoundChanges sound = changedSound();
    try {
        // The pending sound settings go with the write; a row made or found
        // afresh gets them too.
        writeForceRow(tblSettings, setFields, [&] { putSound(sound); });
    } catch (...) {
        // The row is read again, so that the next try starts from the row
        // as it is now (another supervisor may have changed or deleted it)
        // and a later Close cannot save a switch the supervisor saw fail.
        // The sound settings changed here stay for Close to save.
        try {
            readSettingsRow(sound);
        } catch (const std::exception&) {
            // The failure of the write is the one to tell.
        }
        throw;
    }
    m_soundAsRead = soundSettings();
}

void TfrmForce::btOnClick()
{
    if (!support::confirm(text("Really allow all users back in?")))
        return;
    writeSettings([&] { setAllowedOn(tblSettings); });
    btOn->setEnabled(false);
    btOff->setEnabled(true);
    support::showInfo(allowedOnMessage());
}

QString TfrmForce::lastTimeText()
{
    const QString who = tblSettings.fieldByName(fForceWho).asString();
    if (support::isBlank(who))
        return text("This is the first time the Force Logout has been used.");
    const QLocale locale;
    return fillS(text("The last time a forced logout was requested was by %s on %s at %s because \"%s\""),
                 {who,
                  locale.toString(store::dateFromDays(tblSettings.fieldByName(fForceDate).asDateTime()),
                                  QLocale::ShortFormat),
                  login::longTimeText(store::timeFromDays(tblSettings.fieldByName(fForceTime).asDateTime())),
                  tblSettings.fieldByName(fForceReason).asString()});
}

void TfrmForce::btHistoryClick()
{
    support::showInfo(lastTimeText());
}

void TfrmForce::btWhosOnClick()
{
    TfrmWhosOn whosOn(this);
    whosOn.Timer1->setInterval(kWhosOnInterval);
    whosOn.exec();
}

void TfrmForce::btTestClick()
{
    if (btTest->text() != text("Test")) {
        btTest->setText(text("Test"));
        login::playAlarmSound(QString(), false, false);
        return;
    }
    if (cbRepeat->isChecked())
        btTest->setText(text("Stop"));
    login::playAlarmSound(tblSettings.fieldByName(fForceWav).asString(), true,
                          tblSettings.fieldByName(fForceRepeat).asBoolean());
}

void TfrmForce::sbDirClick()
{
    QFileDialog dialog(this, text("Wav (sound) files"), edSound->text());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(text("Wav files (*.wav)|*.wav|All files (*.*)|*.*")));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    ui::startEditing(tblSettings);
    tblSettings.fieldByName(fForceWav).setAsString(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath());
}

bool TfrmForce::saveSettings()
{
    return support::guarded([this] {
        if (!tblSettings.active())
            return;
        if (tblSettings.state() == store::TableState::Insert) {
            // The table was empty: the row is made only for sound settings
            // the supervisor changed.
            if (changedSound().any())
                writeSettings([] {});
            else
                tblSettings.cancel();
        } else if (ui::isEditing(tblSettings)) {
            tblSettings.post();
        }
    });
}

void TfrmForce::stopLoopingSound()
{
    if (btTest->text() != text("Test")) {
        btTest->setText(text("Test"));
        login::playAlarmSound(QString(), false, false);
    }
}

void TfrmForce::btCloseClick()
{
    // A failed save keeps the dialog open once, so the supervisor can try
    // again; closing a second time gives the changes up.
    if (!saveSettings() && !m_saveFailed) {
        m_saveFailed = true;
        return;
    }
    stopLoopingSound();
    QDialog::reject();
}

void TfrmForce::reject()
{
    btCloseClick();
}

void TfrmForce::btHelpClick()
{
    support::openHelp(kHelpContext);
}
