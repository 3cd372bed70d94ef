// The status page: asks the monitor for its status document once per read
// cycle and redraws in place. No libraries, nothing from elsewhere.
'use strict';
(function () {
  const $ = (id) => document.getElementById(id);
  let period = 5000;
  let timer = null;

  function setNight(on) {
    document.body.classList.toggle('night', on);
    $('night').setAttribute('aria-pressed', on ? 'true' : 'false');
    $('night').textContent = on ? 'Day' : 'Night';
    try { localStorage.setItem('skyvane-night', on ? '1' : '0'); } catch (e) { /* private mode */ }
  }
  const params = new URLSearchParams(location.search);
  let night = params.get('night') === '1';
  try { if (!params.has('night')) night = localStorage.getItem('skyvane-night') === '1'; } catch (e) { /* ignore */ }
  setNight(night);
  $('night').addEventListener('click', () => setNight(!document.body.classList.contains('night')));

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function draw(s) {
    const flag = $('flag');
    flag.textContent = s.flag;
    flag.className = 'flag ' + (s.safe ? 'safe' : 'unsafe');
    flag.dataset.safe = s.safe ? 'true' : 'false';
    const reasons = $('reasons');
    reasons.replaceChildren(...s.reasons.map((r) => {
      const li = el('li', 'reason', r.text);
      li.dataset.cause = r.cause;
      return li;
    }));
    $('delay').textContent = s.safeDelay || '';
    const ages = [];
    if (s.ages.sensorSeconds !== null && s.ages.sensorSeconds !== undefined) ages.push('sensor data ' + s.ages.sensorSeconds + ' s old');
    if (s.ages.stationSeconds !== null && s.ages.stationSeconds !== undefined) ages.push('station data ' + s.ages.stationSeconds + ' s old');
    $('ages').textContent = ages.join(' · ');
    // The last upload run: a failed one is shown in red with its reason.
    const up = $('upload');
    up.hidden = !s.upload;
    if (s.upload) {
      up.className = 'upload ' + (s.upload.ok ? 'ok' : 'failed');
      up.dataset.ok = s.upload.ok ? 'true' : 'false';
      const when = s.upload.time ? s.upload.time.replace('T', ' ').slice(0, 19) : '';
      up.textContent = 'Upload ' + when + ': ' + s.upload.message;
    }

    $('conditions').replaceChildren(...s.conditions.map((c) => {
      const d = el('div', 'cond' + (c.unsafe ? ' unsafe' : ''));
      d.dataset.key = c.key;
      d.appendChild(el('div', 'name', c.name));
      const t = el('div', 'text', c.text || '—');
      if (c.colour) t.style.color = c.colour;
      d.appendChild(t);
      return d;
    }));
    $('station').replaceChildren(...s.station.map((r) => {
      const tr = el('tr');
      tr.appendChild(el('td', '', r.name));
      tr.appendChild(el('td', '', r.value));
      return tr;
    }));
    const graphs = $('graphs');
    if (graphs.children.length !== s.graphs.length) {
      graphs.replaceChildren(...s.graphs.map((g) => {
        const f = el('figure');
        f.appendChild(el('img'));
        f.appendChild(el('figcaption', 'small', g.title));
        return f;
      }));
    }
    s.graphs.forEach((g, i) => {
      const f = graphs.children[i];
      f.hidden = !g.url;
      const img = f.querySelector('img');
      if (g.url && img.getAttribute('src') !== g.url) { img.src = g.url; img.alt = g.title; }
    });
    $('updated').textContent = 'Updated ' + s.time + (s.running ? '' : ' · monitoring stopped') +
      ' · cycle ' + s.cycles;
    document.body.dataset.cycles = String(s.cycles);
    if (s.readIntervalSeconds > 0) period = Math.max(1000, s.readIntervalSeconds * 1000);
  }

  function poll() {
    fetch('/api/skyvane/v1/status', { cache: 'no-store' })
      .then((r) => { if (!r.ok) throw new Error(r.status); return r.json(); })
      .then(draw)
      .catch(() => {
        const flag = $('flag');
        flag.textContent = 'No connection';
        flag.className = 'flag unknown';
        flag.dataset.safe = 'false';
      })
      .finally(() => { clearTimeout(timer); timer = setTimeout(poll, period); });
  }
  poll();
})();
