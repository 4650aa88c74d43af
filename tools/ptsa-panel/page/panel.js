// The panel's page: shows what the panel's event stream delivers and
// sends changes to its API. A change shows only when the service's answer
// comes back through the stream; until then its status says it was sent.
'use strict';

const $ = (id) => document.getElementById(id);

// The function codes with a name; every other code shows as its number.
const NAMES = { 8: 'Keystrokes', 23: 'Run application', 88: 'Run-application list' };
const KEYSTROKES = 8;
const RUN_APPLICATION = 23;
const label = (code) => (code in NAMES ? `${NAMES[code]} (${code})` : String(code));

// Each button, its title, and the option list offered when a function is picked.
const BUTTONS = [
  ['eraser-single', 'Eraser end, single press', 'top-button-single'],
  ['eraser-double', 'Eraser end, double press', 'top-button-double'],
  ['eraser-long', 'Eraser end, long press', 'top-button-long'],
  ['top-switch', 'Upper side switch', 'side-switch'],
  ['bottom-switch', 'Lower side switch', 'side-switch'],
];
const WEDGES = ['East', 'Southeast', 'South', 'Southwest', 'West', 'Northwest', 'North', 'Northeast', 'Center', 'Outside'];
const LISTS = [
  ['run-application', 'Run application'], ['top-button-single', 'Top button, single press'],
  ['top-button-double', 'Top button, double press'], ['top-button-long', 'Top button, long press'],
  ['side-switch', 'Side switches'], ['radial-wedge', 'Radial-menu wedges'],
];
const options = {}; // list -> its entries, as last reported
const pickers = []; // [select, list] to refill when a list arrives
const waiting = {}; // value key -> the status line of a change sent for it

function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  node.append(...children);
  return node;
}

// Shows a value and marks it for a moment when it differs from before: a
// colour that fades, restarted by each change (one animation per value, so
// that a flood of changes neither forces layout nor piles up animations).
const marks = new WeakMap();
function show(node, text) {
  text = String(text);
  if (node.textContent === text) return;
  node.textContent = text;
  const property = node instanceof SVGElement ? 'fill' : 'backgroundColor';
  const colour = node instanceof SVGElement ? '#b54708' : '#fff3b0';
  marks.get(node)?.cancel();
  marks.set(node, node.animate([{ [property]: colour, offset: 0 }], { duration: 2000, easing: 'ease-out' }));
}

function setStatus(status, text, kind) {
  status.textContent = text;
  status.className = `status ${kind}`;
}

// Sends one change; the status line waits for the value key to come back.
async function send(setting, body, status, key) {
  setStatus(status, 'sent; waiting for the service', 'pending');
  if (key) waiting[key] = status;
  try {
    const answer = await fetch(`/api/${setting}?token=${encodeURIComponent(token)}`, {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
    });
    if (!answer.ok) {
      delete waiting[key];
      setStatus(status, (await answer.text()).trim(), 'error');
    } else if (!key) {
      setStatus(status, 'sent (not reported back)', 'ok');
    } else if (waiting[key] === status) {
      setStatus(status, 'queued; waiting for the service (an unchanged value is not reported)', 'pending');
    }
  } catch (error) {
    setStatus(status, `not sent: ${error.message}`, 'error');
  }
}

function confirmed(key) {
  const status = waiting[key];
  if (!status) return;
  delete waiting[key];
  setStatus(status, 'confirmed by the service', 'ok');
}

const number = (input) => (input.value.trim() === '' ? null : Number(input.value));

