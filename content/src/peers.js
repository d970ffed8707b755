// The "Machines on this network" panel: what the monitor heard from other Tarnivos, and when
// to ask it to look again. Looking sends broadcasts on the monitor's networks, so it happens
// only when someone asks: the button, or every 30 seconds while the panel is open and the
// viewer has switched that on.

export const PEERS_URL = '/peers.json';
export const LOOK_URL = '/peers.json?strRequest=requestLook';

/** Timings in milliseconds. */
export const PEER_TIMINGS = Object.freeze({
    autoLook: 30000,
    // Answers on a local network take milliseconds; the list is read again after this.
    afterLook: 1500,
    timeout: 4000,
});

const DOTTED = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/;

/** The link to a peer's dashboard, or null when its monitor is not running or the address is odd. */
export function dashboardLink(address, port) {
    const parts = DOTTED.exec(String(address));
    if (!parts || parts.slice(1).some((n) => Number(n) > 255)) return null;
    if (!Number.isInteger(port) || port < 1 || port > 65535) return null;
    return `http://${address}${port === 80 ? '' : `:${port}`}/`;
}

/**
 * What the panel shows for one /peers.json document:
 * {rows: [{address, version, port, thisMachine, href, lastHeard}], others, answered, looked,
 * lastLook, running}.
 * Rows keep the server's order (this machine first).
 */
export function peerView(doc) {
    const peers = Array.isArray(doc?.peers) ? doc.peers : [];
    const rows = peers.map((peer) => ({
        address: String(peer.address ?? ''),
        version: typeof peer.version === 'string' ? peer.version : null,
        port: Number.isInteger(peer.port) ? peer.port : null,
        thisMachine: peer.thisMachine === true,
        href: dashboardLink(peer.address, peer.port),
        lastHeard: peer.lastHeard ? new Date(peer.lastHeard) : null,
    }));
    const lastLook = doc?.lastLook ? new Date(doc.lastLook) : null;
    const others = rows.filter((row) => !row.thisMachine);
    return {
        rows,
        others: others.length,
        // Others still listed from earlier looks have not answered the last one (yet).
        answered: lastLook ? others.filter((row) => row.lastHeard >= lastLook).length : 0,
        looked: lastLook !== null,
        lastLook,
        running: doc?.running !== false,
    };
}

/**
 * Keeps the panel's list current. Injected, so that tests drive it step by step:
 * - fetchJson(url, signal) -> Promise<object>, rejecting on any failure;
 * - clock: {setTimeout(fn, ms), clearTimeout(id)};
 * - onView(view) after every document, onError(error) after a failed request,
 *   onLooking(true|false) around a look.
 */
export class PeersPanel {
    constructor({ fetchJson, clock, onView, onError, onLooking, timings }) {
        this.fetchJson = fetchJson;
        this.clock = clock;
        this.onView = onView || (() => {});
        this.onError = onError || (() => {});
        this.onLooking = onLooking || (() => {});
        this.timings = { ...PEER_TIMINGS, ...timings };
        this.open = false;
        this.auto = false;
        this.autoTimer = null;
        this.readTimer = null;
        this.generation = 0;
    }

    /** The panel was opened or closed. Opening shows what is known, without looking. */
    setOpen(open) {
        if (open === this.open) return;
        this.open = open;
        this.reschedule(open && !this.auto);
    }

    /** Looking every 30 seconds, while the panel is open, switched on or off. */
    setAuto(on) {
        if (on === this.auto) return;
        this.auto = on;
        this.reschedule(false);
    }

    /** Someone pressed the button. */
    look() {
        this.request(LOOK_URL);
    }

    reschedule(readOnly) {
        this.clock.clearTimeout(this.autoTimer);
        this.autoTimer = null;
        if (!this.open) {
            if (this.readTimer !== null) this.onLooking(false);
            this.clock.clearTimeout(this.readTimer);
            this.readTimer = null;
            return;
        }
        if (this.auto) this.autoLook();
        else if (readOnly) this.request(PEERS_URL);
    }

    autoLook() {
        this.request(LOOK_URL);
        this.autoTimer = this.clock.setTimeout(() => this.autoLook(), this.timings.autoLook);
    }

    async request(url) {
        const looking = url === LOOK_URL;
        const generation = ++this.generation;
        if (looking) this.onLooking(true);
        const controller = new AbortController();
        const timer = this.clock.setTimeout(() => controller.abort(), this.timings.timeout);
        try {
            const doc = await this.fetchJson(url, controller.signal);
            // An older answer that arrives after a newer one is not shown over it.
            if (generation === this.generation) this.onView(peerView(doc));
        } catch (error) {
            if (generation === this.generation) this.onError(error);
        } finally {
            this.clock.clearTimeout(timer);
        }
        if (looking) {
            // The answers come in after the look was answered: read the list once more.
            this.clock.clearTimeout(this.readTimer);
            this.readTimer = this.clock.setTimeout(() => {
                this.readTimer = null;
                this.request(PEERS_URL).then(() => this.onLooking(false));
            }, this.timings.afterLook);
        }
    }
}
