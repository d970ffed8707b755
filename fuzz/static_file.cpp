// The web root's path resolution: whatever the decoded request path, a resolved file lies below
// the root and is a regular file. The root is a small tree made for the run, with symbolic links
// that lead out of it (to a directory, to a file, to a sibling whose name starts like the
// root's), links that stay inside, a link loop, a directory and a FIFO.
//
// Input: the decoded file path as UTF-8.
#include "FuzzCheck.h"
#include "StaticFile.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Removed at exit.
std::unique_ptr<QTemporaryDir> tree;
QString webRoot;       // as the server is given it
QString webRootByLink; // the same directory, named through a symbolic link
QString canonicalRoot; // with a final slash

void makeFile(const QString &path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly));
    file.write("x");
}

void makeLink(const QString &target, const QString &link) {
    FUZZ_CHECK(QFile::link(target, link));
}

// The real path as the C library resolves it, independently of Qt.
QString realPath(const QString &path) {
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return {};
    return QFile::decodeName(resolved);
}

// Where the file the server would send really lies: empty when StaticFile refuses the path.
QString resolve(const QString &root, const QString &filePath) {
    StaticFile::Opened file;
    if (!StaticFile::open(root, filePath, file))
        return {};
    return QString::fromStdString(platform::finalPathOfFile(file.descriptor));
}

void checkResolved(const QString &filePath, const QString &resolved) {
    if (resolved.isEmpty())
        return;
    FUZZ_CHECK(StaticFile::isSafeFilePath(filePath));
    FUZZ_CHECK(resolved.startsWith(canonicalRoot));
    FUZZ_CHECK(realPath(resolved) == resolved);
    struct stat status {};
    FUZZ_CHECK(::stat(QFile::encodeName(resolved).constData(), &status) == 0);
    FUZZ_CHECK(S_ISREG(status.st_mode));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tree =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarnivo-fuzz-XXXXXX"));
    FUZZ_CHECK(tree->isValid());
    const QString base = realPath(tree->path());
    webRoot = base + QStringLiteral("/web");
    for (const char *dir :
         {"/web/assets/deep", "/web/res", "/web/src", "/web/empty", "/outside", "/web2"})
        FUZZ_CHECK(QDir().mkpath(base + QLatin1String(dir)));
    for (const char *file :
         {"/web/assets/menu.html", "/web/assets/deep/chart.js", "/web/res/logo.png",
          "/web/src/monitor.js", "/web/a.txt", "/outside/secret.txt", "/web2/decoy.txt"})
        makeFile(base + QLatin1String(file));
    // Leading out of the root: relative, absolute, to a file, to a directory that shares the
    // root's name as a prefix, two steps through an inside link.
    makeLink(QStringLiteral("../../outside"), webRoot + QStringLiteral("/assets/out"));
    makeLink(base + QStringLiteral("/outside"), webRoot + QStringLiteral("/res/abs"));
    makeLink(QStringLiteral("../../outside/secret.txt"), webRoot + QStringLiteral("/src/s.txt"));
    makeLink(QStringLiteral("../web2"), webRoot + QStringLiteral("/web2"));
    makeLink(QStringLiteral("../assets/out"), webRoot + QStringLiteral("/res/via"));
    makeLink(QStringLiteral("/"), webRoot + QStringLiteral("/src/root"));
    // Staying inside, and a loop.
    makeLink(QStringLiteral("../assets"), webRoot + QStringLiteral("/res/assets"));
    makeLink(QStringLiteral("menu.html"), webRoot + QStringLiteral("/assets/start.html"));
    makeLink(QStringLiteral("loop"), webRoot + QStringLiteral("/src/loop"));
    FUZZ_CHECK(::mkfifo(QFile::encodeName(webRoot + QStringLiteral("/assets/pipe")).constData(),
                        0600) == 0);
    webRootByLink = base + QStringLiteral("/root-link");
    makeLink(QStringLiteral("web"), webRootByLink);
    canonicalRoot = webRoot + QLatin1Char('/');

    // The tree works as meant: the start page resolves, the links out do not.
    FUZZ_CHECK(!resolve(webRoot, QStringLiteral("/assets/menu.html")).isEmpty());
    FUZZ_CHECK(resolve(webRoot, QStringLiteral("/src/s.txt")).isEmpty());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString filePath =
        QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString resolved = resolve(webRoot, filePath);
    checkResolved(filePath, resolved);
    const QString resolvedByLink = resolve(webRootByLink, filePath);
    checkResolved(filePath, resolvedByLink);
    // The root's own name does not change what a path names.
    FUZZ_CHECK(resolved == resolvedByLink);

    StaticFile::mediaType(filePath);
    StaticFile::disposition(filePath);
    return 0;
}
