// The panel's shared worker: the one event stream of a browser, shared by
// all its tabs of the panel (a browser holds only six connections to one
// host, and each stream holds one). It keeps the latest event of each
// value, so that a tab that connects later starts from the whole state,
// and hands every event to every tab.
'use strict';

const token = new URL(location.href).searchParams.get('token');
const KINDS = ['connection', 'versions', 'registration', 'pen', 'button', 'wedge', 'number', 'zoom', 'options', 'capture'];
const RECENT_PENS = 33; // the current pen and the 32 serials before it, as the panel keeps
const ports = new Set();
const latest = new Map(); // kind and value name -> the event's message
let stream = null;

// The name of a value within its kind (a button, a wedge, a list, a pen).
const keyOf = (kind, value) => `${kind}:${value.name ?? value.button ?? value.index ?? value.list ?? value.serial ?? ''}`;

function keep(key, message) {
  latest.delete(key); // the newest last, so that the oldest pen goes first
  latest.set(key, message);
  const pens = [...latest.keys()].filter((k) => k.startsWith('pen:'));
  if (pens.length > RECENT_PENS) latest.delete(pens[0]);
}

function send(message) {
  for (const port of ports) port.postMessage(message);
}

function open() {
  stream = new EventSource(`/events?token=${encodeURIComponent(token)}`);
  for (const kind of KINDS) {
    stream.addEventListener(kind, (event) => {
      const message = { kind, value: JSON.parse(event.data) };
      keep(keyOf(kind, message.value), message);
      send(message);
    });
  }
  stream.addEventListener('error', () => send({ kind: 'unreachable' }));
}

onconnect = (event) => {
  const port = event.ports[0];
  ports.add(port);
  port.addEventListener('message', ({ data }) => {
    if (data === 'bye') ports.delete(port); // the tab is going
  });
  port.start();
  for (const message of latest.values()) port.postMessage(message);
  if (!stream) open();
};
