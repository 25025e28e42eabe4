#pragma once

#include "store/Table.h"

#include <QDialog>
#include <functional>

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
    void buildWindow();
    bool saveSettings();
    void stopLoopingSound();
    void writeForceRecord(const std::function<void()>& write);

    bool m_shown = false;
    bool m_saveFailed = false;
};
