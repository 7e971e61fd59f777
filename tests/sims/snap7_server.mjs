// Runs the snap7 library's S7 server (npm package node-snap7 in web/node_modules) on 127.0.0.1
// for the S7 tests, and lets the test reach the server's memory through the server's own
// interface. Usage: node snap7_server.mjs [port]  (no port: a free one is picked).
//
// Prints "port N" once listening (or "error TEXT" and exits 1), then answers one line per line
// read on stdin:
//   get AREA OFFSET COUNT      -> "ok HEX"    (AREA: PE, PA, MK or DBn)
//   set AREA OFFSET HEX        -> "ok"
//   stop | start               -> "ok"        (the listener and its clients go, or come back)
//   reads                      -> "ok N"      (the data reads the server has answered so far)
//   quit                       -> exits
// Anything else answers "error TEXT".
import { createRequire } from 'node:module';
import net from 'node:net';
import readline from 'node:readline';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const snap7 = require('node-snap7');

const kAreaSize = 1024;
const kLocalPort = 1;  // snap7's parameter number of the listening port (p_u16_LocalPort)
const server = new snap7.S7Server();
const areas = new Map();  // name -> {code, index}
let dataReads = 0;
server.on('event', (event) => {
    if (event.EvtCode === server.evcDataRead) ++dataReads;
});

function register(name, code, index) {
    const ok = index === undefined ? server.RegisterArea(code, Buffer.alloc(kAreaSize))
                                   : server.RegisterArea(code, index, Buffer.alloc(kAreaSize));
    if (!ok) throw new Error(`cannot register ${name}`);
    areas.set(name, { code, index });
}

// A port that is free now: the kernel picks it, the probe releases it, snap7 binds it.
function freePort() {
    return new Promise((resolve, reject) => {
        const probe = net.createServer();
        probe.once('error', reject);
        probe.listen(0, '127.0.0.1', () => {
            const { port } = probe.address();
            probe.close(() => resolve(port));
        });
    });
}

function start() {
    return server.StartTo('127.0.0.1') !== false;
}

function area(name) {
    const a = areas.get(name);
    if (!a) throw new Error(`unknown area ${name}`);
    return a;
}

function getArea(a) {
    return a.index === undefined ? server.GetArea(a.code) : server.GetArea(a.code, a.index);
}

function setArea(a, buffer) {
    if (a.index === undefined) server.SetArea(a.code, buffer);
    else server.SetArea(a.code, a.index, buffer);
}

function offsetAndCount(offset, count) {
    const o = Number.parseInt(offset, 10), n = Number.parseInt(count, 10);
    if (!(o >= 0 && n >= 0 && o + n <= kAreaSize)) throw new Error('range');
    return [o, n];
}

function handle(line) {
    const [verb, ...args] = line.trim().split(/\s+/);
    switch (verb) {
        case 'get': {
            const [o, n] = offsetAndCount(args[1], args[2]);
            return 'ok ' + getArea(area(args[0])).subarray(o, o + n).toString('hex');
        }
        case 'set': {
            const bytes = Buffer.from(args[2] ?? '', 'hex');
            const [o] = offsetAndCount(args[1], String(bytes.length));
            const a = area(args[0]);
            const buffer = Buffer.from(getArea(a));
            bytes.copy(buffer, o);
            setArea(a, buffer);
            return 'ok';
        }
        case 'stop': server.Stop(); return 'ok';
        case 'reads': return `ok ${dataReads}`;
        case 'start': return start() ? 'ok' : 'error start';
        case 'quit': server.Stop(); process.exit(0);
        default: throw new Error(`unknown command ${verb}`);
    }
}

try {
    register('PE', server.srvAreaPE);
    register('PA', server.srvAreaPA);
    register('MK', server.srvAreaMK);
    register('DB1', server.srvAreaDB, 1);
    register('DB2', server.srvAreaDB, 2);
    const port = process.argv[2] ? Number.parseInt(process.argv[2], 10) : await freePort();
    if (!server.SetParam(kLocalPort, port)) throw new Error('cannot set the port');
    if (!start()) throw new Error(`cannot listen on 127.0.0.1:${port}`);
    console.log(`port ${port}`);
} catch (e) {
    console.log(`error ${e.message}`);
    process.exit(1);
}

const input = readline.createInterface({ input: process.stdin });
input.on('line', (line) => {
    try {
        console.log(handle(line));
    } catch (e) {
        console.log(`error ${e.message}`);
    }
});
input.on('close', () => { server.Stop(); process.exit(0); });
