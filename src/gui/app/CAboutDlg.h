#pragma once

#include <QDialog>

// The About box: the program's icon, the banner, the version text and an OK button.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
