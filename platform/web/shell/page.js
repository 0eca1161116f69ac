// The page's side of the program: the Module settings zephyra.js reads,
// the sound library fetched ahead of the start, the user-gesture hook.
/* global Module: true, FS */
var Module = {
  canvas: document.getElementById('canvas'),
  preRun: [],
  print: function (text) { console.log(text); },
  printErr: function (text) { console.warn(text); },
  onAbort: function (what) {
    document.getElementById('zephyra-loading').hidden = true;
    document.getElementById('zephyra-failed').hidden = false;
    document.body.dataset.failed = String(what);
  }
};

// The sound library is a side module beside the page. It is fetched before
// the program starts and put where the program opens it ("/bassmod.so",
// the name it asks for); without the file the demo runs silent.
Module.preRun.push(function () {
  Module.addRunDependency('bassmod');
  fetch('bassmod.wasm')
    .then(function (r) { return r.ok ? r.arrayBuffer() : null; })
    .then(function (bytes) { if (bytes) Module.FS.writeFile('/bassmod.so', new Uint8Array(bytes)); })
    .catch(function () {})
    .then(function () { Module.removeRunDependency('bassmod'); });
});

// The click (or key) that answers a box is the gesture the browser needs
// before it plays sound: the shared AudioContext is made and resumed there.
Module.zephyraUserGesture = function () {
  var Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return;
  if (!Module.zephyraAudioContext) Module.zephyraAudioContext = new Context();
  Module.zephyraAudioContext.resume();
};

// The question replaces the loading note as soon as it shows.
new MutationObserver(function () {
  if (!document.getElementById('zephyra-box').hidden) document.getElementById('zephyra-loading').hidden = true;
}).observe(document.getElementById('zephyra-box'), { attributes: true, attributeFilter: ['hidden'] });
