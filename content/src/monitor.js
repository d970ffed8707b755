// Talking to the monitor: one read a second, a rebuild of the device tables only when they are
// empty or the user asks for it, and plain reporting of a server that stops answering.

import { KINDS, isEmptyStatus, parseStatus } from './status.js?v=1';

// requestMemory: the memory records carry the figures of the moment, not those of the last scan.
// requestSpeed: the adapters carry their whole link speed, not the clamp at 4.29 Gb/s.
export const READ_URL = '/menu.xml?strRequest=requestRead:requestMemory:requestSpeed';
export const INIT_URL = '/menu.xml?strRequest=requestInit:requestRead:requestMemory:requestSpeed';

/** Timings in milliseconds. */
export const TIMINGS = Object.freeze({
    interval: 1000,
    // A local server answers a read in a few milliseconds; one that takes this long is not well.
    timeout: 4000,
    // A rebuild enumerates every device; giving up on it early would only start another one.
    initTimeout: 20000,
    retry: 2000,
    // Tables that are still empty right after a rebuild are not rebuilt again before this.
    initPause: 30000,
});

// A table seen empty between another viewer's clear and fill is held at its last records
// for this many reads before it is believed.
const EMPTY_READS_BELIEVED = 3;

/**
 * Polls the status document. Everything that touches time or the network is injected, so
 * the behaviour can be driven step by step in tests:
 * - fetchText(url, signal) -> Promise<string>, rejecting on any failure;
 * - parseXml(text) -> Document;
 * - clock: {now(), setTimeout(fn, ms), clearTimeout(id)};
 * - onStatus(status, {rebuilt, held}) after every good read (held: kinds kept from before);
 * - onConnection({state: 'connecting'|'live'|'down', since, error}) on every change;
 * - onProblem(error or null) when a document cannot be read although the server answers.
 */
export class StatusPoller {
    constructor({ fetchText, parseXml, clock, onStatus, onConnection, onProblem, timings }) {
        this.fetchText = fetchText;
        this.parseXml = parseXml;
        this.clock = clock;
        this.onStatus = onStatus || (() => {});
        this.onConnection = onConnection || (() => {});
        this.onProblem = onProblem || (() => {});
        this.timings = { ...TIMINGS, ...timings };
        this.state = 'connecting';
        this.downSince = null;
        this.wantInit = false;
        this.lastInitAt = null;
        this.inFlight = false;
        this.timer = null;
        this.stopped = true;
        this.last = null;
        this.emptyReads = Object.fromEntries(KINDS.map((kind) => [kind, 0]));
    }

    start() {
        this.stopped = false;
        this.onConnection({ state: this.state, since: null, error: null });
        this.request();
    }

    stop() {
        this.stopped = true;
        if (this.timer !== null) this.clock.clearTimeout(this.timer);
        this.timer = null;
    }

    /** The user asked for the devices to be taken anew: identifiers and rates restart. */
    rescan() {
        this.wantInit = true;
        if (!this.inFlight && !this.stopped) {
            if (this.timer !== null) this.clock.clearTimeout(this.timer);
            this.timer = null;
            this.request();
        }
    }

    schedule(delay) {
        if (this.stopped) return;
        this.timer = this.clock.setTimeout(() => {
            this.timer = null;
            this.request();
        }, delay);
    }

    async request() {
        if (this.stopped || this.inFlight) return;
        const init = this.wantInit;
        this.wantInit = false;
        this.inFlight = true;
        const startedAt = this.clock.now();
        const abort = new AbortController();
        const limit = init ? this.timings.initTimeout : this.timings.timeout;
        const deadline = this.clock.setTimeout(() => abort.abort(), limit);
        let text;
        try {
            text = await this.fetchText(init ? INIT_URL : READ_URL, abort.signal);
        } catch (error) {
            this.clock.clearTimeout(deadline);
            this.inFlight = false;
            if (init) this.wantInit = true;
            this.setState('down', error);
            this.schedule(this.timings.retry);
            return;
        }
        this.clock.clearTimeout(deadline);
        this.inFlight = false;
        if (init) this.lastInitAt = this.clock.now();
        this.setState('live', null);
        this.receive(text, init);
        if (this.stopped || this.inFlight) return;
        if (this.wantInit) {
            this.request();
            return;
        }
        const elapsed = this.clock.now() - startedAt;
        this.schedule(Math.max(0, this.timings.interval - elapsed));
    }

    receive(text, rebuilt) {
        let status;
        try {
            status = parseStatus(text, this.parseXml);
        } catch (error) {
            this.onProblem(error);
            return;
        }
        this.onProblem(null);
        if (isEmptyStatus(status) && !rebuilt && this.mayInitAgain()) {
            // Nothing has filled the tables since the program started: take stock now.
            this.wantInit = true;
            return;
        }
        const held = rebuilt ? [] : this.holdVanishedTables(status);
        if (rebuilt) for (const kind of KINDS) this.emptyReads[kind] = 0;
        this.last = status;
        this.onStatus(status, { rebuilt, held });
    }

    mayInitAgain() {
        return this.lastInitAt === null || this.clock.now() - this.lastInitAt >= this.timings.initPause;
    }

    holdVanishedTables(status) {
        const held = [];
        for (const kind of KINDS) {
            if (status[kind].length > 0 || !this.last || this.last[kind].length === 0) {
                this.emptyReads[kind] = 0;
                continue;
            }
            this.emptyReads[kind]++;
            if (this.emptyReads[kind] < EMPTY_READS_BELIEVED) {
                status[kind] = this.last[kind];
                held.push(kind);
            }
        }
        return held;
    }

    setState(state, error) {
        if (state === this.state) return;
        this.state = state;
        if (state === 'down') {
            this.downSince = this.clock.now();
            // A server that comes back may be a new process whose tables are empty again.
            this.lastInitAt = null;
        }
        this.onConnection({ state, since: this.downSince, error });
    }
}
