// About > Author: the maker's banner and a button to the maker's web site.
#pragma once

#include <QDialog>

class QGroupBox;
class QPushButton;
class QTextEdit;

class DisplayAboutAuthor : public QDialog {
    Q_OBJECT
public:
    DisplayAboutAuthor();

    // The root page of the maker's web site, which "Visit Website" opens.
    static QUrl websiteUrl();

    QGroupBox *groupAuthor;
    QTextEdit *textAuthor;
    QPushButton *buttonAuthorWebsite;

public slots:
    void clickedAuthorQuillbar();
};
