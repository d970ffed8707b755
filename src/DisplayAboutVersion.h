#pragma once

#include <QDialog>

class DisplayAboutVersion : public QDialog {
    Q_OBJECT
public:
    DisplayAboutVersion();
};
