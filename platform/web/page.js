// The page's script: loads the show, shows its first frame with "click or press a key to
// start", starts the show (and its sound) on that gesture and hands it the browser's
// animation frames; when the show ends its final frame stays, and a click or key starts it
// again. Address parameters, for tests and measurements:
//   ?virtual   the show runs on a virtual clock (20 ms per frame) and only when asked to
//              (window.musicdisk.runUntil); nothing waits for a gesture
//   ?record    what the sound stream plays is kept (window.musicdisk.sound)
//   ?bench=N   after loading, N frames are drawn on the virtual clock and timed
var Module = typeof Module != 'undefined' ? Module : {};

var MDPage = {
  params: new URLSearchParams(location.search),
  state: 'loading',  // loading, waiting, running, ended, failed, test
  exitCode: null,
  readyAt: -1,

  overlay: function(text) {
    var o = document.getElementById('overlay');
    if (!o) return;
    o.textContent = text || '';
    o.hidden = !text;
  },

  // Calls into the show. The show's end unwinds the call as a thrown exit; the stack is
  // put back to where it was before the call.
  call: function(name) {
    var sp = stackSave();
    try {
      return Module['_' + name]();
    } catch (e) {
      stackRestore(sp);
      if (e && e.musicdiskExit !== undefined) {
        MDPage.ended(e.musicdiskExit);
        return -1;
      }
      throw e;
    }
  },

  begin: function() {
    MD.resetClock();
    MD.keysToShow = false;
    if (MDPage.call('web_show_begin') !== 1) {
      if (MDPage.state !== 'ended') {
        // It reported why in its message box; as a desktop program it would end with 1.
        MDPage.state = 'failed';
        MDPage.exitCode = 1;
        MDPage.overlay('The show could not start.');
      }
      return false;
    }
    return true;
  },

  start: function() {
    MDPage.state = 'running';
    MDPage.overlay('');
    MD.keysToShow = true;
    MD.audioStart();
    MD.runClock(true);
    requestAnimationFrame(MDPage.tick);
  },

  tick: function() {
    if (MDPage.state !== 'running') return;
    if (MDPage.call('web_show_frame') === 1) requestAnimationFrame(MDPage.tick);
  },

  ended: function(code) {
    MDPage.state = 'ended';
    MDPage.exitCode = code;
    MD.keysToShow = false;
    MD.runClock(false);
    MDPage.overlay('The show has ended. Click or press a key to start it again.');
  },

  gesture: function() {
    if (MDPage.state === 'waiting') {
      MDPage.start();
    } else if (MDPage.state === 'ended') {
      if (MDPage.begin()) MDPage.start();
    }
  },

  // A disk of its own comes beside the page as disk.bin, a disk block (musicdisk-make
  // writes it); the page as built carries an empty one, which leaves the built-in disk. The
  // show reads it from /disk.bin when it starts, and refuses a damaged one with a message.
  ready: function() {
    fetch('disk.bin', {cache: 'no-store'})
      .then(function(r) { return r.ok ? r.arrayBuffer() : null; })
      .catch(function() { return null; })
      .then(function(bytes) {
        if (bytes && bytes.byteLength > 0) FS.writeFile('/disk.bin', new Uint8Array(bytes));
        MDPage.diskReady();
      });
  },

  diskReady: function() {
    MDPage.readyAt = performance.now();
    var p = MDPage.params;
    MD.audio.record = p.has('record');
    MD.onGesture = MDPage.gesture;
    if (p.has('virtual') || p.has('bench')) {
      MD.clock.virtual = true;
      if (!MDPage.begin()) return;
      MDPage.state = 'test';
      MDPage.overlay('');
      MD.keysToShow = true;
      if (p.has('bench')) MDPage.bench(Math.max(1, parseInt(p.get('bench'), 10) || 500));
      return;
    }
    if (!MDPage.begin()) return;
    MDPage.state = 'waiting';
    MDPage.overlay('Click or press a key to start');
  },

  // Times `frames` frames in stretches of 20; the fastest stretch is the least disturbed by
  // whatever else the machine does.
  bench: function(frames) {
    var start = performance.now(), fastest = Infinity;
    for (var i = 0; i < frames; i += 20) {
      var t = performance.now();
      for (var k = i; k < Math.min(frames, i + 20); ++k) MDPage.call('web_show_frame');
      fastest = Math.min(fastest, (performance.now() - t) / (Math.min(frames, i + 20) - i));
    }
    var ms = performance.now() - start;
    window.musicdisk.bench = {frames: frames, ms: ms, msPerFrame: ms / frames, fastestMsPerFrame: fastest};
  },
};

// What tests and measurements read and drive.
window.musicdisk = {
  state: function() { return MDPage.state; },
  exitCode: function() { return MDPage.exitCode; },
  ticks: function() { return MD.ticks(); },
  framesPresented: function() { return MD.framesPresented; },
  // performance.now() when the first frame reached the canvas; -1 before.
  firstFrameAt: function() { return MD.firstFrameAt; },
  // performance.now() when the compiled program was ready to start.
  readyAt: function() { return MDPage.readyAt; },
  // Virtual clock: draws frames until one was drawn at `ms` or later.
  runUntil: function(ms) {
    while (MDPage.state === 'test' && MD.lastFrameTick < ms) {
      if (MDPage.call('web_show_frame') !== 1) break;
    }
    return MD.lastFrameTick;
  },
  lastFrameTick: function() { return MD.lastFrameTick; },
  // The canvas's pixels as base64 of RGB bytes, row by row.
  pixels: function() {
    var c = document.getElementById('canvas');
    var d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    var s = '';
    for (var i = 0; i < d.length; i += 4) s += String.fromCharCode(d[i], d[i + 1], d[i + 2]);
    return btoa(s);
  },
  // Stereo frames the stream has written since the page began recording.
  soundFrames: function() {
    var n = 0;
    MD.audio.recorded.forEach(function(c) { n += c.length; });
    return n / 2;
  },
  // The first `frames` recorded stereo frames as base64 of 16-bit little-endian samples.
  sound: function(frames) {
    var all = new Int16Array(frames * 2);
    var at = 0;
    for (var k = 0; k < MD.audio.recorded.length && at < all.length; ++k) {
      var c = MD.audio.recorded[k].subarray(0, all.length - at);
      all.set(c, at);
      at += c.length;
    }
    var bytes = new Uint8Array(all.buffer, 0, at * 2);
    var s = '';
    for (var i = 0; i < bytes.length; i += 8192) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    return btoa(s);
  },
  bench: null,
};

Module['onRuntimeInitialized'] = MDPage.ready;
