#include "PeerList.h"

#include <QHostAddress>
#include <algorithm>

PeerList::PeerList(int intCapacity) : intCapacity(qMax(1, intCapacity)) {}

bool PeerList::hear(const QString &strAddress, const HeartbeatProtocol::Answer &answer,
                    bool boolThisMachine, qint64 intNow, quint64 intRound) {
    auto found =
        index.find(boolThisMachine && index.contains(strThisMachine) ? strThisMachine : strAddress);
    if (found == index.end()) {
        if (int(index.size()) >= intCapacity) {
            // Answers of one round come after those of every earlier one, so the least
            // recently heard is from an earlier round unless all are from this one. A machine
            // that answered this round or the one before keeps its place: claims read ahead of
            // its answer in this round must not push it out. This machine is never the one
            // pushed out, and its own answer always finds a place.
            auto oldest = order.begin();
            if (oldest->boolThisMachine)
                ++oldest;
            if (oldest == order.end() || (oldest->intRound + 1 >= intRound && !boolThisMachine))
                return false;
            index.remove(oldest->strAddress);
            order.erase(oldest);
        }
        Peer peer;
        peer.strAddress = strAddress;
        peer.intFirstHeard = intNow;
        order.push_back(peer);
        found = index.insert(strAddress, std::prev(order.end()));
    } else {
        order.splice(order.end(), order, found.value());
    }
    Peer &peer = *found.value();
    // Anyone on this machine can send from its addresses: what they say of this machine is
    // never taken (its owner knows its port and version).
    if (!boolThisMachine) {
        if (answer.strCommand == QLatin1String("commandVersion"))
            peer.strVersion = answer.strVersion;
        else
            peer.intPort = answer.intPort;
    }
    peer.intLastHeard = intNow;
    peer.intRound = intRound;
    peer.boolThisMachine = boolThisMachine;
    if (boolThisMachine)
        strThisMachine = peer.strAddress;
    return true;
}

void PeerList::forgetBefore(quint64 intRound) {
    for (auto peer = order.begin(); peer != order.end();) {
        if (peer->intRound < intRound) {
            index.remove(peer->strAddress);
            peer = order.erase(peer);
        } else {
            ++peer;
        }
    }
}

QVector<Peer> PeerList::peers() const {
    QVector<Peer> result(order.begin(), order.end());
    std::sort(result.begin(), result.end(), [](const Peer &a, const Peer &b) {
        if (a.boolThisMachine != b.boolThisMachine)
            return a.boolThisMachine;
        return QHostAddress(a.strAddress).toIPv4Address() <
               QHostAddress(b.strAddress).toIPv4Address();
    });
    return result;
}
