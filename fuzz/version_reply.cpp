// The version check's reading of the web site's reply body.
//
// Input: the reply body.
#include "DisplayAboutVersion.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString unknown = QStringLiteral("Unknown");
    const QString latest = DisplayAboutVersion::latestVersion(body, unknown);
    // The reply's text ends at its first NUL: what follows it changes nothing.
    const qsizetype nul = body.indexOf('\0');
    if (nul >= 0)
        FUZZ_CHECK(DisplayAboutVersion::latestVersion(body.left(nul), unknown) == latest);
    return 0;
}
