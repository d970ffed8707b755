// Device cards: memory, one core, one adapter, one disk, and the list that keeps a kind's
// cards in step with the status document. Texts are written with textContent only (device
// names come from the machine and may hold markup characters), and only when they changed.

import { formatBitRate, formatByteRate, formatBytes, formatCount, formatPercent, MISSING, percentOf }
    from './units.js?v=1';

export function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
}

export function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
}

function swatch(n) {
    return element('span', `swatch s${n}`);
}

/** A term/value pair list; returns the value nodes by key. */
function details(parent, rows) {
    const list = element('dl', 'details');
    const values = {};
    for (const [key, term] of rows) {
        const row = element('div');
        row.append(element('dt', '', term));
        values[key] = element('dd', '', MISSING);
        row.append(values[key]);
        list.append(row);
    }
    parent.append(list);
    return values;
}

/** Big figures under small labels; a label may carry the swatch of its chart line. */
function figures(parent, rows) {
    const box = element('div', 'figures');
    const values = {};
    for (const [key, label, colour] of rows) {
        const cell = element('div', 'figure');
        const name = element('span', 'figure-label');
        if (colour) name.append(swatch(colour));
        name.append(label);
        values[key] = element('span', 'figure-value', MISSING);
        cell.append(name, values[key]);
        box.append(cell);
    }
    parent.append(box);
    return values;
}

/** `description` ends with the span ("over the last hour"), which the board keeps true. */
export function chartHost(parent, description) {
    const host = element('figure', 'chart');
    host.setAttribute('role', 'img');
    host.setAttribute('aria-label', description);
    parent.append(host);
    return host;
}

const DISPLAY_NAMES = { Physical: 'Physical memory', Pagefile: 'Page file' };

/**
 * One kind of device card: `make(record)` builds the card and returns {node, update(record),
 * charts, width (value columns of its history)}; the list keeps cards by device key in document
 * order and drops cards of vanished devices. A rescan remakes a device's card in its place (its
 * texts are the new scan's) while its chart goes on from the same history.
 */
export class CardList {
    constructor(container, empty, make, board) {
        this.container = container;
        this.empty = empty;
        this.make = make;
        this.board = board;
        this.cards = new Map();
    }

    /** `settling`: new cards are placed but their figures are not yet meaningful. */
    update(records, emptyText, settling = false) {
        const seen = new Set();
        let previous = null;
        this.made = false;
        for (const record of records) {
            const key = record.key;
            if (seen.has(key)) continue;
            seen.add(key);
            let card = this.cards.get(key);
            if (card && card.ident !== record.strIdent) {
                for (const chart of card.charts) this.board.remove(chart);
                card.node.remove();
                card = null;
            }
            if (!card) {
                card = this.make(record);
                card.ident = record.strIdent;
                card.node.dataset.ident = record.strIdent;
                this.cards.set(key, card);
                this.made = true;
            }
            const expected = previous ? previous.nextSibling : this.container.firstChild;
            if (expected !== card.node) this.container.insertBefore(card.node, expected);
            previous = card.node;
            if (!settling) card.update(record);
        }
        for (const [key, card] of this.cards) {
            if (seen.has(key)) continue;
            for (const chart of card.charts) this.board.remove(chart);
            card.node.remove();
            this.cards.delete(key);
        }
        this.empty.hidden = records.length > 0;
        setText(this.empty, emptyText);
    }

    drawCharts(history) {
        for (const [key, card] of this.cards) {
            if (history.has(key)) card.charts[0].draw(history.get(key, card.width).columns());
        }
    }
}

const perSecond = (count) => (count === null ? MISSING : `${formatCount(count)} /s`);

// Names, addresses, link speed, serial and firmware belong to the device as scanned and do not
// change for an identifier, so they are written once when the card is made.

export function memoryCard(record) {
    const node = element('article', 'card memory');
    node.append(element('h3', '', DISPLAY_NAMES[record.strName] ?? record.strName));
    const shown = figures(node, [['usage', 'Used']]);
    const bar = element('div', 'bar');
    bar.setAttribute('aria-hidden', 'true');
    const fill = element('div', 'bar-fill');
    bar.append(fill);
    node.append(bar);
    const values = details(node, [['total', 'Total'], ['free', 'Free'], ['used', 'In use']]);
    return {
        node,
        charts: [],
        update: (r) => {
            setText(shown.usage, formatPercent(r.intUsage));
            const used = r.intTotal !== null && r.intFree !== null ? Math.max(0, r.intTotal - r.intFree) : null;
            setText(values.total, formatBytes(r.intTotal));
            setText(values.free, formatBytes(r.intFree));
            setText(values.used, formatBytes(used));
            fill.style.transform = `scaleX(${(percentOf(r.intUsage) ?? 0) / 100})`;
        },
    };
}

export function processorCard(record, board) {
    const node = element('article', 'core');
    node.setAttribute('aria-label', `Core ${record.intCore ?? '?'}`);
    const head = element('div', 'core-head');
    const name = element('span', 'core-name', `Core ${record.intCore ?? '?'}`);
    const usage = element('span', 'core-value', MISSING);
    head.append(name, usage);
    node.append(head);
    const host = chartHost(node, `Usage of core ${record.intCore} over ${board.clock.range.words}`);
    const chart = board.create(host, 'percent', ['Usage']);
    return {
        node,
        width: 1,
        charts: [chart],
        update: (r) => setText(usage, formatPercent(r.intUsage)),
    };
}