// A function picker: the codes of a list, then each application of the
// run-application list (function 23 with that entry's text), and a text.
function picker(list, onSet) {
  const select = el('select');
  const text = el('input', { type: 'text', placeholder: 'keystrokes or application path', maxlength: '511' });
  const button = el('button', {}, 'Set');
  const status = el('span', { class: 'status' });
  pickers.push([select, list]);
  fill(select, list);
  button.addEventListener('click', () => {
    const choice = select.value;
    if (choice.startsWith('app:')) return onSet({ function: RUN_APPLICATION, text: choice.slice(4) }, status);
    const code = choice === '' ? null : Number(choice);
    const body = { function: code };
    if (code === KEYSTROKES || code === RUN_APPLICATION) body.text = text.value;
    return onSet(body, status);
  });
  return [select, text, button, status];
}

function fill(select, list) {
  const kept = select.value;
  select.replaceChildren(el('option', { value: '' }, 'function…'));
  for (const entry of options[list] || []) select.append(el('option', { value: String(entry.function) }, label(entry.function)));
  const apps = el('optgroup', { label: 'Run application' });
  for (const entry of options['run-application'] || []) apps.append(el('option', { value: `app:${entry.text}` }, entry.text));
  if (apps.children.length) select.append(apps);
  select.value = kept;
}

function buildButtons() {
  for (const [name, title, list] of BUTTONS) {
    const hover = el('td', { id: `${name}-hover` }, name.endsWith('switch') ? '–' : '');
    const change = el('td', {}, ...picker(list, (body, status) => send(name, body, status, name)));
    if (name.endsWith('switch')) {
      const toggle = el('button', { id: `${name}-hover-toggle` }, 'Switch hover click');
      const status = el('span', { class: 'status' });
      toggle.addEventListener('click', () => {
        send(`${name.replace('switch', 'hover-click')}`, { value: hover.textContent === 'on' ? 0 : 1 }, status, name);
      });
      change.append(el('br'), toggle, status);
    }
    $('buttons').append(el('tr', {}, el('th', {}, title), el('td', { id: `${name}-function` }, '–'),
      el('td', { id: `${name}-text` }, ''), hover, change));
  }
}

function buildNumbers() {
  for (const [name, title] of [['tip', 'Tip pressure curve'], ['tilt', 'Tilt sensitivity']]) {
    const input = el('input', { id: `${name}-input`, type: 'number', min: '0', max: '4294967295', step: '1' });
    const button = el('button', { id: `${name}-set` }, 'Set');
    const status = el('span', { class: 'status', id: `${name}-status` });
    button.addEventListener('click', () => send(name, { value: number(input) }, status, name));
    $('numbers').append(el('p', {}, `${title} `, el('b', { id: `${name}-value` }, '–'), ' ', input, button, ' ', status));
  }
}

// The radial menu: eight wedges around, the centre, and the ring outside.
function buildRadial() {
  const svg = $('radial');
  const ns = 'http://www.w3.org/2000/svg';
  const point = (radius, degrees) => {
    const a = (degrees * Math.PI) / 180;
    return `${(radius * Math.cos(a)).toFixed(1)} ${(radius * Math.sin(a)).toFixed(1)}`;
  };
  const shapes = WEDGES.map((_, i) => {
    if (i === 8) return ['M -55 0 A 55 55 0 1 0 55 0 A 55 55 0 1 0 -55 0 Z', 0, 0];
    if (i === 9) return ['M -198 0 A 198 198 0 1 0 198 0 A 198 198 0 1 0 -198 0 Z M -160 0 A 160 160 0 1 1 160 0 A 160 160 0 1 1 -160 0 Z', 0, -178];
    const from = i * 45 - 22.5; // East at 0 degrees, then clockwise (y grows downwards)
    const to = from + 45;
    const [x, y] = point(108, i * 45).split(' ');
    return [`M ${point(60, from)} L ${point(155, from)} A 155 155 0 0 1 ${point(155, to)} L ${point(60, to)} A 60 60 0 0 0 ${point(60, from)} Z`, x, y];
  });
  shapes.forEach(([path, x, y], i) => {
    const group = document.createElementNS(ns, 'g');
    group.setAttribute('id', `wedge-${i}`);
    group.setAttribute('class', 'wedge');
    const shape = document.createElementNS(ns, 'path');
    shape.setAttribute('d', path);
    shape.setAttribute('fill-rule', 'evenodd');
    const title = document.createElementNS(ns, 'title');
    const lines = [WEDGES[i], '–', ''].map((line, n) => {
      const span = document.createElementNS(ns, 'tspan');
      span.setAttribute('x', x);
      span.setAttribute('dy', n === 0 ? '-0.9em' : '1.2em');
      span.setAttribute('class', ['name', 'function', 'text'][n]);
      span.textContent = line;
      return span;
    });
    const text = document.createElementNS(ns, 'text');
    text.setAttribute('x', x);
    text.setAttribute('y', y);
    text.append(...lines);
    group.append(shape, title, text);
    group.addEventListener('click', () => { $('wedge-index').value = String(i); });
    svg.append(group);
  });
  const index = el('select', { id: 'wedge-index' }, ...WEDGES.map((name, i) => el('option', { value: String(i) }, name)));
  const [select, text, button, status] = picker('radial-wedge', (body, line) => {
    body.index = Number(index.value);
    send('wedge', body, line, `wedge:${index.value}`);
  });
  select.id = 'wedge-function';
  text.id = 'wedge-text';
  button.id = 'wedge-set';
  $('wedge-change').append('Wedge ', index, ' ', select, ' ', text, ' ', button, ' ', status);
}

