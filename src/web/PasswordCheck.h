// Who may use the web server with a password: the users of web/users (bcrypt hashes, as
// "htpasswd -nB" writes them), checked through the system layer. One object per Start; its
// checks run on the connection threads.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QStringList>
#include <string>

class PasswordCheck {
public:
    // "name:hash" entries as MachineSettings gives them; none: no password is asked for. An
    // entry without a hash (the "!" that a refused list becomes) lets nobody in.
    explicit PasswordCheck(const QStringList &users = {});

    // True when users are set, so that every request must name one.
    bool required() const { return boolRequired; }

    // The value of an "Authorization" header: true for "Basic" with the name and password of a
    // user. A wrong password and an unknown name cost the same bcrypt check (an unknown name
    // is checked against the first user's hash), so that the time does not tell which names
    // exist. A correct check is remembered, so that a dashboard polling every second does not
    // pay bcrypt each time; a wrong one never is.
    bool allows(const QString &strAuthorization);

    // Most correct checks remembered at once (the oldest is dropped for a newer one).
    static constexpr int intRemembered = 64;

private:
    bool boolRequired = false;
    // Set once by the constructor, then read-only.
    QHash<QString, std::string> hashes;
    std::string strDecoy;

    // Guards accepted: connection threads check at the same time. Holds a digest of each
    // header value that passed, never the password itself; the bcrypt check runs unlocked.
    QMutex mutex;
    QSet<QByteArray> accepted;
    QList<QByteArray> acceptedOrder;
};
