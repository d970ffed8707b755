// The page: the overview of the chosen span, then memory, processors, adapters and disks as
// cards keyed by their device keys, which outlive a rescan. History is recorded here, once per status, before anything is drawn.

import { CardList, element, memoryCard, networkCard, processorCard, setText, storageCard } from './cards.js?v=1';
import { mark, worst } from './alerts.js?v=1';
import { formatByteRate, formatPercent, MISSING, percentOf } from './units.js?v=1';
import { describeHealth } from './disk-health.js?v=1';
import { fullest } from './volumes.js?v=1';

const $ = (id) => document.getElementById(id);

const sum = (records, field) => {
    let total = 0;
    for (const record of records) {
        if (record[field] === null) return null;
        total += record[field];
    }
    return total;
};

// Seconds after a rebuild during which the monitor's counters are still taking their first
// two samples.
const SETTLE_SECONDS = 2.5;

export class Dashboard {
    constructor(board, history) {
        this.board = board;
        this.history = history;
        this.overview = this.makeOverview();
        this.memory = new CardList($('memory-list'), $('memory-empty'), (r) => memoryCard(r), board);
        this.processors = $('processor-groups');
        this.processorEmpty = $('processor-empty');
        this.processorGroups = new Map();
        this.network = new CardList($('network-list'), $('network-empty'), (r) => networkCard(r, board), board);
        this.storage = new CardList($('storage-list'), $('storage-empty'), (r) => storageCard(r, board), board);
        this.unshown = null;
        this.volumes = [];
        this.diskNames = new Map();
        this.health = [];
        // The monitor's marks by card key (marksOf).
        this.marks = new Map();
        // Charts are drawn every drawEvery seconds of their span, and at once when mustDraw.
        this.drawnAt = -Infinity;
        this.mustDraw = true;
        document.addEventListener('visibilitychange', () => {
            if (document.hidden || !this.unshown) return;
            this.mustDraw = true;
            this.render(this.unshown.status, this.unshown.settling);
            this.unshown = null;
        });
    }

    makeOverview() {
        const cpuHost = $('overview-cpu-chart');
        return {
            cpu: null,
            cpuHost,
            cpuCores: '',
            memory: this.board.create($('overview-memory-chart'), 'overview-percent', ['Physical memory', 'Page file']),
            network: this.board.create($('overview-network-chart'), 'overview-rates', ['Received', 'Sent']),
            storage: this.board.create($('overview-storage-chart'), 'overview-rates', ['Read', 'Written']),
            cards: {
                cpu: $('overview-cpu-chart').parentNode,
                memory: $('overview-memory-chart').parentNode,
                network: $('overview-network-chart').parentNode,
                storage: $('overview-storage-chart').parentNode,
            },
            text: {
                volume: $('overview-volume-value'),
                volumeName: $('overview-volume-name'),
                cpu: $('overview-cpu-value'),
                cpuCount: $('overview-cpu-count'),
                physical: $('overview-physical-value'),
                pagefile: $('overview-pagefile-value'),
                received: $('overview-received-value'),
                sent: $('overview-sent-value'),
                read: $('overview-read-value'),
                written: $('overview-written-value'),
            },
        };
    }

    /** Processors are grouped under their name and family, which all cores usually share. */
    updateProcessors(records, emptyText, settling) {
        const groups = new Map();
        for (const record of records) {
            const key = `${record.strName}\n${record.strFamily}`;
            if (!groups.has(key)) groups.set(key, []);
            groups.get(key).push(record);
        }
        for (const [key, group] of this.processorGroups) {
            if (groups.has(key)) continue;
            group.list.update([], '');
            group.node.remove();
            this.processorGroups.delete(key);
        }
        let previous = null;
        for (const [key, members] of groups) {
            let group = this.processorGroups.get(key);
            if (!group) {
                const node = element('div', 'processor-group');
                const title = element('h3', '', members[0].strName || 'Unnamed processor');
                const family = element('p', 'family', members[0].strFamily || '');
                const list = element('div', 'cores');
                node.append(title, family, list);
                group = { node, list: new CardList(list, element('p'), (r) => processorCard(r, this.board), this.board) };
                this.processorGroups.set(key, group);
            }
            const expected = previous ? previous.nextSibling : this.processors.firstChild;
            if (expected !== group.node) this.processors.insertBefore(group.node, expected);
            previous = group.node;
            group.list.update(members, '', settling);
        }
        this.processorEmpty.hidden = records.length > 0;
        setText(this.processorEmpty, emptyText);
    }

