// A static file server for the page on 127.0.0.1, for the browser tests.
// startServer(root, {hide: ['bassmod.wasm']}) serves root's files (a hidden
// name answers 404, as on a host without that file) and resolves to
// {url, close}.
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm', '.png': 'image/png',
};

function startServer(root, options = {}) {
  const hidden = new Set(options.hide || []);
  const base = path.resolve(root);
  const server = http.createServer((req, res) => {
    let name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (name.endsWith('/')) name += 'index.html';
    const file = path.resolve(base, '.' + name);
    // Nothing outside the root, and nothing hidden.
    if (!file.startsWith(base + path.sep) || hidden.has(path.basename(file))) {
      res.writeHead(404); res.end(); return;
    }
    fs.readFile(file, (err, data) => {
      if (err) { res.writeHead(404); res.end(); return; }
      res.writeHead(200, {'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
                          'Cache-Control': 'no-store'});
      res.end(data);
    });
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      resolve({url: `http://127.0.0.1:${port}/`, close: () => new Promise((r) => server.close(r))});
    });
  });
}

module.exports = {startServer};
