// The preview page: controls built from the plug-in's table, the view the
// server renders with the real plug-in, keys, the command line and the
// conversion. The server checks and interprets every value; this page only
// holds what the user set.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const $ = (id) => document.getElementById(id);

let session = null;   // /api/session: input, frame count, plug-ins, initial state
let controls = null;  // /api/controls of the current plug-in
let shown = null;     // the last /api/state answer: values at this frame, command, notes
let defaultOutput = '';  // the output name the page chose
const st = {
  plugin: '',
  frame: 0,
  tracks: [],          // text per track index, as the command line takes it
  checks: [],          // 0 or 1 per box index
  input: '',           // the input projection
  keys: new Map(),     // frame -> Map(angle track index -> value text)
  pending: new Map(),  // angle track index -> value text set at this frame, not keyed yet
};

function url(path, params) {
  const q = new URLSearchParams(params || []);
  q.set('token', token);
  return path + '?' + q.toString();
}

async function getJson(path, params) {
  const r = await fetch(url(path, params));
  const body = await r.json();
  if (!r.ok) throw new Error(body.error || r.statusText);
  return body;
}

function showError(message) { $('error').textContent = message || ''; }

// ---------------------------------------------------------------- state

const angleTracks = () => controls.tracks.filter((t) => t.angle);
const trackNamed = (name) => controls.tracks.find((t) => t.name === name);
const keyed = (t) => t.angle && st.keys.size > 0;

// The curve sent for a track: with keys, the angle at each key (and an
// unkeyed change at this frame); otherwise what the user set.
function curveText(t) {
  if (!keyed(t)) return st.tracks[t.index];
  const points = new Map();
  for (const [frame, values] of st.keys) points.set(frame, values.get(t.index));
  if (st.pending.has(t.index)) points.set(st.frame, st.pending.get(t.index));
  return [...points.entries()].sort((a, b) => a[0] - b[0]).map(([f, v]) => `${v}@${f}`).join(',');
}

// The value a track shows at this frame.
function currentValue(t) {
  if (keyed(t) && st.pending.has(t.index)) return st.pending.get(t.index);
  if (shown && shown.plugin === st.plugin && shown.frame === st.frame) return shown.values[t.index];
  return keyed(t) ? '' : st.tracks[t.index];
}

function stateParams() {
  const p = [['plugin', st.plugin], ['frame', String(st.frame)]];
  if (controls.inputs.length) p.push(['input', st.input]);
  for (const t of controls.tracks)
    p.push(t.name ? [t.name, curveText(t)] : ['track', `${t.index}=${curveText(t)}`]);
  for (const c of controls.checks) {
    if (c.input) continue;
    p.push(c.name ? [c.name, String(st.checks[c.index])] : ['check', `${c.index}=${st.checks[c.index]}`]);
  }
  return p;
}

function conversionParams() {
  return [...stateParams(), ['output', $('output').value], ['overwrite', $('overwrite').checked ? '1' : '0'],
    ['this_frame', $('this-frame').checked ? '1' : '0']];
}

function setTrack(t, text) {
  if (keyed(t)) st.pending.set(t.index, text);
  else st.tracks[t.index] = text;
  showTrack(t);
  refresh();
}

// ------------------------------------------------------ requests in flight

// At most one request of each kind in flight; changes made meanwhile are
// sent, as they then are, when it returns. Dragging thus never queues.
const flights = {};
let active = 0;
async function latest(kind, send) {
  const f = flights[kind] || (flights[kind] = { busy: false, again: false });
  if (f.busy) { f.again = true; return; }
  f.busy = true;
  document.body.dataset.idle = 'no';
  ++active;
  try {
    do {
      f.again = false;
      try { await send(); } catch (e) { showError(e.message); }
    } while (f.again);
  } finally {
    f.busy = false;
    if (--active === 0) document.body.dataset.idle = 'yes';
  }
}

function refresh() {
  latest('state', fetchState);
  latest('render', fetchView);
  $('png-link').href = url('/api/render', [...stateParams(), ['fmt', 'png']]);
}

async function fetchState() {
  const answer = await getJson('/api/state', conversionParams());
  shown = answer;
  showError('');
  for (const t of controls.tracks) showTrack(t);
  $('command').textContent = answer.command;
  const notes = $('notes');
  notes.replaceChildren(...answer.notes.map((n) => Object.assign(document.createElement('li'), { textContent: n })));
  showNumbers();
}