    /** Puts a sample into the history: device series by device key, totals by their device set. */
    record(status, time, held) {
        const keep = new Set();
        const push = (key, row) => {
            keep.add(key);
            this.history.get(key, row.length).push(time, row);
        };
        const fresh = (kind) => !held.includes(kind);
        const cores = status.Processor;
        for (const p of cores) {
            keep.add(p.key);
            if (fresh('Processor')) push(p.key, [percentOf(p.intUsage)]);
        }
        for (const n of status.Network) {
            keep.add(n.key);
            if (fresh('Network')) push(n.key, [n.intBytesRead, n.intBytesWrite]);
        }
        for (const s of status.Storage) {
            keep.add(s.key);
            if (fresh('Storage')) push(s.key, [s.intBytesRead, s.intBytesWrite]);
        }
        // Totals change key with the device set: a device that comes or goes starts them anew.
        const setKey = (kind) => `${kind}:${status[kind].map((r) => r.key).join(',')}`;
        const average = cores.length ? sum(cores, 'intUsage') / cores.length : null;
        keep.add(setKey('Processor'));
        if (fresh('Processor')) {
            push(setKey('Processor'), [percentOf(average), ...cores.map((p) => percentOf(p.intUsage))]);
        }
        const byName = (name) => status.Memory.find((m) => m.strName === name);
        keep.add(setKey('Memory'));
        if (fresh('Memory')) {
            push(setKey('Memory'), [percentOf(byName('Physical')?.intUsage), percentOf(byName('Pagefile')?.intUsage)]);
        }
        keep.add(setKey('Network'));
        if (fresh('Network')) push(setKey('Network'), [sum(status.Network, 'intBytesRead'), sum(status.Network, 'intBytesWrite')]);
        keep.add(setKey('Storage'));
        if (fresh('Storage')) push(setKey('Storage'), [sum(status.Storage, 'intBytesRead'), sum(status.Storage, 'intBytesWrite')]);
        this.history.retain(keep);
        const keys = { cpu: setKey('Processor'), memory: setKey('Memory'), network: setKey('Network'), storage: setKey('Storage') };
        if (JSON.stringify(keys) !== JSON.stringify(this.keys)) this.mustDraw = true;
        this.keys = keys;
    }

    useHistory(history) {
        this.history = history;
        this.redraw();
    }

    redraw() {
        this.mustDraw = true;
        if (this.keys && !document.hidden) this.drawCharts();
    }

    /**
     * Shows one status: texts, cards, then every chart once. After a rebuild the monitor reads
     * 0 for usage and rates until its counters have two samples, so for SETTLE_SECONDS those
     * figures are left out rather than drawn as a drop to zero.
     */
    show(status, { time, held = [], rebuilt = false }) {
        if (rebuilt) this.settleUntil = time + SETTLE_SECONDS;
        const settling = time < (this.settleUntil ?? 0);
        this.record(status, time, settling ? [...held, 'Processor', 'Network', 'Storage'] : held);
        this.time = time;
        // A page in a background tab keeps its history but spends nothing on drawing.
        this.unshown = document.hidden ? { status, settling } : null;
        if (!this.unshown) this.render(status, settling);
    }

    markOf(key) {
        return this.marks.get(key) ?? { level: 'ok', words: '' };
    }

    /** The monitor's judgement: marks on the cards, the volumes and the overview. */
    showMarks(marks) {
        this.marks = marks;
        this.showVolumes(this.volumes);
        if (this.status) this.markOverview(this.status);
    }

    /**
     * The volumes of every disk: listed on their disk's card, the fullest in the overview; and
     * each disk's system name, for a disk that reports no model.
     */
    showVolumes(volumes, names = this.diskNames) {
        this.volumes = volumes.map((v) => ({ ...v, ...this.markOf(`volume:${v.volume}`) }));
        this.diskNames = names;
        for (const card of this.storage.cards.values()) this.showDiskVolumes(card);
        this.showFullest();
    }

    showDiskVolumes(card) {
        card.showVolumes(this.volumes.filter((v) => v.storage === card.ident), this.diskNames.get(card.ident));
    }

    showHealth(disks) {
        this.health = disks;
        for (const card of this.storage.cards.values()) this.showCardHealth(card);
    }