export function networkCard(record, board) {
    const node = element('article', 'card device');
    const title = element('h3');
    node.append(title);
    const values = details(node, [
        ['address', 'IPv4 address'], ['mask', 'Subnet mask'], ['gateway', 'Gateway'], ['speed', 'Link speed'],
    ]);
    const shown = figures(node, [
        ['received', 'Received', 1], ['sent', 'Sent', 2], ['usage', 'Link use'],
    ]);
    const packets = details(node, [['packetsIn', 'Packets received'], ['packetsOut', 'Packets sent']]);
    const host = chartHost(node, `Bytes received and sent per second by ${record.strName || 'this adapter'} over ${board.clock.range.words}`);
    const chart = board.create(host, 'rates', ['Received', 'Sent']);
    setText(title, record.strName || 'Unnamed adapter');
    setText(values.address, record.strAddress || 'none');
    setText(values.mask, record.strSubnetmask || 'none');
    setText(values.gateway, record.strGateway || 'none');
    setText(values.speed, record.intSpeed === 0 ? 'not reported' : formatBitRate(record.intSpeed));
    return {
        node,
        width: 2,
        charts: [chart],
        update: (r) => {
            setText(shown.received, formatByteRate(r.intBytesRead));
            setText(shown.sent, formatByteRate(r.intBytesWrite));
            // Without a link speed the monitor reports the link as full; say "unknown" instead.
            setText(shown.usage, r.intSpeed === 0 ? 'unknown' : formatPercent(r.intUsage));
            setText(packets.packetsIn, perSecond(r.intPacketsRead));
            setText(packets.packetsOut, perSecond(r.intPacketsWrite));
        },
    };
}

export function storageCard(record, board) {
    const node = element('article', 'card device');
    const title = element('h3');
    node.append(title);
    const values = details(node, [['serial', 'Serial number'], ['firmware', 'Firmware'], ['system', 'System name']]);
    const shown = figures(node, [['read', 'Read', 1], ['written', 'Written', 2], ['usage', 'Busy']]);
    const counts = details(node, [['reads', 'Reads'], ['writes', 'Writes']]);
    const health = element('p', 'disk-health', 'Health: not asked yet');
    node.append(health);
    const host = chartHost(node, `Bytes read and written per second by ${record.strModel || 'this disk'} over ${board.clock.range.words}`);
    const chart = board.create(host, 'rates', ['Read', 'Written']);
    const volumes = element('ul', 'volumes');
    volumes.setAttribute('aria-label', 'Volumes on this disk');
    node.append(volumes);
    setText(title, record.strModel || 'Unnamed disk');
    setText(values.serial, record.strSerial || 'not reported');
    setText(values.firmware, record.strFirmware || 'not reported');
    return {
        node,
        width: 2,
        charts: [chart],
        update: (r) => {
            setText(shown.read, formatByteRate(r.intBytesRead));
            setText(shown.written, formatByteRate(r.intBytesWrite));
            setText(shown.usage, formatPercent(r.intUsage));
            setText(counts.reads, perSecond(r.intPacketsRead));
            setText(counts.writes, perSecond(r.intPacketsWrite));
        },
        showHealth: ({ level, words, title }) => {
            setText(health, words);
            health.dataset.level = level;
            health.title = title;
        },
        showVolumes: (list, systemName) => {
            // The system's own name (/volumes.json) stands in for a model the disk does not report.
            setText(title, record.strModel || systemName || 'Unnamed disk');
            setText(values.system, systemName || MISSING);
            while (volumes.children.length > list.length) volumes.lastChild.remove();
            list.forEach((v, i) => {
                if (!volumes.children[i]) volumes.append(volumeItem());
                fillVolume(volumes.children[i], v);
            });
        },
    };
}

function volumeItem() {
    const item = element('li', 'volume');
    const head = element('div', 'volume-head');
    head.append(element('span', 'volume-name'), element('span', 'volume-used'));
    const bar = element('div', 'bar');
    bar.setAttribute('aria-hidden', 'true');
    bar.append(element('div', 'bar-fill'));
    // "Used" is everything an ordinary user can no longer write, so on Linux it takes in the
    // blocks reserved for root, which df leaves out: said beside the bar, not left to a guess.
    const counts = element('span', 'volume-counts', 'used includes reserved space');
    counts.title = '“Used” counts all the space an ordinary user can no longer write, including '
        + 'what the system keeps for its administrator (on Linux the blocks reserved for root), '
        + 'so it can read higher than df.';
    item.append(head, bar, element('span', 'volume-free'), counts, element('span', 'volume-level'));
    return item;
}

function fillVolume(item, v) {
    const [head, bar, free, , level] = item.children;
    setText(head.children[0], v.volume);
    const usedText = v.used === null ? 'size not known' : `${v.used.toFixed(1)} % used`;
    setText(head.children[1], v.answering === false ? 'not answering' : usedText);
    setText(free, v.size === null ? '' : `${formatBytes(v.free)} free of ${formatBytes(v.size)}`);
    setText(level, v.words);
    item.dataset.level = v.level;
    bar.firstChild.style.transform = `scaleX(${(v.used ?? 0) / 100})`;
}
