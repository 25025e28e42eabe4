#pragma once

// Pictures of windows saved into <build>/screenshots, so that a reviewer can
// look at them without a display.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QWidget>
#include <QtTest>

namespace testkit {

// <build>/screenshots, made if missing; empty if it cannot be made.
inline QString screenshotFolder()
{
    const QString folder = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../screenshots");
    return QDir().mkpath(folder) ? folder : QString();
}

// Saves a picture of the widget under that name in the folder; the test
// fails if it is not written or is next to empty (a blank grab).
inline void saveScreenshot(QWidget* widget, const QString& name)
{
    const QString folder = screenshotFolder();
    QVERIFY(!folder.isEmpty());
    const QString path = QDir(folder).filePath(name);
    QVERIFY(widget->grab().save(path));
    QVERIFY(QFileInfo(path).size() > 1000);
}

} // namespace testkit
