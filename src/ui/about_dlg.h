#pragma once

#include <QDialog>

// The About box: program name, version and a copyright line.
class CAboutDlg : public QDialog {
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
