'use strict';
// The studio's page: the project lives here while it is edited and is saved to the
// server (trackloom-project.json in the project folder) after every change.

const $ = (id) => document.getElementById(id);
let project = { videos: [], first: '', firstSeconds: 0, capacity: 80, split: false, name: 'disc', output: 'disc' };
let facts = {};  // path -> what the server told about it
let polling = null;

function notice(text) { $('notice').textContent = text || ''; }

async function api(method, path, body) {
  // The header tells the server that the page itself asks (browsers that send no
  // Sec-Fetch-Site say so no other way).
  const init = { method, headers: { 'X-Trackloom-Page': '1' } };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const response = await fetch(path, init);
  const text = await response.text();
  let data = {};
  try { data = text ? JSON.parse(text) : {}; } catch (e) { data = { message: text }; }
  if (!response.ok) {
    const error = new Error(data.message || response.statusText);
    error.field = data.field;
    throw error;
  }
  return data;
}

function clock(seconds) {
  seconds = Math.max(0, Math.round(seconds));
  const h = Math.floor(seconds / 3600), m = Math.floor(seconds / 60) % 60, s = seconds % 60;
  const ss = String(s).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${ss}` : `${m}:${ss}`;
}

function baseName(path) { return path.split(/[\\/]/).pop(); }

// The control a refusal names ("name", "output", "video 2: every"), or null.
function fieldOf(name) {
  if (name === 'name') return $('disc-name');
  if (name === 'output') return $('output');
  if (name === 'first') return $('choose-first');
  const video = /^video (\d+): (\w+)$/.exec(name || '');
  const li = video && $('video-list').children[Number(video[1]) - 1];
  return li ? li.querySelector('.' + video[2]) : null;
}

// A refusal shown at the control it concerns (and in the notice line).
let refusedBefore = false;  // the notice line holds a refusal, until a save passes

function refused(error, prefix) {
  refusedBefore = true;
  notice(prefix + error.message);
  const input = fieldOf(error.field);
  if (!input) return;
  input.hidden = false;
  input.setCustomValidity(error.message);
  input.reportValidity();
  input.addEventListener('input', () => input.setCustomValidity(''), { once: true });
}

async function save() {
  try {
    await api('POST', '/api/project', project);
    if (refusedBefore) notice('');
    refusedBefore = false;
  } catch (e) {
    refused(e, 'Not saved: ');
  }
}

function changed() {
  renderVideos();
  renderDisc();
  save();
}

// ---- Videos -------------------------------------------------------------------

function addVideo(info) {
  facts[info.path] = info;
  if (info.error) notice(`${info.name}: ${info.error}`);
  project.videos.push({ path: info.path, fit: 'letterbox', breaks: 'none', every: '', at: '',
                        levels: 'standard', loudness: '-16', audio: '' });
}

function move(index, by) {
  const to = index + by;
  if (to < 0 || to >= project.videos.length) return;
  const [v] = project.videos.splice(index, 1);
  project.videos.splice(to, 0, v);
  changed();
  const buttons = $('video-list').children[to].querySelector(by < 0 ? '.up' : '.down');
  buttons.focus();
}

function bindOptions(li, video) {
  // A project saved before an option existed has the option's default.
  const defaults = { fit: 'letterbox', breaks: 'none', every: '', at: '', levels: 'standard', loudness: '-16' };
  for (const field of Object.keys(defaults)) {
    const input = li.querySelector('.' + field);
    if (video[field] === undefined) video[field] = defaults[field];
    input.value = video[field];
    input.addEventListener('change', () => {
      video[field] = input.value;
      changed();
      if (field === 'fit' && $('preview-video').value === video.path) showPreview();
    });
  }
  li.querySelector('.every').hidden = video.breaks !== 'every';
  li.querySelector('.at').hidden = video.breaks !== 'at';
  const chapters = (facts[video.path] || {}).chapters || [];
  li.querySelector('.breaks option[value=chapters]').disabled = chapters.length === 0;
  li.querySelector('.audio-name').textContent = video.audio ? 'sound: ' + baseName(video.audio) : '';
  li.querySelector('.no-audio').hidden = !video.audio;
  li.querySelector('.audio').addEventListener('click', () => openPicker('audio', (files) => {
    video.audio = files[0].path;
    video.audioSeconds = files[0].seconds || 0;
    changed();
  }));
  li.querySelector('.no-audio').addEventListener('click', () => {
    video.audio = '';
    video.audioSeconds = 0;
    changed();
  });
}

let dragged = -1;
function bindDragging(li, index) {
  li.addEventListener('dragstart', (e) => { dragged = index; e.dataTransfer.effectAllowed = 'move'; });
  li.addEventListener('dragover', (e) => { if (dragged >= 0) e.preventDefault(); });
  li.addEventListener('drop', (e) => {
    if (dragged < 0) return;
    e.preventDefault();
    e.stopPropagation();
    const [v] = project.videos.splice(dragged, 1);
    project.videos.splice(index, 0, v);
    dragged = -1;
    changed();
  });
  li.addEventListener('dragend', () => { dragged = -1; });
}

function renderVideos() {
  const list = $('video-list');
  list.textContent = '';
  project.videos.forEach((video, index) => {
    const li = $('video-item').content.firstElementChild.cloneNode(true);
    const info = facts[video.path] || {};
    li.querySelector('.name').textContent = baseName(video.path);
    li.querySelector('.length').textContent = info.still ? 'a still picture' :
      info.seconds ? clock(info.seconds) : '';
    li.querySelector('.up').disabled = index === 0;
    li.querySelector('.down').disabled = index === project.videos.length - 1;
    li.querySelector('.up').addEventListener('click', () => move(index, -1));
    li.querySelector('.down').addEventListener('click', () => move(index, 1));
    li.querySelector('.remove').addEventListener('click', () => {
      project.videos.splice(index, 1);
      changed();
    });
    bindOptions(li, video);
    bindDragging(li, index);
    list.appendChild(li);
  });
  $('no-videos').hidden = project.videos.length > 0;
  renderPreviewChoice();
}

// ---- The file picker ------------------------------------------------------------

let picker = { mode: 'video', dir: '', chosen: new Set(), done: null };

let browsing = 0;
async function browse(dir) {
  const asked = ++browsing;
  let listing;
  try {
    listing = await api('GET', '/api/browse?dir=' + encodeURIComponent(dir));
  } catch (e) {
    notice(e.message);
    return;
  }
  if (asked !== browsing) return;  // a later choice of folder answers instead
  picker.dir = listing.dir;
  picker.parent = listing.parent;
  $('picker-dir').textContent = listing.dir;
  const list = $('picker-list');
  list.textContent = '';
  for (const name of listing.dirs) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'folder';
    button.textContent = '📁 ' + name;
    button.addEventListener('click', () => browse(listing.dir + '/' + name));
    list.appendChild(document.createElement('li')).appendChild(button);
  }
  const wanted = picker.mode === 'video' ? /\.(mp4|m4v|mkv|webm|avi|mov|mpe?g|ts|m2ts|wmv|flv|ogv|3gp|vob|dv|png|jpe?g|bmp|gif|webp|mp3|flac|ogg|opus|m4a)$/i
    : picker.mode === 'disc' ? /\.(cue|toc)$/i
    : /\.(wav|mp3|flac|ogg|opus|m4a|aac|wma)$/i;
  for (const name of listing.files.filter((n) => wanted.test(n) || (picker.mode === 'first' && /\.wav$/i.test(n)))) {
    const path = listing.dir + '/' + name;
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'file';
    button.setAttribute('aria-pressed', picker.chosen.has(path) ? 'true' : 'false');
    button.textContent = name;
    button.addEventListener('click', () => {
      if (picker.mode !== 'video') picker.chosen.clear();
      if (picker.chosen.has(path)) picker.chosen.delete(path); else picker.chosen.add(path);
      for (const b of list.querySelectorAll('button.file'))
        b.setAttribute('aria-pressed', picker.chosen.has(listing.dir + '/' + b.textContent) ? 'true' : 'false');
    });
    list.appendChild(document.createElement('li')).appendChild(button);
  }
  const first = list.querySelector('button');
  if (first) first.focus();
}

function openPicker(mode, done) {
  picker = { mode, dir: '', chosen: new Set(), done };
  $('picker-title').textContent = mode === 'video' ? 'Add videos (or pictures, or music with a cover)'
    : mode === 'first' ? 'Choose the first track (a WAV ripped from a disc you own)'
    : mode === 'disc' ? 'Choose a disc image (.cue or .toc)'
    : 'Choose a sound file';
  $('picker').showModal();
  browse(mode === 'video' ? '' : (picker.dir || ''));
}

async function pickChosen() {
  const kind = picker.mode === 'video' ? 'video' : picker.mode === 'disc' ? 'disc' : 'sound';
  const picked = [];
  for (const path of picker.chosen) {
    try {
      picked.push(await api('POST', '/api/pick', { path, kind }));
    } catch (e) {
      notice(`${baseName(path)}: ${e.message}`);
    }
  }
  $('picker').close();
  if (picked.length > 0 && picker.done) picker.done(picked);
}

// ---- Uploads (drag and drop) ----------------------------------------------------

function upload(file) {
  const li = document.createElement('li');
  const bar = document.createElement('progress');
  bar.max = 100;
  bar.value = 0;
  li.append(`Copying ${file.name} `, bar);
  $('uploads').appendChild(li);
  return new Promise((resolve) => {
    const request = new XMLHttpRequest();
    request.open('POST', '/api/upload?name=' + encodeURIComponent(file.name));
    request.upload.onprogress = (e) => { if (e.lengthComputable) bar.value = 100 * e.loaded / e.total; };
    request.onload = () => {
      li.remove();
      let data = {};
      try { data = JSON.parse(request.responseText); } catch (e) { data = {}; }
      if (request.status === 200) {
        if (data.renamed) notice(`${file.name} is kept as ${data.renamed}, a name every system can hold.`);
        addVideo(data);
        changed();
      } else {
        notice(`${file.name}: ${data.message || 'the copy failed'}`);
      }
      resolve();
    };
    request.onerror = () => { li.remove(); notice(`${file.name}: the copy failed`); resolve(); };
    request.send(file);
  });
}

async function uploadAll(files) {
  for (const file of files) await upload(file);
}

// ---- Preview ----------------------------------------------------------------------

function renderPreviewChoice() {
  const select = $('preview-video');
  const current = select.value;
  select.textContent = '';
  for (const video of project.videos) {
    const option = document.createElement('option');
    option.value = video.path;
    option.textContent = baseName(video.path);
    select.appendChild(option);
  }
  if (project.videos.some((v) => v.path === current)) select.value = current;
  const info = facts[select.value] || {};
  $('preview-time').max = String(Math.max(0, (info.seconds || 0) - 0.1));
  if (current !== select.value) showPreview();
}

let previewBusy = false, previewAgain = false;
async function showPreview() {
  const path = $('preview-video').value;
  if (!path) { $('preview-img').hidden = true; return; }
  if (previewBusy) { previewAgain = true; return; }
  previewBusy = true;
  const video = project.videos.find((v) => v.path === path) || {};
  const t = Number($('preview-time').value);
  $('preview-at').textContent = clock(t);
  const url = `/api/preview?path=${encodeURIComponent(path)}&t=${t}&fit=${video.fit || 'letterbox'}`;
  try {
    const response = await fetch(url, { headers: { 'X-Trackloom-Page': '1' } });
    if (!response.ok) throw new Error((await response.json()).message);
    const img = $('preview-img');
    if (img.src) URL.revokeObjectURL(img.src);
    img.src = URL.createObjectURL(await response.blob());
    img.hidden = false;
    img.dataset.at = t;
  } catch (e) {
    notice('Preview: ' + e.message);
  }
  previewBusy = false;
  if (previewAgain) { previewAgain = false; showPreview(); }
  followQuickPreviews(path, video.fit || 'letterbox');
}

// Once a video is picked, the studio makes its pictures in the background so that
// any moment shows at once; until then each preview takes a moment, and the page says
// how far that pass has come.
let quickTimer = null;
async function followQuickPreviews(path, fit) {
  clearTimeout(quickTimer);
  const line = $('preview-quick');
  let state = {};
  try {
    state = await api('GET', `/api/quick?path=${encodeURIComponent(path)}&fit=${fit}`);
  } catch (e) { /* the preview itself tells what is wrong */ }
  if ($('preview-video').value !== path) return;
  const pending = state.state === 'waiting' || state.state === 'making';
  line.hidden = !pending;
  if (!pending) return;
  line.textContent = state.state === 'waiting'
    ? 'Previews take a moment until this video has been read through (waiting for another video).'
    : `Previews take a moment until this video has been read through: ${Math.floor(100 * state.fraction)} % read.`;
  quickTimer = setTimeout(() => followQuickPreviews(path, fit), 500);
}

// ---- The disc ----------------------------------------------------------------------

// A still plays as long as its sound: the separate one when given.
function videoSeconds(video) {
  const info = facts[video.path] || {};
  return (info.still && video.audio ? video.audioSeconds : info.seconds) || 0;
}

// Players need a disc of at least 41:20: a shorter one is filled with silence.
const kLeastDiscSeconds = 41 * 60 + 20;

// A track takes twice its playing time on the disc (each 1/18 s picture is a 1/9 s
// record), the first track its own length, the end track 4 s.
function discSeconds() {
  let total = (project.firstSeconds || 0) + 4;
  for (const video of project.videos) total += 2 * videoSeconds(video);
  return total;
}

function renderDisc() {
  const capacity = Number(project.capacity) * 60;
  const used = discSeconds();
  const fill = $('disc-fill');
  fill.style.width = Math.min(100, 100 * used / capacity) + '%';
  fill.classList.toggle('over', used > capacity);
  $('disc-bar').setAttribute('aria-valuemax', String(project.capacity));
  $('disc-bar').setAttribute('aria-valuenow', String(Math.round(used / 60)));
  $('disc-minutes').textContent = `${clock(used)} of ${project.capacity}:00 used` +
    ` (${clock(Math.max(0, capacity - used) / 2)} of video still fits)` +
    (used < kLeastDiscSeconds ? `; the disc is filled with silence to ${clock(kLeastDiscSeconds)}, the least players need` : '');
  const warning = $('disc-warning');
  warning.hidden = used <= capacity;
  warning.textContent = used > capacity ? (project.split
    ? `Too long for one disc: it will be spread over ${Math.ceil(used / capacity)} discs.`
    : `Too long for this blank by ${clock(used - capacity)}. Shorten it, choose a longer blank, or spread it over several discs.`) : '';
  $('split').checked = !!project.split;
  $('capacity').value = String(project.capacity);
  $('disc-name').value = project.name || 'disc';
  $('output').value = project.output || 'disc';
  $('first-name').textContent = project.first ? baseName(project.first) : 'none chosen';
  const tracks = $('disc-tracks');
  tracks.textContent = '';
  const add = (text) => { tracks.appendChild(document.createElement('li')).textContent = text; };
  add('First track: ' + (project.first ? baseName(project.first) : '(to choose)'));
  for (const video of project.videos) {
    const breaks = { none: '', chapters: ', a track per chapter', every: `, a track every ${video.every}`,
                     at: `, tracks from ${video.at}` }[video.breaks] || '';
    const seconds = videoSeconds(video);
    add(`${baseName(video.path)} (${seconds ? clock(seconds) : 'as long as its sound'}${breaks})`);
  }
  add('End of the disc');
  if (discSeconds() < kLeastDiscSeconds) add(`Silence, to fill the disc to ${clock(kLeastDiscSeconds)}`);
}

// ---- Making it --------------------------------------------------------------------

async function make() {
  try {
    await save();
    await api('POST', '/api/make', project);
    $('result-section').hidden = true;
    $('make').disabled = true;
    $('cancel').disabled = false;
    startPolling();
    $('make-notice').textContent = '';
  } catch (e) {
    // Told beside the button as well as at the top of the page, out of view from here.
    $('make-notice').textContent = e.message;
    refused(e, '');
  }
}

function startPolling() {
  if (polling) return;
  polling = setInterval(poll, 250);
  poll();
}

async function poll() {
  let status;
  try { status = await api('GET', '/api/status'); } catch (e) { return; }
  const percent = Math.round(100 * status.overall);
  $('overall').value = percent;
  $('overall-text').textContent = `${percent}%` +
    (status.secondsLeft >= 0 ? `, about ${clock(status.secondsLeft)} left` : '') +
    (status.step === 'disc' ? ', writing the image' : '');
  const list = $('video-progress');
  list.textContent = '';
  for (const v of status.videos || []) {
    const li = document.createElement('li');
    const bar = document.createElement('progress');
    bar.max = 100;
    bar.value = Math.round(100 * v.fraction);
    li.append(`${baseName(v.path)}: ${v.state} `, bar);
    list.appendChild(li);
  }
  if (status.state !== 'running') {
    clearInterval(polling);
    polling = null;
    $('make').disabled = false;
    $('cancel').disabled = true;
    if (status.state !== 'idle') showResult(status);
  }
}

function showResult(status) {
  results++;
  $('result-section').hidden = false;
  $('result-message').textContent = status.state === 'done' ? 'The disc image is written.'
    : status.state === 'cancelled' ? 'Stopped. The tracks written are kept, the last one ending where it was stopped; no image was written.'
    : 'Making the disc failed: ' + status.message;
  const files = $('result-files');
  files.textContent = '';
  for (const f of status.written) files.appendChild(document.createElement('li')).textContent = f;
  $('result-verdict').textContent = status.verdict || '';
  $('result-burn').textContent = status.burn || '(no image)';
  const tracks = $('result-tracks');
  tracks.textContent = '';
  // Each track named in the user's terms: the video it was made of, part n of m.
  const folderOf = (t) => t.split(/[\\/]/).slice(-2)[0];
  const parts = {};
  for (const t of status.tracks) parts[folderOf(t)] = (parts[folderOf(t)] || 0) + 1;
  const seen = {};
  status.tracks.forEach((t, i) => {
    const li = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    const folder = folderOf(t);
    const number = /^video-(\d+)$/.exec(folder);
    const from = number && status.videos[Number(number[1]) - 1];
    const name = from ? baseName(from.path) : folder;
    seen[folder] = (seen[folder] || 0) + 1;
    const part = parts[folder] > 1 ? `, part ${seen[folder]} of ${parts[folder]}` : '';
    button.textContent = `Watch track ${i + 1}: ${name}${part}`;
    // How its video is coming along is told beside it, where the user looks.
    const line = document.createElement('span');
    line.className = 'watch-line';
    line.setAttribute('role', 'status');
    const cancel = document.createElement('button');
    cancel.type = 'button';
    cancel.className = 'watch-cancel';
    cancel.textContent = 'Cancel';
    cancel.hidden = true;
    const watcher = { track: i + 1, name: name + part, line, cancel, shown: results };
    button.addEventListener('click', () => watchTrack(watcher));
    cancel.addEventListener('click', () => cancelWatch(watcher));
    li.append(button, ' ', line, ' ', cancel);
    tracks.appendChild(li);
  });
}

// ---- Watching a track --------------------------------------------------------------

// The video of a track is made on the server (a few seconds a minute of video); the
// page follows it and plays it once it is ready. Each track's polling is its own.
let results = 0;  // counts the results shown: a poll for a list replaced ends
const following = new Set();  // the tracks being polled

function showWatch(watcher, status) {
  const making = status.state === 'making';
  const percent = status.total > 0 ? Math.floor(100 * Math.min(status.done, status.total) / status.total) : 0;
  watcher.line.textContent = making ? `Making the video of ${watcher.name}: ${percent} %`
    : status.state === 'cancelled' ? 'Stopped.'
    : status.state === 'failed' ? status.message : '';
  watcher.cancel.hidden = !making;
}

async function followWatch(watcher) {
  if (following.has(watcher.track)) return;  // asked twice: the one render is followed once
  following.add(watcher.track);
  try {
    let status = await api('POST', '/api/watch/start', { track: watcher.track });
    while (status.state === 'making' && watcher.shown === results) {
      showWatch(watcher, status);
      await new Promise((resolve) => setTimeout(resolve, 250));
      status = await api('GET', '/api/watch/status?track=' + watcher.track);
    }
    if (watcher.shown !== results) return;
    showWatch(watcher, status);
    if (status.state === 'ready') {
      const video = $('watch');
      video.hidden = false;
      video.src = '/api/watch?track=' + watcher.track;
      video.play().catch(() => {});
    }
  } catch (e) {
    if (watcher.shown === results) watcher.line.textContent = e.message;
    watcher.cancel.hidden = true;
  } finally {
    following.delete(watcher.track);
  }
}

function watchTrack(watcher) {
  if (!following.has(watcher.track)) watcher.line.textContent = `Making the video of ${watcher.name}: 0 %`;
  followWatch(watcher);
}

async function cancelWatch(watcher) {
  try {
    showWatch(watcher, await api('POST', '/api/watch/cancel', { track: watcher.track }));
  } catch (e) {
    watcher.line.textContent = e.message;
  }
}

// ---- Start ------------------------------------------------------------------------

async function load() {
  const saved = await api('GET', '/api/project');
  $('folder').textContent = 'Project folder: ' + saved.folder;
  delete saved.folder;
  if (saved.notice) notice(saved.notice);
  delete saved.notice;
  project = Object.assign(project, saved);
  project.videos = project.videos || [];
  for (const video of project.videos) {
    try { facts[video.path] = await api('GET', '/api/facts?path=' + encodeURIComponent(video.path)); }
    catch (e) { notice(`${baseName(video.path)}: ${e.message}`); }
  }
  if (project.first && !project.firstSeconds) {
    try {
      const info = await api('GET', `/api/facts?kind=sound&path=${encodeURIComponent(project.first)}`);
      project.firstSeconds = info.seconds;
    } catch (e) { notice(`${baseName(project.first)}: ${e.message}`); }
  }
  renderVideos();
  renderDisc();
  showPreview();
  startPolling();
}

function wire() {
  $('add-videos').addEventListener('click', () => openPicker('video', (picked) => {
    for (const info of picked) addVideo(info);
    changed();
  }));
  $('picker-up').addEventListener('click', () => { if (picker.parent) browse(picker.parent); });
  $('picker-add').addEventListener('click', pickChosen);
  $('picker-close').addEventListener('click', () => $('picker').close());
  $('choose-first').addEventListener('click', () => openPicker('first', (picked) => {
    project.first = picked[0].path;
    project.firstSeconds = picked[0].seconds || 0;
    changed();
  }));
  const zone = $('drop-zone');
  zone.addEventListener('dragover', (e) => { e.preventDefault(); zone.classList.add('over'); });
  zone.addEventListener('dragleave', () => zone.classList.remove('over'));
  zone.addEventListener('drop', (e) => {
    e.preventDefault();
    zone.classList.remove('over');
    uploadAll(Array.from(e.dataTransfer.files));
  });
  zone.addEventListener('click', () => $('upload-input').click());
  zone.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); $('upload-input').click(); }
  });
  $('upload-input').addEventListener('change', (e) => uploadAll(Array.from(e.target.files)));
  $('preview-video').addEventListener('change', () => { renderPreviewChoice(); showPreview(); });
  $('preview-time').addEventListener('input', showPreview);
  $('capacity').addEventListener('change', (e) => { project.capacity = Number(e.target.value); changed(); });
  $('split').addEventListener('change', (e) => { project.split = e.target.checked; changed(); });
  $('disc-name').addEventListener('change', (e) => { project.name = e.target.value; changed(); });
  $('output').addEventListener('change', (e) => { project.output = e.target.value; changed(); });
  $('make').addEventListener('click', make);
  $('cancel').addEventListener('click', () => api('POST', '/api/cancel').catch((e) => notice(e.message)));
  $('quit').addEventListener('click', async () => {
    await api('POST', '/api/quit').catch(() => {});
    document.body.textContent = 'Trackloom studio has stopped. You can close this page.';
  });
  wireRip();
}

// ---- Keep your discs (rip) ------------------------------------------------------

let ripSource = '';
let ripPolling = null;

async function pollRip() {
  let status;
  try { status = await api('GET', '/api/rip'); } catch (e) { return; }
  const ripping = status.state === 'ripping';
  $('rip-progress').value = status.total > 0 ? Math.round(100 * status.done / status.total) : 0;
  $('rip-state').textContent = ripping ? 'Reading the disc…'
    : status.state === 'done' ? `Done: ${baseName(status.output)} is in the project folder.`
    : status.state === 'idle' ? '' : status.message;
  $('rip-summary').textContent = status.summary || '';
  $('rip-start').disabled = ripping;
  $('rip-cancel').disabled = !ripping;
  if (!ripping && ripPolling) {
    clearInterval(ripPolling);
    ripPolling = null;
  }
}

async function startRip() {
  const drive = $('rip-drive').value.trim();
  const source = drive || ripSource;
  if (!source) { $('rip-state').textContent = 'Choose a disc image, or give the CD drive.'; return; }
  try {
    await api('POST', '/api/rip', { source, format: $('rip-format').value });
  } catch (e) {
    $('rip-state').textContent = e.message;
    return;
  }
  if (!ripPolling) ripPolling = setInterval(pollRip, 250);
  pollRip();
}

function wireRip() {
  $('rip').addEventListener('click', () => { $('rip-dialog').showModal(); pollRip(); });
  $('rip-choose').addEventListener('click', () => openPicker('disc', (picked) => {
    ripSource = picked[0].path;
    $('rip-source').textContent = picked[0].name;
    $('rip-drive').value = '';
  }));
  $('rip-start').addEventListener('click', startRip);
  $('rip-cancel').addEventListener('click', () => api('POST', '/api/rip/cancel').catch(() => {}));
  $('rip-close').addEventListener('click', () => $('rip-dialog').close());
}

wire();
load().catch((e) => notice(e.message));
