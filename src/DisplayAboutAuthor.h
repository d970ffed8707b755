#pragma once

#include <QDialog>

class DisplayAboutAuthor : public QDialog {
    Q_OBJECT
public:
    DisplayAboutAuthor();
};