    showCardHealth(card) {
        card.showHealth(describeHealth(this.health.find((d) => d.storage === card.ident)));
    }

    showFullest() {
        const o = this.overview;
        const top = fullest(this.volumes);
        setText(o.text.volume, top ? `${top.used.toFixed(1)} % used` : MISSING);
        setText(o.text.volumeName, top ? top.volume : 'no volumes reported');
        mark(o.cards.storage, worst(this.volumes));
    }

    markOverview(status) {
        this.status = status;
        const o = this.overview;
        mark(o.cards.cpu, this.markOf('Processor'));
        mark(o.cards.memory, this.markOf('mem:Physical'));
        const links = worst([...this.network.cards.keys()].map((key) => this.markOf(key)));
        mark(o.cards.network, links);
        for (const list of [this.memory, this.network, ...[...this.processorGroups.values()].map((g) => g.list)]) {
            for (const [key, card] of list.cards) mark(card.node, this.markOf(key));
        }
    }

    render(status, settling) {
        this.showOverview(status, settling);
        this.memory.update(status.Memory, 'The monitor reported no memory figures.');
        this.updateProcessors(status.Processor, 'The monitor reported no processors.', settling);
        this.network.update(status.Network, 'The monitor reported no network adapters.', settling);
        const disks = new Set(this.storage.cards.values());
        this.storage.update(status.Storage, 'The monitor reported no physical disks it could open.', settling);
        // A disk card made since the last read of the volumes gets them at once.
        for (const card of this.storage.cards.values()) {
            if (disks.has(card)) continue;
            this.showDiskVolumes(card);
            this.showCardHealth(card);
        }
        this.markOverview(status);
        // A card made (or remade by a rescan) draws its chart at once.
        const lists = [this.network, this.storage, ...[...this.processorGroups.values()].map((g) => g.list)];
        if (lists.some((list) => list.made)) this.mustDraw = true;
        if (this.mustDraw || this.time - this.drawnAt >= this.history.range.drawEvery) this.drawCharts();
    }

    showOverview(status, settling) {
        const o = this.overview;
        const t = o.text;
        const cores = status.Processor;
        const coreKey = cores.map((p) => p.key).join(',');
        if (coreKey !== o.cpuCores) {
            if (o.cpu) this.board.remove(o.cpu);
            o.cpu = this.board.create(o.cpuHost, 'overview-cpu', ['All cores', ...cores.map((p) => `Core ${p.intCore}`)]);
            o.cpuCores = coreKey;
        }
        setText(t.cpuCount, cores.length === 1 ? '1 logical processor' : `${cores.length} logical processors`);
        const byName = (name) => status.Memory.find((m) => m.strName === name);
        setText(t.physical, formatPercent(byName('Physical')?.intUsage ?? null));
        setText(t.pagefile, formatPercent(byName('Pagefile')?.intUsage ?? null));
        if (settling) {
            for (const node of [t.cpu, t.received, t.sent, t.read, t.written]) setText(node, MISSING);
            return;
        }
        const average = cores.length ? sum(cores, 'intUsage') / cores.length : null;
        setText(t.cpu, cores.length ? formatPercent(average === null ? null : Math.floor(average)) : MISSING);
        const none = (records, field) => (records.length ? sum(records, field) : null);
        setText(t.received, formatByteRate(none(status.Network, 'intBytesRead')));
        setText(t.sent, formatByteRate(none(status.Network, 'intBytesWrite')));
        setText(t.read, formatByteRate(none(status.Storage, 'intBytesRead')));
        setText(t.written, formatByteRate(none(status.Storage, 'intBytesWrite')));
    }

    drawCharts() {
        this.mustDraw = false;
        this.drawnAt = this.time ?? -Infinity;
        if (this.time !== undefined) this.board.setEnd(this.time);
        const o = this.overview;
        const draw = (chart, key, width) => {
            if (chart && this.history.has(key)) chart.draw(this.history.get(key, width).columns());
        };
        draw(o.cpu, this.keys.cpu, o.cpu ? o.cpu.labels.length : 1);
        draw(o.memory, this.keys.memory, 2);
        draw(o.network, this.keys.network, 2);
        draw(o.storage, this.keys.storage, 2);
        for (const group of this.processorGroups.values()) group.list.drawCharts(this.history);
        this.network.drawCharts(this.history);
        this.storage.drawCharts(this.history);
    }
}
