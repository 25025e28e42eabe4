#pragma once

// The permission report window: what one user may do, and who may use one
// permission of one database; each shown as a document that the supervisor
// can print or save as CSV. Read-only.

#include "permissions/Report.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QPrinter;
class QPushButton;
class QTabWidget;
class QTextBrowser;

class TfrmPermReport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPermReport(QWidget* parent = nullptr);
    ~TfrmPermReport() override;

    // The user shown first; set by the opener before the window is shown.
    QString userId;

    QTabWidget* nbook;
    QWidget* UserPage;
    QComboBox* cbUser;
    QComboBox* cbDatabase; // "All databases" first
    QTextBrowser* viewUser;
    QWidget* WhoPage;
    QComboBox* cbWhoDatabase;
    QComboBox* cbPermission;
    QTextBrowser* viewWho;
    QPushButton* btPrint;
    QPushButton* btSave;
    QPushButton* btHelp;
    QPushButton* btClose;

    // Asks where to print; true to go on. Shows the print dialog unless a
    // test puts its own answer here.
    std::function<bool(QPrinter&)> choosePrinter;
    // Asks for the CSV file's name (suggested name given); empty to stop.
    // Shows the save dialog unless a test puts its own answer here.
    std::function<QString(const QString& suggested)> chooseCsvFile;

    void FormShow();
    void showUserReport();
    void showWhoCan();
    void btPrintClick();
    void btSaveClick();
    void btHelpClick();

    // The document of the page shown, as printed.
    QString currentHtml() const;
    // The CSV of the page shown, neutralised for spreadsheets.
    QString currentCsv() const;
    // Writes currentCsv() to path; an error box tells a failure.
    bool saveCsv(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildPage(const char* firstLabel, QComboBox*& first, const char* secondLabel, QComboBox*& second,
                       QTextBrowser*& view);
    // Print and save only while the page shown has a report.
    void updateButtons();

    bool m_shown = false;
    bool m_filled = false; // the choosers are filled: their changes show reports
    permissions::UserReport m_user;
    permissions::WhoCan m_who;
};
