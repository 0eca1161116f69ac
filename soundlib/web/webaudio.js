// The JavaScript half of the sound library's browser output
// (soundlib/output_webaudio.cpp). Linked into the page's program with
// --pre-js, so the functions the side module bassmod.wasm imports
// (bassmod_webaudio_*) are found on Module when it is loaded with dlopen.
//
// Blocks rendered by the library are played back to back on the
// AudioContext's timeline (one AudioBufferSourceNode each, started at the
// exact context time the block before ends), kept LEAD_SECONDS ahead of the
// context's clock. The library renders on the page's thread, from a timer
// and from the program's main loop, so the lead must cover the longest
// stretch in which neither runs: a slow frame, a garbage collection, a tab
// switch. What is heard is read from the context's output timestamp.
(function () {
  'use strict';
  // 0.4 s: far above a slow frame here (tens of ms with software WebGL), well
  // below a delay anyone would notice when the music stops. Syncs do not
  // depend on it: they follow the output clock, not the scheduling.
  var LEAD_SECONDS = 0.4;
  // The first block starts this long after the first pump, so it is never
  // scheduled in the past.
  var START_DELAY = 0.05;
  // A context that is still not running this long after Play (autoplay
  // refused) is given up for the wall clock: the demo then runs silent.
  var GIVE_UP_MS = 1500;
  var PUMP_MS = 5;

  var testing = typeof location !== 'undefined' && /[?&]test=1(&|$)/.test(location.search);
  var A = {
    ctx: null, freq: 44100, started: false, t0: -1, queued: 0, sources: [],
    startWall: 0, wallClock: false, pumpWall: 0, timer: 0, pump: null, pumping: false, pumps: 0
  };

  function now() { return typeof performance !== 'undefined' ? performance.now() : Date.now(); }

  // The context time being heard now: the output timestamp (when the
  // context gives one), carried forward to this moment; never beyond what
  // the context has rendered.
  function heardContextTime(c) {
    if (c.getOutputTimestamp) {
      var ts = c.getOutputTimestamp();
      if (ts && ts.contextTime > 0 && ts.performanceTime > 0) {
        return Math.min(ts.contextTime + (now() - ts.performanceTime) / 1000, c.currentTime);
      }
    }
    return c.currentTime - (c.outputLatency || c.baseLatency || 0);
  }

  Module['_bassmod_webaudio_open'] = function (frequency) {
    var C = typeof window !== 'undefined' && (window.AudioContext || window.webkitAudioContext);
    var c = Module['zephyraAudioContext'];
    if (!c && C) {
      try { c = new C(); Module['zephyraAudioContext'] = c; } catch (e) { c = null; }
    }
    if (!c || c.state === 'closed') return 0;
    if (c.state !== 'running' && c.resume) c.resume().catch(function () {});
    A.ctx = c;
    A.freq = frequency;
    return 1;
  };

  Module['_bassmod_webaudio_start'] = function () {
    A.started = true;
    A.t0 = -1;
    A.queued = 0;
    A.wallClock = false;
    A.startWall = now();
  };

  Module['_bassmod_webaudio_stop'] = function () {
    A.started = false;
    A.sources.forEach(function (s) { try { s.stop(); s.disconnect(); } catch (e) {} });
    A.sources = [];
  };

  Module['_bassmod_webaudio_close'] = function () { A.ctx = null; };

  function pumpNow() {
    if (!A.pump || A.pumping) return;
    A.pumping = true;
    A.pumps++;
    try { A.pump(); } finally { A.pumping = false; }
  }

  Module['_bassmod_webaudio_pump_start'] = function (frequency, pumpFunction) {
    A.freq = frequency;
    A.pumpWall = now();
    A.pump = wasmTable.get(pumpFunction);
    if (A.timer) clearInterval(A.timer);
    A.timer = setInterval(pumpNow, PUMP_MS);
    // The program's main loop may call this once per pass.
    Module['zephyraAudioPump'] = pumpNow;
  };

  Module['_bassmod_webaudio_pump_stop'] = function () {
    if (A.timer) clearInterval(A.timer);
    A.timer = 0;
    A.pump = null;
    Module['zephyraAudioPump'] = null;
  };

  // Frames to render now: enough to reach LEAD_SECONDS ahead.
  Module['_bassmod_webaudio_wanted'] = function () {
    var c = A.ctx;
    if (!A.started || A.wallClock || !c) return 0;
    if (c.state !== 'running') {
      if (A.t0 < 0 && now() - A.startWall > GIVE_UP_MS) A.wallClock = true;
      return 0;
    }
    if (A.t0 < 0) A.t0 = c.currentTime + START_DELAY;
    var end = A.t0 + A.queued / A.freq;
    // Starved (the page stood still longer than the lead): the timeline
    // moves on by the gap, so later blocks are not scheduled in the past.
    if (end < c.currentTime + 0.005) {
      A.t0 += c.currentTime + START_DELAY - end;
      end = c.currentTime + START_DELAY;
    }
    var ahead = end - c.currentTime;
    return ahead >= LEAD_SECONDS ? 0 : Math.ceil((LEAD_SECONDS - ahead) * A.freq);
  };

  Module['_bassmod_webaudio_queue'] = function (pointer, count) {
    var c = A.ctx;
    var buffer = c.createBuffer(2, count, A.freq);
    var left = buffer.getChannelData(0), right = buffer.getChannelData(1);
    var base = pointer >> 1;
    for (var i = 0; i < count; i++) {
      left[i] = HEAP16[base + 2 * i] / 32768;
      right[i] = HEAP16[base + 2 * i + 1] / 32768;
    }
    var source = c.createBufferSource();
    source.buffer = buffer;
    source.connect(c.destination);
    source.onended = function () {
      var k = A.sources.indexOf(source);
      if (k >= 0) A.sources.splice(k, 1);
      source.disconnect();
    };
    source.start(A.t0 + A.queued / A.freq);
    A.sources.push(source);
    A.queued += count;
  };

  // Frames that have started to sound since start (frame k sounds from
  // t0 + k / freq); never more than were queued.
  Module['_bassmod_webaudio_heard'] = function () {
    if (A.wallClock) return Math.floor((now() - A.startWall) / 1000 * A.freq);
    if (!A.ctx || A.t0 < 0) return 0;
    var f = (heardContextTime(A.ctx) - A.t0) * A.freq;
    if (f < 0) return 0;
    return Math.min(Math.floor(f) + 1, A.queued);
  };

  // The music time being heard now, in seconds since Play (null before Play
  // or without the library): what tests take pictures by.
  Module['zephyraMusicSeconds'] = function () {
    if (!A.pump) return null;
    if (!A.started) return (now() - A.pumpWall) / 1000;  // no device: the silent clock
    return Module['_bassmod_webaudio_heard']() / A.freq;
  };

  // With ?test=1: every sync, with the music time its event sounds at, the
  // heard position that made it due and the one at the pump before.
  Module['_bassmod_webaudio_sync_fired'] = function (user, event, heard, heardBefore) {
    if (!testing || typeof window === 'undefined') return;
    var log = window['zephyraSyncLog'] || (window['zephyraSyncLog'] = []);
    log.push({
      user: user,
      targetSample: event,
      targetTime: event / A.freq,
      heardTime: heard / A.freq,
      prevHeardTime: heardBefore / A.freq,
      firedAt: now(),
      frame: A.pumps,
      clock: A.wallClock ? 'wall' : (A.ctx && A.started ? 'audio' : 'silent')
    });
  };
})();
