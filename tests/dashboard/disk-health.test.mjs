import assert from 'node:assert/strict';
import { test } from 'node:test';

import { describeHealth } from '../../content/src/disk-health.js';

test('a disk card says what the drive reports of its health, and marks wear and failure', () => {
    const table = [
        [undefined, 'none', 'Health: not reported'],
        [{ reported: false, why: 'ATA pass-through was refused' }, 'none', 'Health: not reported'],
        [{ reported: true, kind: 'nvme', failing: false, temperature: 37, percentageUsed: 3, mediaErrors: 0, powerOnHours: 12345 },
            'ok', 'Health: good · 37 °C · 3 % of its life used · 0 media errors · 12345 hours on'],
        [{ reported: true, kind: 'nvme', failing: false, temperature: null, percentageUsed: 3, mediaErrors: 2 },
            'warn', 'Health: good · 3 % of its life used · 2 media errors'],
        [{ reported: true, kind: 'nvme', failing: true, criticalWarning: 4 }, 'alert', 'Health: the drive says it is failing'],
        [{ reported: true, kind: 'ata', failing: false, reallocated: 0, pending: 0 }, 'ok', 'Health: good · 0 reallocated · 0 pending'],
        [{ reported: true, kind: 'ata', failing: false, reallocated: 0, pending: 8, offlineUncorrectable: 1 }, 'warn',
            'Health: good · 0 reallocated · 8 pending · 1 offline uncorrectable'],
    ];
    for (const [entry, level, words] of table) {
        const shown = describeHealth(entry);
        assert.deepEqual([shown.level, shown.words], [level, words]);
    }
    assert.equal(describeHealth({ reported: false, why: 'refused' }).title, 'refused');
});