function buildRest() {
  for (const field of ['a', 'b', 'c', 'd']) {
    $('zoom-inputs').append(`${field} `, el('input', { id: `zoom-${field}-input`, type: 'number', step: '1' }), ' ');
  }
  $('zoom-set').addEventListener('click', () => {
    const body = Object.fromEntries(['a', 'b', 'c', 'd'].map((f) => [f, number($(`zoom-${f}-input`))]));
    send('zoom', body, $('zoom-status'), 'zoom');
  });
  $('zoom-reset').addEventListener('click', () => send('zoom-reset', {}, $('zoom-status'), 'zoom'));
  $('centre-right-click-set').addEventListener('click', () =>
    send('centre-right-click', { value: number($('centre-right-click')) }, $('centre-right-click-status')));
  $('capture-start').addEventListener('click', () => send('capture-start', {}, $('capture-status'), 'capture'));
  $('capture-finish').addEventListener('click', () => send('capture-finish', {}, $('capture-status'), 'capture'));
  for (const [list, title] of LISTS) $('options').append(el('dt', {}, title), el('dd', { id: `options-${list}` }, '–'));
}

// What the stream delivers, by kind of event.
const on = {
  connection({ connected }) {
    show($('connection'), connected ? 'connected' : 'the settings service is not available');
    $('connection').className = `badge ${connected ? 'ok' : 'error'}`;
  },
  versions({ hidRouter, service }) {
    show($('version-service'), service);
    show($('version-hidRouter'), hidRouter);
  },
  registration({ wedgeCount, rangeA, rangeB }) {
    show($('range-a'), `${rangeA[0]} to ${rangeA[1]}`);
    show($('range-b'), `${rangeB[0]} to ${rangeB[1]}`);
    show($('wedge-count'), wedgeCount);
  },
  // The current pen first, and the 32 before it, as the panel keeps them.
  pen({ serial, penId, btId, battery }) {
    let row = [...$('pens').rows].find((r) => r.dataset.serial === serial);
    if (!row) {
      $('pens').querySelector('.none')?.remove();
      row = el('tr', {}, el('td'), el('td'), el('td'),
        el('td', {}, el('meter', { min: '0', max: '100', low: '20', high: '50', optimum: '100' }), ' ', el('span')));
      row.dataset.serial = serial;
    }
    if ($('pens').firstElementChild !== row) $('pens').prepend(row);
    while ($('pens').rows.length > 33) $('pens').lastElementChild.remove();
    [serial, penId, btId].forEach((text, i) => show(row.cells[i], text));
    row.querySelector('meter').value = battery;
    show(row.querySelector('span'), battery);
  },
  button({ button, function: code, text, hoverClick }) {
    show($(`${button}-function`), label(code));
    show($(`${button}-text`), text);
    if (hoverClick !== undefined) show($(`${button}-hover`), hoverClick ? 'on' : 'off');
    confirmed(button);
  },
  wedge({ index, function: code, text }) {
    const group = $(`wedge-${index}`);
    show(group.querySelector('.function'), label(code));
    // Paths are long: the wedge shows the last component, the tooltip all.
    show(group.querySelector('.text'), text.split('\\').pop());
    group.dataset.text = text;
    group.querySelector('title').textContent = `${WEDGES[index]}: ${label(code)}${text ? `, ${text}` : ''}`;
    confirmed(`wedge:${index}`);
  },
  number({ name, value }) {
    show($(`${name}-value`), value);
    confirmed(name);
  },
  zoom(map) {
    for (const field of ['a', 'b', 'c', 'd']) show($(`zoom-${field}`), map[field]);
    confirmed('zoom');
  },
  options({ list, entries }) {
    options[list] = entries;
    const shown = entries.map((e) => (list === 'run-application' ? e.text : label(e.function)));
    show($(`options-${list}`), shown.length ? shown.join(' · ') : '(empty)');
    for (const [select, wanted] of pickers) fill(select, wanted);
  },
  capture({ recording, keys }) {
    if (recording) {
      delete waiting.capture; // the start is confirmed; the finish is awaited
      return setStatus($('capture-status'), 'recording keystrokes', 'pending');
    }
    show($('captured'), keys === '' ? '(nothing)' : keys);
    confirmed('capture');
    setStatus($('capture-status'), 'finished', 'ok');
  },
};

