#include "DisplayAboutAuthor.h"

#include "Display.h"

#include <QGroupBox>
#include <QPushButton>
#include <QStringList>
#include <QTextEdit>
#include <QUrl>

namespace {
// The maker's name in fixed-width letters, one line per paragraph.
const char *const strBanner = R"banner(  ____        _  _ _ _
 / __ \      (_)| | | |
| |  | |_   _ _ | | | |__   __ _ _ __
| |  | | | | | || | | '_ \ / _` | '__|
| |__| | |_| | || | | |_) | (_| | |
 \___\_\\__,_|_||_|_|_.__/ \__,_|_|)banner";

// Rich text folds runs of blanks, so every blank of the art becomes a fixed one.
QString bannerDocument() {
    QStringList paragraphs;
    const QStringList lines = QString::fromLatin1(strBanner).split(QLatin1Char('\n'));
    qsizetype width = 0;
    for (const QString &line : lines) {
        width = qMax(width, line.size());
    }
    for (const QString &line : lines) {
        // Each paragraph is centred on its own, so the lines are padded to one width.
        QString art = line.leftJustified(width).toHtmlEscaped();
        art.replace(QLatin1Char(' '), QLatin1String("&nbsp;"));
        paragraphs << QStringLiteral("<p align=\"center\" style=\" margin-top:0px; "
                                     "margin-bottom:0px; margin-left:0px; margin-right:0px; "
                                     "-qt-block-indent:0; text-indent:0px;\"><span style=\" "
                                     "font-size:8pt;\">") +
                          art + QStringLiteral("</span></p>");
    }
    return QStringLiteral(
               "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
               "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
               "<html><head><meta name=\"qrichtext\" content=\"1\" /><style "
               "type=\"text/css\">\np, li { white-space: pre-wrap; }\n</style></head>"
               "<body style=\" font-family:'Courier New'; font-size:8.25pt; font-weight:400; "
               "font-style:normal;\">\n") +
           paragraphs.join(QLatin1Char('\n')) + QStringLiteral("</body></html>");
}
} // namespace

DisplayAboutAuthor::DisplayAboutAuthor() : QDialog(nullptr) {
    groupAuthor = new QGroupBox(this);
    groupAuthor->setGeometry(10, 10, 341, 161);
    groupAuthor->setTitle(QStringLiteral("Author"));

    textAuthor = new QTextEdit(groupAuthor);
    textAuthor->setGeometry(10, 20, 321, 101);
    textAuthor->setFocusPolicy(Qt::ClickFocus);
    textAuthor->setHtml(bannerDocument());
    textAuthor->setReadOnly(true);

    buttonAuthorWebsite = new QPushButton(groupAuthor);
    buttonAuthorWebsite->setGeometry(180, 130, 151, 23);
    buttonAuthorWebsite->setFocusPolicy(Qt::ClickFocus);
    buttonAuthorWebsite->setText(QStringLiteral("Visit Website"));
    connect(buttonAuthorWebsite, &QPushButton::clicked, this,
            &DisplayAboutAuthor::clickedAuthorQuillbar);

    setWindowTitle(QStringLiteral("About"));
    resize(361, 181);
    show();
}

QUrl DisplayAboutAuthor::websiteUrl() {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral(TARNIVO_WEBSITE_HOST));
    url.setPath(QStringLiteral("/"));
    return url;
}

void DisplayAboutAuthor::clickedAuthorQuillbar() {
    // Nothing to report when no browser starts: the user sees that nothing opened.
    Display::openInBrowser(websiteUrl());
}
