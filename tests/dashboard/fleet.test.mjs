import assert from 'node:assert/strict';
import { test } from 'node:test';

import { fleetMap, summaryCells } from '../../content/src/fleet.js';

test('a machine that refuses says why in its status, never a blank', () => {
    const fleet = fleetMap({
        machines: [
            { address: '198.18.0.2', port: 8080, summary: null, problem: 'needs a password' },
            { address: '198.18.0.3', port: 8080, summary: null, problem: 'certificate not trusted' },
            { address: '198.18.0.4', port: 8080, summary: null },
            { address: '198.18.0.5', port: 8080, summary: { processor: 5, memory: 10, volume: null } },
        ],
    });
    assert.deepEqual([...fleet.keys()].map((address) => summaryCells(fleet.get(address)).words),
        ['needs a password', 'certificate not trusted', 'no answer', 'OK']);
    assert.equal(summaryCells(fleet.get('198.18.0.2')).processor, summaryCells(null).processor);
});