let viewUrl = null;
async function fetchView() {
  const params = stateParams();
  const started = performance.now();
  const r = await fetch(url('/api/render', params));
  if (r.status === 204) return;  // a newer view was asked for
  if (!r.ok) throw new Error((await r.json()).error);
  const blob = await r.blob();
  const next = URL.createObjectURL(blob);
  const view = $('view');
  await new Promise((done) => { view.onload = done; view.onerror = done; view.src = next; });
  if (viewUrl) URL.revokeObjectURL(viewUrl);
  viewUrl = next;
  view.dataset.params = new URLSearchParams(params).toString();
  const timing = /total;dur=([\d.]+)/.exec(r.headers.get('Server-Timing') || '');
  $('timing').textContent = `${r.headers.get('X-Frame-Size')}  server ${timing ? timing[1] : '?'} ms, ` +
    `shown after ${(performance.now() - started).toFixed(0)} ms`;
}

function showInputFrame() {
  $('input-view').src = url('/api/input', [['frame', String(st.frame)]]);
}

// ---------------------------------------------------------------- controls

function showTrack(t) {
  const box = $(`track-${t.index}`);
  const slider = $(`slider-${t.index}`);
  const text = currentValue(t);
  if (document.activeElement !== box) box.value = text;
  const number = Number(text);
  if (text !== '' && Number.isFinite(number) && document.activeElement !== slider) slider.value = number;
  else if (shown && shown.frame === st.frame && document.activeElement !== slider) slider.value = Number(shown.values[t.index]);
}

function showNumbers() {
  const parts = [];
  for (const name of ['azimuth', 'pitch', 'roll', 'out-fov']) {
    const t = trackNamed(name);
    if (t) parts.push(`${name} ${currentValue(t)}`);
  }
  $('view-numbers').textContent = parts.join('   ');
}

function buildControls() {
  $('plugin-title').textContent = controls.title;
  const inputs = $('input-kind');
  inputs.replaceChildren(...controls.inputs.map((k) => new Option(k, k)));
  $('input-row').hidden = controls.inputs.length === 0;
  inputs.value = st.input;
  const tracks = $('tracks');
  tracks.replaceChildren();
  for (const t of controls.tracks) {
    const row = document.createElement('div');
    row.className = 'track';
    // The table's own caption, default and range, as --help lists them.
    row.title = `${t.caption}: default ${t.def}, ${t.min} to ${t.max} ${t.unit}`.trim();
    const label = Object.assign(document.createElement('label'), {
      textContent: t.name || `track ${t.index}`, htmlFor: `track-${t.index}`,
    });
    const step = 1 / t.scale;
    const slider = Object.assign(document.createElement('input'), {
      type: 'range', id: `slider-${t.index}`, min: t.min, max: t.max, step,
    });
    const box = Object.assign(document.createElement('input'), {
      type: 'text', id: `track-${t.index}`, spellcheck: false,
    });
    if (t.name) box.dataset.name = t.name;
    const unit = Object.assign(document.createElement('span'), { className: 'unit', textContent: t.unit });
    slider.addEventListener('input', () => setTrack(t, Number(slider.value).toFixed(t.scale === 10 ? 1 : 0)));
    box.addEventListener('change', () => setTrack(t, box.value.trim()));
    row.append(label, slider, box, unit);
    tracks.append(row);
  }
  const checks = $('checks');
  checks.replaceChildren();
  for (const c of controls.checks) {
    if (c.input) continue;
    const box = Object.assign(document.createElement('input'), { type: 'checkbox', id: `check-${c.index}` });
    if (c.name) box.dataset.name = c.name;
    box.checked = st.checks[c.index] === 1;
    box.addEventListener('change', () => { st.checks[c.index] = box.checked ? 1 : 0; refresh(); });
    const label = document.createElement('label');
    label.className = 'check';
    label.title = `${c.caption}: default ${c.def ? 'on' : 'off'}`;
    label.append(box, ` ${c.name || `check ${c.index}`}`);
    checks.append(label);
  }
  for (const t of controls.tracks) showTrack(t);
}

// A plug-in's controls; `from` (an initial state) or the defaults, keeping
// the input projection and the values of the tracks that mean the same in
// both (same name, unit, range and default: the view's direction, not the
// output's field of view, which differs from a view to a dome).
async function loadPlugin(name, from) {
  const previous = controls;
  const old = previous ? { tracks: st.tracks.slice(), input: st.input } : null;
  controls = await getJson('/api/controls', [['plugin', name]]);
  st.plugin = name;
  st.pending.clear();
  if (from) {
    st.tracks = from.tracks.slice();
    st.checks = from.checks.slice();
    st.input = from.input;
    st.keys = new Map(from.keys.map((k) => [k.frame, new Map(Object.entries(k.values).map(([i, v]) => [Number(i), v]))]));
  } else {
    st.tracks = controls.tracks.map((t) => t.def);
    st.checks = controls.checks.map((c) => c.def);
    st.input = controls.inputs.includes(old && old.input) ? old.input : controls.default_input;
    st.keys = new Map();
    for (const t of controls.tracks) {
      const same = previous && previous.tracks.find((p) => p.name && p.name === t.name && p.unit === t.unit &&
        p.min === t.min && p.max === t.max && p.def === t.def);
      if (same && !same.angle) st.tracks[t.index] = old.tracks[same.index];
      if (same && same.angle && shown) st.tracks[t.index] = shown.values[same.index];
    }
  }
  shown = null;
  buildControls();
  showKeys();
}

