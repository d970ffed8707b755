// The "Authorization" header of a request to a server with users, as anyone who reaches the
// port may send it.
//
// Input: the header's value. Only the one user's name and password may pass, however the
// header is spelled around them.
#include "FuzzCheck.h"
#include "PasswordCheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // htpasswd -nbB -C 4 alice "correct horse": the cheapest cost, so that each input is quick.
    static PasswordCheck check(
        {QStringLiteral("alice:$2y$04$FXU8sEiGL/BlkybSfHyVgeZZU4iwghtlk16WLpU4zUrXxXXEnWQ8W")});
    const QString header = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!check.allows(header))
        return 0;
    const QString trimmed = header.trimmed();
    const QByteArray credentials =
        QByteArray::fromBase64(trimmed.mid(trimmed.indexOf(QLatin1Char(' ')) + 1).toLatin1());
    FUZZ_CHECK(credentials == "alice:correct horse");
    return 0;
}
