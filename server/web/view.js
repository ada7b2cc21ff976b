'use strict';

// The live view: the state and the run's samples come from /events; the last runs from
// /runs; Start and Stop need a token from /login, kept for this tab only.
const $ = (id) => document.getElementById(id);
const svgNs = 'http://www.w3.org/2000/svg';
const stateNames = {
  identifying: 'Identifying the instrument',
  disconnected: 'Not connected',
  idle: 'Idle',
  running: 'Running',
};
let series = [];
let setpoint = 0;
let running = null;
let token = sessionStorage.getItem('velmora-token') || '';

function clock(seconds) {
  const s = Math.max(0, Math.trunc(seconds));
  const two = (v) => String(v).padStart(2, '0');
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  return h > 0 ? `${h}:${two(m)}:${two(s % 60)}` : `${two(m)}:${two(s % 60)}`;
}

function svg(tag, attributes, text) {
  const element = document.createElementNS(svgNs, tag);
  for (const [name, value] of Object.entries(attributes)) element.setAttribute(name, value);
  if (text !== undefined) element.textContent = text;
  return element;
}

// A round step for the axis: 1, 2 or 5 times a power of ten.
function step(span, count) {
  const raw = span / count;
  const power = 10 ** Math.floor(Math.log10(raw));
  return [1, 2, 5, 10].map((f) => f * power).find((s) => s >= raw);
}

// The graph's drawing area in the svg's own pixels, so that its text stays readable on a phone.
function frame() {
  const width = Math.round(Math.min(1200, Math.max(300, $('graph').clientWidth || 600)));
  const height = Math.round(width < 500 ? width * 0.7 : Math.min(360, width * 0.42));
  $('graph').setAttribute('viewBox', `0 0 ${width} ${height}`);
  return { left: 40, right: width - 12, top: 10, bottom: height - 24, height };
}

function draw() {
  const graph = frame();
  const first = series.length ? series[0][0] : 1;
  const last = Math.max(series.length ? series[series.length - 1][0] : 1, first + 9);
  const top = Math.max(10, setpoint * 1.15, ...series.map((p) => p[1] * 1.05));
  const x = (n) => graph.left + ((n - first) / (last - first)) * (graph.right - graph.left);
  const y = (v) => graph.bottom - (v / top) * (graph.bottom - graph.top);
  const grid = $('grid');
  grid.replaceChildren();
  const dy = step(top, 4);
  for (let v = 0; v <= top; v += dy) {
    grid.append(svg('line', { x1: graph.left, x2: graph.right, y1: y(v), y2: y(v) }));
    grid.append(svg('text', { x: 2, y: y(v) + 4 }, String(v)));
  }
  const dx = step(last - first, 5);
  for (let n = Math.ceil(first / dx) * dx; n <= last; n += dx) {
    grid.append(svg('text', { x: x(n) - 6, y: graph.height - 6 }, String(n)));
  }
  const target = $('target');
  target.toggleAttribute('hidden', !(setpoint > 0));
  target.setAttribute('x1', graph.left);
  target.setAttribute('x2', graph.right);
  target.setAttribute('y1', y(setpoint));
  target.setAttribute('y2', y(setpoint));
  $('trace').setAttribute('points', series.map((p) => `${x(p[0]).toFixed(1)},${y(p[1]).toFixed(1)}`).join(' '));
  $('graph').dataset.points = String(series.length);
}

function showAlarms(alarms) {
  const list = $('alarms');
  list.replaceChildren();
  for (const text of alarms) {
    const item = document.createElement('li');
    item.textContent = text;
    list.append(item);
  }
  if (!alarms.length) {
    const none = document.createElement('li');
    none.className = 'none';
    none.textContent = 'None';
    list.append(none);
  }
}

