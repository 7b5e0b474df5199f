// The page's side of the web backend (see web_backend.h): the canvas, the keys, the
// browser's fullscreen, the clock, links, the message box and Web Audio. The page script
// (page.js) decides when the show starts and ends; this part only serves the show.
mergeInto(LibraryManager.library, {
  $MD: {
    canvas: null,
    ctx: null,
    image: null,   // the canvas's ImageData over the program's memory at `imageAt`
    imageAt: 0,
    // Set by the page: whether keys go to the show, and what a key or click does otherwise.
    keysToShow: false,
    onGesture: null,
    wantFullscreen: false,
    // Milliseconds: `base` plus, while running, the real time since `since`. The virtual
    // clock moves on by one frame (20 ms, 50 frames per second) with each presented frame.
    clock: {virtual: false, running: false, base: 0, since: 0},
    framesPresented: 0,
    lastFrameTick: 0,
    firstFrameAt: -1,
    audio: {ctx: null, ready: false, node: null, ring: 0, bytes: 0, playing: false, played: 0,
            record: false, recorded: []},

    // The show's keys: the page must not scroll or act on them.
    ownKeys: {13: 1, 27: 1, 32: 1, 37: 1, 38: 1, 39: 1, 40: 1, 18: 1},

    listen: function() {
      if (MD.listening) return;
      MD.listening = true;
      function key(e, down) {
        if (!MD.keysToShow) {
          if (down && !e.repeat && MD.onGesture && !e.ctrlKey && !e.metaKey) {
            e.preventDefault();
            MD.onGesture();
          }
          return;
        }
        var vk = e.keyCode | 0;
        if (MD.ownKeys[vk]) e.preventDefault();
        if (vk <= 0 || vk > 255) return;
        _web_post_key(vk, down ? 1 : 0, e.repeat ? 1 : 0, (e.altKey || vk === 18) ? 1 : 0);
      }
      window.addEventListener('keydown', function(e) { key(e, true); });
      window.addEventListener('keyup', function(e) { key(e, false); });
      window.addEventListener('blur', function() { if (MD.keysToShow) _web_post_focus(0); });
      window.addEventListener('focus', function() { if (MD.keysToShow) _web_post_focus(1); });
      window.addEventListener('resize', MD.fit);
      document.addEventListener('fullscreenchange', function() {
        MD.fit();
        if (!document.fullscreenElement && MD.wantFullscreen) MD.fullscreenLost();
      });
      document.addEventListener('fullscreenerror', function() { MD.fullscreenLost(); });
      MD.screen().addEventListener('click', function() { if (!MD.keysToShow && MD.onGesture) MD.onGesture(); });
    },

    screen: function() { return document.getElementById('screen') || MD.canvas; },

    fullscreenLost: function() {
      if (!MD.wantFullscreen) return;
      MD.wantFullscreen = false;
      _web_post_display_toggle();
    },

    // The canvas at the largest whole number of device pixels per frame pixel that fits:
    // the whole screen in fullscreen, the page (with room for the text below) otherwise.
    fit: function() {
      var c = MD.canvas;
      if (!c) return;
      var ratio = window.devicePixelRatio || 1;
      var full = !!document.fullscreenElement;
      var w = window.innerWidth - (full ? 0 : 32);
      var h = window.innerHeight - (full ? 0 : 140);
      var scale = Math.max(1, Math.floor(Math.min(w * ratio / c.width, h * ratio / c.height)));
      c.style.width = (c.width * scale / ratio) + 'px';
      c.style.height = (c.height * scale / ratio) + 'px';
    },

    showMessage: function(caption, text) {
      var box = document.getElementById('message');
      if (!box) { alert(caption + ': ' + text); return; }
      box.querySelector('.caption').textContent = caption;
      box.querySelector('.text').textContent = text;
      box.hidden = false;
      box.querySelector('button').onclick = function() { box.hidden = true; };
    },

    ticks: function() {
      var c = MD.clock;
      var t = c.base;
      if (!c.virtual && c.running) t += Math.floor(performance.now() - c.since);
      return t >>> 0;
    },
    runClock: function(on) {
      var c = MD.clock;
      if (c.virtual || on === c.running) return;
      if (on) { c.since = performance.now(); } else { c.base = MD.ticks(); }
      c.running = on;
    },
    resetClock: function() {
      MD.clock.base = 0;
      MD.clock.running = false;
      MD.lastFrameTick = 0;
    },

    // The audio worklet: a copy of the loop, played from its start, and a report of how many
    // frames have been played, every 512 frames (about 12 ms).
    workletSource: [
      "class MdStream extends AudioWorkletProcessor {",
      "  constructor(options) {",
      "    super();",
      "    this.frames = options.processorOptions.frames;",
      "    this.left = new Float32Array(this.frames);",
      "    this.right = new Float32Array(this.frames);",
      "    this.position = 0;",
      "    this.played = 0;",
      "    this.port.onmessage = (e) => {",
      "      const s = e.data.samples;",
      "      let f = e.data.frame;",
      "      for (let i = 0; i + 1 < s.length; i += 2) {",
      "        this.left[f] = s[i] / 32768;",
      "        this.right[f] = s[i + 1] / 32768;",
      "        f = f + 1 === this.frames ? 0 : f + 1;",
      "      }",
      "    };",
      "  }",
      "  process(inputs, outputs) {",
      "    const out = outputs[0];",
      "    const n = out[0].length;",
      "    for (let i = 0; i < n; ++i) {",
      "      out[0][i] = this.left[this.position];",
      "      if (out.length > 1) out[1][i] = this.right[this.position];",
      "      this.position = this.position + 1 === this.frames ? 0 : this.position + 1;",
      "    }",
      "    const before = this.played;",
      "    this.played += n;",
      "    if (Math.floor(before / 512) !== Math.floor(this.played / 512)) this.port.postMessage(this.played);",
      "    return true;",
      "  }",
      "}",
      "registerProcessor('md-stream', MdStream);"
    ].join('\n'),

    // Called on the user's gesture: browsers let sound start only then.
    audioStart: function() {
      var a = MD.audio;
      if (a.ctx) { a.ctx.resume(); return; }
      var Context = window.AudioContext || window.webkitAudioContext;
      if (!Context) return;
      try { a.ctx = new Context({sampleRate: 44100}); } catch (e) { return; }
      // Pages served without a secure context have no worklets: the show runs silent.
      if (!a.ctx.audioWorklet) return;
      var url = URL.createObjectURL(new Blob([MD.workletSource], {type: 'application/javascript'}));
      a.ctx.audioWorklet.addModule(url).then(function() {
        a.ready = true;
        MD.audioConnect();
      }, function(e) { console.warn('musicdisk: no sound: ' + e); });
      a.ctx.resume();
    },
    audioConnect: function() {
      var a = MD.audio;
      if (!a.ready || !a.playing || a.node) return;
      var node = new AudioWorkletNode(a.ctx, 'md-stream',
          {numberOfInputs: 0, outputChannelCount: [2], processorOptions: {frames: a.bytes / 4}});
      node.port.onmessage = function(e) { if (a.node === node) a.played = e.data; };
      node.port.postMessage({frame: 0, samples: HEAP16.slice(a.ring >> 1, (a.ring + a.bytes) >> 1)});
      node.connect(a.ctx.destination);
      a.node = node;
    },
  },

  md_canvas_open__deps: ['$MD'],
  md_canvas_open: function(width, height) {
    var canvas = document.getElementById('canvas');
    if (!canvas || !canvas.getContext) return 0;
    canvas.width = width;
    canvas.height = height;
    var ctx = canvas.getContext('2d', {alpha: false});
    if (!ctx) return 0;
    MD.canvas = canvas;
    MD.ctx = ctx;
    MD.image = null;
    MD.listen();
    MD.fit();
    return 1;
  },

  md_canvas_draw__deps: ['$MD'],
  // The image's bytes are the program's memory itself, not a copy: the image is made again
  // only when the pixels moved or the memory grew (which replaces its buffer).
  md_canvas_draw: function(rgba, width, height) {
    var image = MD.image;
    if (!image || image.width !== width || image.height !== height || MD.imageAt !== rgba ||
        image.data.buffer !== HEAPU8.buffer) {
      image = MD.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4), width, height);
      MD.imageAt = rgba;
    }
    MD.ctx.putImageData(image, 0, 0);
  },

  md_fullscreen__deps: ['$MD'],
  md_fullscreen: function(on) {
    if (on) {
      MD.wantFullscreen = true;
      var el = MD.screen();
      var p = el.requestFullscreen ? el.requestFullscreen() : null;
      if (!p) { MD.fullscreenLost(); return; }
      p.catch(function() { MD.fullscreenLost(); });
    } else {
      MD.wantFullscreen = false;
      if (document.fullscreenElement) document.exitFullscreen().catch(function() {});
    }
  },

  md_cursor__deps: ['$MD'],
  md_cursor: function(visible) {
    if (MD.canvas) MD.canvas.style.cursor = visible ? '' : 'none';
  },

  md_message_box__deps: ['$MD'],
  md_message_box: function(text, caption) { MD.showMessage(UTF8ToString(caption), UTF8ToString(text)); },

  md_open_address: function(address) { window.open(UTF8ToString(address), '_blank', 'noopener'); },

  md_exit__deps: ['$MD'],
  md_exit: function(code) {
    MD.wantFullscreen = false;
    if (document.fullscreenElement) document.exitFullscreen().catch(function() {});
    throw {musicdiskExit: code};
  },

  md_clock_ticks__deps: ['$MD'],
  md_clock_ticks: function() { return MD.ticks(); },

  md_frame_presented__deps: ['$MD'],
  md_frame_presented: function() {
    MD.lastFrameTick = MD.ticks();
    if (MD.clock.virtual) MD.clock.base += 20;
    MD.framesPresented++;
    if (MD.firstFrameAt < 0) MD.firstFrameAt = performance.now();
  },

  md_sound_available: function() { return (window.AudioContext || window.webkitAudioContext) ? 1 : 0; },

  md_sound_play__deps: ['$MD'],
  md_sound_play: function(ring, bytes) {
    var a = MD.audio;
    a.ring = ring;
    a.bytes = bytes;
    a.played = 0;
    a.playing = true;
    MD.audioConnect();
  },

  md_sound_written__deps: ['$MD'],
  md_sound_written: function(ring, offset, bytes) {
    var a = MD.audio;
    var samples = HEAP16.slice((ring + offset) >> 1, (ring + offset + bytes) >> 1);
    if (a.node) a.node.port.postMessage({frame: offset / 4, samples: samples});
    if (a.record) a.recorded.push(samples);
  },

  md_sound_cursor__deps: ['$MD'],
  md_sound_cursor: function() {
    var a = MD.audio;
    return a.bytes ? (a.played % (a.bytes / 4)) * 4 : 0;
  },

  md_sound_stop__deps: ['$MD'],
  md_sound_stop: function() {
    var a = MD.audio;
    if (a.node) {
      a.node.port.onmessage = null;
      a.node.disconnect();
      a.node = null;
    }
    a.playing = false;
    a.played = 0;
  },
});
