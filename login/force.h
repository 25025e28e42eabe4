#pragma once

#include "store/Table.h"

#include <QDialog>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace ui { class DataSource; class DbCheckBox; class DbEdit; }

// The supervisor's switch that empties the system: Force Off marks the
// shared settings row so that the Kontiva clients log their users out and
// refuse new log-ins; Allow On clears the mark. Also keeps the alarm sound's
// settings in the same row, plays it, tells when the users were last forced
// off and opens the who's-on list.
class TfrmForce : public QDialog {
    Q_OBJECT
public:
    explicit TfrmForce(QWidget* parent = nullptr);
    ~TfrmForce() override;

    store::Table tblUserPref;
    store::Table tblSettings;
    ui::DataSource* dsSettings;

    QLabel* lblHeading;
    QComboBox* cbUsers;
    QLineEdit* Edit1;
    QSpinBox* edWarn;
    ui::DbEdit* edSound;
    QToolButton* sbDir;
    QPushButton* btTest;
    ui::DbCheckBox* cbPlay;
    ui::DbCheckBox* cbRepeat;
    QPushButton* btWhosOn;
    QPushButton* btHistory;
    QPushButton* btOn;
    QPushButton* btOff;
    QPushButton* btClose;
    QPushButton* btHelp;

    void FormShow();
    void btOffClick();
    void btOnClick();
    void btHistoryClick();
    void btWhosOnClick();
    void btTestClick();
    void sbDirClick();
    void btCloseClick();
    void btHelpClick();

    // The text "&Last time" shows for the current settings row.
    QString lastTimeText();

public slots:
    // Escape and the close box act like Close: pending sound settings are
    // saved.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct SoundSettings {
        QString wav;
        bool play = false;
        bool repeat = false;
    };

    // The sound settings changed on screen since the row was read.
    struct SoundChanges {
        std::optional<QString> wav;
        std::optional<bool> play;
        std::optional<bool> repeat;
        bool any() const { return wav || play || repeat; }
    };

    void buildWindow();
    bool saveSettings();
    void stopLoopingSound();
    SoundSettings soundSettings();
    SoundChanges changedSound();
    void putSound(const SoundChanges& changes);
    // Reads the settings row afresh and sets the two buttons from it; an
    // empty table shows the defaults in a pending new row. keep: sound
    // settings changed here and not saved, put into the row read.
    void readSettingsRow(const SoundChanges& keep);
    // Saves the row with the fields setFields writes. A pending new row is
    // made only if the table is still empty, in the same unit as the write;
    // else the row another program made gets the fields. After a failure
    // the row is read again.
    void writeSettings(const std::function<void()>& setFields);

    bool m_shown = false;
    bool m_saveFailed = false;
    SoundSettings m_soundAsRead;
};