function showState(state) {
  const instrument = state.instrument;
  $('instrument').textContent = instrument.id ? `${instrument.id} (${instrument.model})` : 'No instrument identified';
  $('state').textContent = stateNames[state.state] || state.state;
  $('state').dataset.state = state.state;
  $('speed').textContent = String(state.speed);
  $('remaining').textContent = clock(state.remaining);
  $('setpoint').textContent = state.setpoint ? `setpoint ${state.setpoint} 1/min` : '';
  $('samples').textContent = state.samples ? `${state.samples} samples` : '';
  $('link').hidden = state.linkUp || state.state === 'identifying';
  $('link').textContent = 'The instrument does not answer.';
  showAlarms(state.alarms);
  setpoint = state.setpoint;
  if (state.series) series = state.series;
  draw();
  $('control').hidden = !state.login;
  const now = state.state === 'running';
  const changed = running !== now;
  running = now;
  if (changed) loadRuns();
}

function addSample(sample) {
  if (series.length && sample.n <= series[series.length - 1][0]) series = [];
  series.push([sample.n, sample.speed]);
  $('speed').textContent = String(sample.speed);
  $('remaining').textContent = clock(sample.remaining);
  $('samples').textContent = `${sample.n} samples`;
  draw();
}

async function loadRuns() {
  const response = await fetch('/runs');
  if (!response.ok) return;
  const body = $('runs').tBodies[0];
  body.replaceChildren();
  const runs = await response.json();
  for (const run of runs) {
    const row = body.insertRow();
    const inProgress = running && run === runs[0] && !run.end;
    const start = run.start.replace('T', ' ').slice(0, 19);
    for (const text of [start, `${run.speed} 1/min`, String(run.time), String(run.samples), run.end || (inProgress ? 'in progress' : 'not ended')]) {
      row.insertCell().textContent = text;
    }
    const link = document.createElement('a');
    link.href = `/journals/${encodeURIComponent(run.journal)}`;
    link.download = run.journal;
    link.textContent = 'Download';
    row.insertCell().append(link);
  }
}

function showLogin() {
  $('login').hidden = Boolean(token);
  $('run').hidden = !token;
}

async function post(path, body) {
  const headers = { 'Content-Type': 'application/json' };
  if (token) headers.Authorization = `Bearer ${token}`;
  const response = await fetch(path, { method: 'POST', headers, body: JSON.stringify(body || {}) });
  const answer = await response.json().catch(() => ({ error: `The server answered ${response.status}.` }));
  if (response.status === 401 && path !== '/login') {
    token = '';
    sessionStorage.removeItem('velmora-token');
    showLogin();
  }
  $('reply').textContent = answer.error || answer.ok || '';
  return answer;
}

function wire() {
  $('login').addEventListener('submit', async (event) => {
    event.preventDefault();
    const form = event.target;
    const answer = await post('/login', { user: form.user.value, password: form.password.value });
    form.password.value = '';
    if (answer.token) {
      token = answer.token;
      sessionStorage.setItem('velmora-token', token);
      $('reply').textContent = 'Logged in.';
    }
    showLogin();
  });
  $('run').addEventListener('submit', (event) => {
    event.preventDefault();
    const form = event.target;
    post('/start', { speed: Number(form.speed.value), time: Number(form.time.value) });
  });
  $('stop').addEventListener('click', () => post('/stop'));
  $('logout').addEventListener('click', async () => {
    await post('/logout');
    token = '';
    sessionStorage.removeItem('velmora-token');
    showLogin();
  });
  showLogin();
}

function listen() {
  const events = new EventSource('/events');
  events.addEventListener('state', (event) => showState(JSON.parse(event.data)));
  events.addEventListener('sample', (event) => addSample(JSON.parse(event.data)));
  // The browser reconnects by itself; meanwhile the page says so.
  events.addEventListener('error', () => {
    $('state').textContent = 'Reconnecting to the server…';
    $('state').dataset.state = '';
  });
}

wire();
draw();
listen();
window.addEventListener('resize', draw);
