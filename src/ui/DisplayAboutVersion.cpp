#include "DisplayAboutVersion.h"

#include "TarnivoVersion.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QXmlStreamReader>

namespace {
// Read and written on the GUI thread only.
QString strWebsite = QStringLiteral("http://" TARNIVO_WEBSITE_HOST);

// The product version installed; the heartbeat reports the same one.
const char *const strVersionInstalled = TARNIVO_VERSION;

// The web site's answer comes as the first piece of its body, or not at all.
constexpr int intWaitMs = 5000;

// The DOM parser takes time that grows with the square of the nesting depth (a reply of 120 KB
// nested 40000 deep holds the GUI thread for over ten seconds). The real reply is three levels
// deep; a much deeper one is not read at all.
constexpr int intMaxDepth = 64;

bool nestedTooDeep(const QString &text) {
    QXmlStreamReader reader(text);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > intMaxDepth) {
            return true;
        }
        if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return false;
}
} // namespace

QString DisplayAboutVersion::website() {
    return strWebsite;
}

void DisplayAboutVersion::setWebsite(const QString &website) {
    strWebsite = website;
}

DisplayAboutVersion::DisplayAboutVersion() : QDialog(nullptr) {
    groupVersion = new QGroupBox(this);
    groupVersion->setGeometry(10, 10, 171, 111);
    groupVersion->setTitle(QStringLiteral("Version:"));

    editVersionInstalled = new QLineEdit(groupVersion);
    editVersionInstalled->setGeometry(10, 20, 151, 20);
    editVersionInstalled->setFocusPolicy(Qt::ClickFocus);
    editVersionInstalled->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    editVersionInstalled->setReadOnly(true);
    editVersionInstalled->setText(QLatin1String(strVersionInstalled));

    // The labels lie over the left part of their line edits, whose texts are right-aligned.
    labelVersionInstalled = new QLabel(groupVersion);
    labelVersionInstalled->setGeometry(15, 20, 61, 20);
    labelVersionInstalled->setText(QStringLiteral("Installed:"));

    editVersionLatest = new QLineEdit(groupVersion);
    editVersionLatest->setGeometry(10, 50, 151, 20);
    editVersionLatest->setFocusPolicy(Qt::ClickFocus);
    editVersionLatest->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    editVersionLatest->setReadOnly(true);
    editVersionLatest->setText(QStringLiteral("Unknown"));

    labelVersionLatest = new QLabel(groupVersion);
    labelVersionLatest->setGeometry(15, 50, 61, 20);
    labelVersionLatest->setText(QStringLiteral("Latest:"));

    buttonVersionCheck = new QPushButton(groupVersion);
    buttonVersionCheck->setGeometry(10, 80, 151, 23);
    buttonVersionCheck->setFocusPolicy(Qt::ClickFocus);
    buttonVersionCheck->setText(QStringLiteral("Check latest Version"));
    connect(buttonVersionCheck, &QPushButton::clicked, this,
            &DisplayAboutVersion::clickedVersionCheck);

    setWindowTitle(QStringLiteral("About"));
    resize(191, 131);
    show();
}

QString DisplayAboutVersion::latestVersion(const QByteArray &body, const QString &strUnknown) {
    QString strLatest = strUnknown;
    // The text ends at the first NUL byte.
    const QString text = QString::fromUtf8(body.constData());
    if (text.isEmpty() || nestedTooDeep(text)) {
        return strLatest;
    }
    // A parse error leaves an empty document, which holds no entry: the part read before the
    // error is not trusted.
    QDomDocument document;
    if (!document.setContent(text, false)) {
        document = QDomDocument();
    }
    // Only entries below the root count, at any depth; the last one for us wins.
    const QDomNodeList entries =
        document.documentElement().elementsByTagName(QStringLiteral("Version"));
    for (int i = 0; i < entries.count(); ++i) {
        const QDomElement entry = entries.at(i).toElement();
        if (entry.isNull()) {
            continue;
        }
        const QString strName = entry.firstChildElement(QStringLiteral("strName")).text();
        const QString strVersion = entry.firstChildElement(QStringLiteral("strVersion")).text();
        if (strName == QLatin1String("Tarnivo")) {
            strLatest = strVersion;
        }
    }
    return strLatest;
}

void DisplayAboutVersion::clickedVersionCheck() {
    editVersionLatest->setText(QStringLiteral("Unknown"));
    // Disabled for the whole check: the wait below runs a nested loop that would accept a
    // second click.
    buttonVersionCheck->setEnabled(false);

    QNetworkAccessManager *manager = new QNetworkAccessManager();
    QNetworkReply *reply = manager->get(
        QNetworkRequest(QUrl(strWebsite + QStringLiteral("/index.xml?strRequest=requestVersion"))));

    // A nested loop keeps the control window and the listener working during the wait.
    QEventLoop loop;
    if (reply) {
        connect(reply, &QIODevice::readyRead, &loop, &QEventLoop::quit);
    }
    QTimer::singleShot(intWaitMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::AllEvents);

    const QByteArray body = reply ? reply->readAll() : QByteArray();
    editVersionLatest->setText(latestVersion(body, QStringLiteral("Unknown")));

    delete reply;
    delete manager;
    buttonVersionCheck->setEnabled(true);
}