// ------------------------------------------------------------------- keys

// "70" as "70.0": a key's value as the server writes it, where it is a plain
// number the track can hold; anything else is left for the server to judge.
function normalised(t, text) {
  const decimals = t.scale === 10 ? 1 : 0;
  const plain = decimals ? /^-?\d+(\.\d)?$/ : /^-?\d+$/;
  return plain.test(text) ? Number(text).toFixed(decimals) : text;
}

function keyThisFrame() {
  const values = new Map();
  for (const t of angleTracks()) values.set(t.index, normalised(t, currentValue(t)));
  st.keys.set(st.frame, values);
  st.pending.clear();
  showKeys();
  refresh();
}

function deleteKey(frame) {
  // Without keys the angles stay as they are shown at this frame.
  if (st.keys.size === 1 && shown) for (const t of angleTracks()) st.tracks[t.index] = currentValue(t);
  st.keys.delete(frame);
  st.pending.clear();
  showKeys();
  refresh();
}

// The angles a key list names: those that change from key to key, or with
// one key the view's own.
function listedTracks() {
  const all = [...st.keys.values()];
  const changing = angleTracks().filter((t) => all.some((v) => v.get(t.index) !== all[0].get(t.index)));
  if (changing.length) return changing;
  return angleTracks().filter((t) => ['azimuth', 'pitch', 'roll', 'out-fov'].includes(t.name));
}

function showKeys() {
  const list = $('keys');
  list.replaceChildren();
  for (const frame of [...st.keys.keys()].sort((a, b) => a - b)) {
    const li = document.createElement('li');
    li.dataset.frame = frame;
    const values = st.keys.get(frame);
    li.append(`frame ${frame}: ` + listedTracks().map((t) => `${t.name} ${values.get(t.index)}`).join(', '));
    const go = Object.assign(document.createElement('button'), { type: 'button', textContent: 'go' });
    go.addEventListener('click', () => setFrame(frame));
    const remove = Object.assign(document.createElement('button'), { type: 'button', textContent: 'delete' });
    remove.addEventListener('click', () => deleteKey(frame));
    li.append(go, remove);
    list.append(li);
  }
}

function setFrame(frame) {
  const most = session.frames > 0 ? session.frames - 1 : Infinity;
  st.frame = Math.max(0, Math.min(most, Math.floor(Number(frame)) || 0));
  st.pending.clear();
  $('frame').value = st.frame;
  $('frame-slider').value = st.frame;
  showInputFrame();
  refresh();
}

// ------------------------------------------------------- dragging, wheel

function wrapAngle(a) { return ((a + 180) % 360 + 360) % 360 - 180; }
function clampTo(t, v) { return Math.max(Number(t.min), Math.min(Number(t.max), v)); }

function setupView() {
  const box = $('view-box');
  let drag = null;
  box.addEventListener('pointerdown', (e) => {
    const azimuth = trackNamed('azimuth');
    const pitch = trackNamed('pitch');
    if (!azimuth || !pitch) return;
    box.setPointerCapture(e.pointerId);
    box.classList.add('dragging');
    const fov = trackNamed('out-fov');
    drag = {
      x: e.clientX, y: e.clientY,
      azimuth: Number(currentValue(azimuth)), pitch: Number(currentValue(pitch)),
      perPixel: (fov ? Number(currentValue(fov)) : 360) / Math.max(1, box.clientWidth),
    };
  });
  box.addEventListener('pointermove', (e) => {
    if (!drag) return;
    // The picture follows the pointer: dragging right turns the view left.
    const azimuth = trackNamed('azimuth');
    const pitch = trackNamed('pitch');
    const a = clampTo(azimuth, wrapAngle(drag.azimuth - (e.clientX - drag.x) * drag.perPixel));
    const p = clampTo(pitch, drag.pitch + (e.clientY - drag.y) * drag.perPixel);
    if (keyed(azimuth)) { st.pending.set(azimuth.index, a.toFixed(1)); st.pending.set(pitch.index, p.toFixed(1)); }
    else { st.tracks[azimuth.index] = a.toFixed(1); st.tracks[pitch.index] = p.toFixed(1); }
    showTrack(azimuth);
    showTrack(pitch);
    showNumbers();
    refresh();
  });
  const end = () => { drag = null; box.classList.remove('dragging'); };
  box.addEventListener('pointerup', end);
  box.addEventListener('pointercancel', end);
  box.addEventListener('wheel', (e) => {
    const fov = trackNamed('out-fov');
    if (!fov) return;
    e.preventDefault();
    const v = clampTo(fov, Number(currentValue(fov)) * (e.deltaY > 0 ? 1.1 : 1 / 1.1));
    setTrack(fov, v.toFixed(1));
    showNumbers();
  }, { passive: false });
}