function unreachable() {
  show($('connection'), 'the panel is not reachable');
  $('connection').className = 'badge error';
}

// The events: one stream per browser, held by a shared worker of this
// origin for all its tabs (where a browser has none, the tab's own).
function listen() {
  const query = `?token=${encodeURIComponent(token)}`;
  const handle = ({ kind, value }) => (kind === 'unreachable' ? unreachable() : on[kind]?.(value));
  if (window.SharedWorker) {
    const worker = new SharedWorker(`/worker.js${query}`, { name: 'ptsa-panel' });
    worker.port.addEventListener('message', ({ data }) => handle(data));
    worker.port.start();
    addEventListener('pagehide', () => worker.port.postMessage('bye'));
    // A tab restored from the back-forward cache said goodbye: it starts again.
    addEventListener('pageshow', (event) => event.persisted && location.reload());
    return;
  }
  const stream = new EventSource(`/events${query}`);
  for (const kind of Object.keys(on)) stream.addEventListener(kind, (event) => handle({ kind, value: JSON.parse(event.data) }));
  stream.addEventListener('error', () => handle({ kind: 'unreachable' }));
}

// The token: from the printed URL once, then out of the address bar (and
// the history) and kept in this tab's session storage; a new tab of this
// origin asks the others for it over a broadcast channel. (A cookie would
// reach every port of 127.0.0.1, so every other local server too.)
let token = null;
const channel = new BroadcastChannel('ptsa-panel');
function start(found) {
  if (token) return;
  token = found;
  sessionStorage.setItem('ptsa-panel-token', token);
  listen();
}
channel.addEventListener('message', ({ data }) => {
  if (data === 'token?' && token) channel.postMessage({ token });
  else if (typeof data?.token === 'string') start(data.token);
});

buildNumbers();
buildButtons();
buildRadial();
buildRest();
const given = new URLSearchParams(location.search).get('token');
if (given) history.replaceState(null, '', '/');
const kept = given || sessionStorage.getItem('ptsa-panel-token');
if (kept) {
  start(kept);
} else {
  show($('connection'), 'waiting for the token: open the URL the panel printed');
  channel.postMessage('token?');
}