// -------------------------------------------------------------- convert

let polling = null;
async function startConversion() {
  const r = await fetch(url('/api/convert', conversionParams()), { method: 'POST' });
  const answer = await r.json();
  if (!r.ok) { showConversion({ failed: answer.error }); return; }
  showConversion(answer);
  polling = setInterval(pollConversion, 250);
}

async function pollConversion() {
  const answer = await getJson('/api/convert');
  showConversion(answer);
  if (!answer.running) { clearInterval(polling); polling = null; }
}

function size(bytes) {
  if (bytes >= 1e6) return `${(bytes / 1e6).toFixed(1)} MB`;
  if (bytes >= 1e3) return `${(bytes / 1e3).toFixed(1)} kB`;
  return `${bytes} bytes`;
}

function showConversion(c) {
  const status = $('convert-status');
  const progress = $('progress');
  $('convert').disabled = !!c.running;
  $('cancel').disabled = !c.running;
  if (c.failed) {
    status.dataset.state = 'failed';
    status.textContent = c.failed;
    return;
  }
  progress.max = Math.max(1, c.total);
  progress.value = c.done;
  if (c.running) {
    status.dataset.state = 'running';
    status.textContent = `${c.output}: ${c.done}${c.total ? ' / ' + c.total : ''} frames`;
  } else if (c.status === 0) {
    status.dataset.state = 'done';
    status.textContent = `${c.message}: ${size(c.bytes)} in ${c.seconds.toFixed(1)} s`;
  } else {
    status.dataset.state = 'failed';
    status.textContent = c.message;
  }
}

// ---------------------------------------------------------------- start

async function start() {
  session = await getJson('/api/session');
  $('input-name').textContent = session.input;
  $('output').value = defaultOutput = session.output;
  const plugins = $('plugin');
  plugins.replaceChildren(...session.plugins.map((p) => new Option(p, p)));
  plugins.value = session.initial.plugin;
  await loadPlugin(session.initial.plugin, session.initial);
  const frames = session.frames;
  $('frame-slider').max = Math.max(0, frames - 1);
  $('frame').max = frames > 0 ? frames - 1 : '';
  $('frame-count').textContent = session.still ? 'a still picture' : frames > 0 ? `of ${frames}` : '';
  $('frame-row').classList.toggle('still', session.still);
  $('frame').disabled = $('frame-slider').disabled = session.still;
  $('this-frame-label').hidden = session.still;

  plugins.addEventListener('change', async () => {
    // The output's default name follows the plug-in until the user names it.
    const named = $('output').value.replace(`-${st.plugin}.`, `-${plugins.value}.`);
    if ($('output').value === defaultOutput) $('output').value = defaultOutput = named;
    await loadPlugin(plugins.value, null);
    refresh();
  });
  $('input-kind').addEventListener('change', () => { st.input = $('input-kind').value; refresh(); });
  $('frame').addEventListener('change', () => setFrame($('frame').value));
  $('frame-slider').addEventListener('input', () => setFrame($('frame-slider').value));
  $('key-frame').addEventListener('click', keyThisFrame);
  $('copy').addEventListener('click', async () => {
    const text = $('command').textContent;
    try { await navigator.clipboard.writeText(text); } catch (e) {
      const range = document.createRange();
      range.selectNodeContents($('command'));
      getSelection().removeAllRanges();
      getSelection().addRange(range);
      document.execCommand('copy');
    }
  });
  for (const id of ['output', 'overwrite', 'this-frame']) $(id).addEventListener('change', () => latest('state', fetchState));
  $('convert').addEventListener('click', startConversion);
  $('cancel').addEventListener('click', () => fetch(url('/api/convert/cancel'), { method: 'POST' }));
  setupView();
  setFrame(session.initial.frame);
}

start().catch((e) => showError(e.message));
