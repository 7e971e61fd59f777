'use strict';
// Unit tests of web/s7wsgateway.js and of its agreement with the variable page
// web/s7/tessora_s7.htm. Run with: node --test web/test/

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const WEB = path.join(__dirname, '..');
const SOURCE = fs.readFileSync(path.join(WEB, 's7wsgateway.js'), 'latin1');
const PAGE = fs.readFileSync(path.join(WEB, 's7', 'tessora_s7.htm'), 'latin1');

// The library as the generated page sees it: a classic script whose
// declarations become globals of the page.
function load(text = SOURCE) {
  const context = vm.createContext({});
  vm.runInContext(text, context, { filename: 's7wsgateway.js' });
  return context;
}

// Query parameters of a URL built by the library, in order.
function query(url) {
  const q = url.slice(url.indexOf('?') + 1);
  return q.split('&').map((pair) => {
    const eq = pair.indexOf('=');
    return [decodeURIComponent(pair.slice(0, eq)), decodeURIComponent(pair.slice(eq + 1))];
  });
}

function pageOf(url) {
  return url.slice(0, url.indexOf('?'));
}

test('the library text can be pasted into a generated page', () => {
  // The generator pastes the bytes into a script element and expands its own
  // markers in nearby text; the page may itself be loaded into a controller
  // whose web server substitutes read commands and comment commands.
  for (const forbidden of ['$$$', '{{{', '}}}', '(((', ')))', '</script', '<!--', ':=']) {
    assert.ok(!SOURCE.includes(forbidden), `contains ${JSON.stringify(forbidden)}`);
  }
  assert.match(SOURCE, /^[\x09\x0a\x0d\x20-\x7e]*$/, 'ASCII text only');
  assert.ok(SOURCE.endsWith('\n'));
  // Old mobile browsers: ES5 only, and no module syntax.
  for (const [what, pattern] of [
    ['let/const', /^\s*(let|const)\s/m],
    ['arrow function', /=>/],
    ['template literal', /`/],
    ['module syntax', /^\s*(import|export)\s/m],
  ]) {
    assert.doesNotMatch(SOURCE, pattern, what);
  }
});

test('the library defines the functions the generated scripts call', () => {
  const lib = load();
  for (const name of ['requests7ws', 'requestwrite7ws', 'requestns7ws', 'gets7wsresult', 'nextvariables7ws']) {
    assert.equal(typeof lib[name], 'function', name);
  }
});

test('two gateways paste the library twice into one script element', () => {
  const lib = load(SOURCE + SOURCE);
  assert.equal(lib.nextvariables7ws('MW0'), 'MW2');
});

test('the library ends its last statement, so generated text may follow or precede it', () => {
  // Generated text before the library may end without a separator, and text
  // after it may start with a parenthesis.
  const lib = load('function writetext1(){}' + SOURCE + '(function () { ranAfter = 1; })();');
  assert.equal(lib.ranAfter, 1);
});

test('nextvariables7ws steps by the size of the variable', () => {
  const cases = [
    ['MW0', 'MW2'], ['MW18', 'MW20'], ['MW254', 'MW256'],
    ['MD200', 'MD204'], ['MD236', 'MD240'],
    ['MB0', 'MB1'], ['MB9', 'MB10'],
    ['IW64', 'IW66'], ['QD8', 'QD12'], ['IB3', 'IB4'],
    ['I1.0', 'I1.1'], ['I1.7', 'I2.0'], ['Q0.7', 'Q1.0'], ['M10.6', 'M10.7'], ['M99.7', 'M100.0'],
    ['E0.7', 'E1.0'], ['AW4', 'AW6'],
    ['mw0', 'mw2'], ['%MW0', '%MW2'], ['%I0.7', '%I1.0'], [' MD4 ', 'MD8'],
    // Not a stepable address: unchanged.
    ['M10', 'M10'], ['I1.8', 'I1.8'], ['MW1.0', 'MW1.0'], ['DB1.DBW0', 'DB1.DBW0'], ['Tag_1', 'Tag_1'], ['', ''],
  ];
  const lib = load();
  for (const [variable, next] of cases) {
    assert.equal(lib.nextvariables7ws(variable), next, variable);
  }
});

test('requests7ws addresses the variable page of the gateway', () => {
  const cases = [
    [undefined, 'tessora_s7.htm'],
    ['', 'tessora_s7.htm'],
    ['  ', 'tessora_s7.htm'],
    ['http://127.0.0.1:8080', 'http://127.0.0.1:8080/awp/tessora/tessora_s7.htm'],
    ['http://127.0.0.1/', 'http://127.0.0.1/awp/tessora/tessora_s7.htm'],
    ['127.0.0.1', 'http://127.0.0.1/awp/tessora/tessora_s7.htm'],
    ['plc.local:8080', 'http://plc.local:8080/awp/tessora/tessora_s7.htm'],
    ['//plc.local', '//plc.local/awp/tessora/tessora_s7.htm'],
    ['https://plc.local/awp/line2', 'https://plc.local/awp/line2/tessora_s7.htm'],
    ['http://plc.local/awp/line2/', 'http://plc.local/awp/line2/tessora_s7.htm'],
    ['http://plc.local/awp/line2/vars.htm', 'http://plc.local/awp/line2/vars.htm'],
    ['/awp/line2', '/awp/line2/tessora_s7.htm'],
    ['./', './tessora_s7.htm'],
  ];
  const lib = load();
  for (const [address, page] of cases) {
    const url = lib.requests7ws(address, 'MW0', 'DEC');
    assert.equal(pageOf(url), page, String(address));
    const params = query(url);
    assert.deepEqual(params[0], ['read', 'MW0']);
    assert.equal(params[1][0], '_');
  }
});

test('a page address with a query of its own keeps it', () => {
  const lib = load();
  const url = lib.requestwrite7ws('http://plc.local/awp/x/vars.htm?line=2', 'MW0', '5', 'DEC');
  assert.ok(url.startsWith('http://plc.local/awp/x/vars.htm?line=2&MW0=5&_='), url);
});

test('every request URL is new, so no cache answers it', () => {
  const lib = load();
  const urls = new Set();
  for (let i = 0; i < 50; i++) {
    urls.add(lib.requests7ws('', 'MW0', 'DEC'));
    urls.add(lib.requestwrite7ws('', 'MW0', '1', 'DEC'));
    urls.add(lib.requestns7ws('', 'MW0', 2, 'DEC'));
  }
  assert.equal(urls.size, 150);
});

test('requestwrite7ws sends the value as the controller expects it', () => {
  const cases = [
    // variable, value, type, parameter sent
    ['MW0', '42', 'DEC', ['MW0', '42']],
    ['mw0', ' 42 ', 'DEC', ['MW0', '42']],
    ['%Q0.1', '1', 'DEC', ['Q0.1', '1']],
    ['M10.0', true, 'DEC', ['M10.0', '1']],
    ['M10.0', false, 'DEC', ['M10.0', '0']],
    ['MW2', 'a b&c=d', 'DEC', ['MW2', 'a b&c=d']],
    ['MW4', 7, 'DEC', ['MW4', '7']],
    // A REAL in a double word is written as its 32 bits.
    ['MD200', '12.5', 'FLOATING_POINT', ['MD200', String(0x41480000)]],
    ['MD200', '-1', 'FLOATING_POINT', ['MD200', String(0xbf800000)]],
    ['MD200', '0.1', 'FLOATING_POINT', ['MD200', String(0x3dcccccd)]],
    ['MD200', '1e3', 'floating_point', ['MD200', String(0x447a0000)]],
    ['MD200', 0, 'FLOATING_POINT', ['MD200', '0']],
    ['MD200', 'abc', 'FLOATING_POINT', ['MD200', 'abc']],
  ];
  const lib = load();
  for (const [variable, value, type, sent] of cases) {
    const url = lib.requestwrite7ws('http://127.0.0.1', variable, value, type);
    assert.equal(pageOf(url), 'http://127.0.0.1/awp/tessora/tessora_s7.htm');
    const params = query(url);
    assert.deepEqual(params[0], sent, `${variable} ${value} ${type}`);
    assert.equal(params.length, 2);
  }
});

test('requestns7ws asks for a table of variables', () => {
  const lib = load();
  const params = query(lib.requestns7ws('', 'md200', '10', 'DEC'));
  assert.deepEqual(params.slice(0, 2), [['first', 'MD200'], ['count', '10']]);
  assert.deepEqual(query(lib.requestns7ws('', 'MW0', 'x', 'DEC'))[1], ['count', '0']);
});

test('gets7wsresult reads the value of a variable from an answer', () => {
  const cases = [
    // answer line, variable asked, type, value
    ['MW0=42', 'MW0', 'DEC', 42],
    ['MW0=-7', 'MW0', 'DEC', -7],
    ['MW0= 42 ', 'mw0', 'DEC', 42],
    ['MW0=16#002A', 'MW0', 'DEC', 42],
    ['MW0=W#16#00_2A', 'MW0', 'DEC', 42],
    ['MB1=B#16#FF', 'MB1', 'DEC', 255],
    ['MB1=2#0000_0101', 'MB1', 'DEC', 5],
    ['I1.0=TRUE', 'I1.0', 'DEC', 1],
    ['I1.0=false', '%I1.0', 'DEC', 0],
    ['I1.0=1', 'I1.0', 'DEC', 1],
    ['MD4=1.5', 'MD4', 'DEC', 1.5],
    ['MD4=-2.5E+01', 'MD4', 'DEC', -25],
    ["MW8='Line 2'", 'MW8', 'DEC', 'Line 2'],
    ['MW8=ready', 'MW8', 'DEC', 'ready'],
    ['MW8=', 'MW8', 'DEC', ''],
    // FLOATING_POINT: the double word holds the bits of a REAL.
    ['MD200=1095237632', 'MD200', 'FLOATING_POINT', 12.5],
    ['MD200=-1082130432', 'MD200', 'FLOATING_POINT', -1],
    ['MD200=3212836864', 'MD200', 'FLOATING_POINT', -1],
    ['MD200=16#3DCC_CCCD', 'MD200', 'FLOATING_POINT', 0.1],
    ['MD200=DW#16#7FC00000', 'MD200', 'FLOATING_POINT', NaN],
    ['MD200=0', 'MD200', 'FLOATING_POINT', 0],
    ['MD200=2.75', 'MD200', 'FLOATING_POINT', 2.75],
    ['MD200=1095237632', 'MD200', 'DEC', 1095237632],
  ];
  const lib = load();
  for (const [line, variable, type, value] of cases) {
    lib.requests7ws('', variable, type);
    const answer = `TESSORA-S7 1\r\nMB0=3\r\n${line}\r\nMW100=9\r\n`;
    const got = lib.gets7wsresult(answer, variable);
    assert.ok(Object.is(got, value) || got === value, `${line} as ${type}: ${got}`);
  }
});

test('gets7wsresult finds nothing where the answer has no entry', () => {
  const lib = load();
  const answers = [
    'MW2=5\nMW20=6\nXMW0=7\n',
    '<html><body>Login required</body></html>',
    '',
    undefined,
    null,
  ];
  for (const answer of answers) {
    assert.equal(lib.gets7wsresult(answer, 'MW0'), undefined, String(answer));
  }
});

test('the first entry of a variable counts, whatever the line ends', () => {
  const lib = load();
  lib.requests7ws('', 'MW0', 'DEC');
  for (const eol of ['\n', '\r\n', '\r']) {
    const answer = ['MW0=1', 'MW0=2', 'MW2=3'].join(eol);
    assert.equal(lib.gets7wsresult(answer, 'MW0'), 1);
    assert.equal(lib.gets7wsresult(answer, 'MW2'), 3);
  }
});

test('the type of a variable follows its latest request', () => {
  const lib = load();
  const answer = 'MD200=1095237632\nMD204=1095237632\nMD208=1095237632\nMD212=1095237632\n';
  lib.requests7ws('', 'MD200', 'FLOATING_POINT');
  assert.equal(lib.gets7wsresult(answer, 'MD200'), 12.5);
  lib.requests7ws('', 'MD200', 'DEC');
  assert.equal(lib.gets7wsresult(answer, 'MD200'), 1095237632);
  // A table request sets the type of each variable of the table.
  lib.requestns7ws('', 'MD200', 3, 'FLOATING_POINT');
  assert.deepEqual(
    ['MD200', 'MD204', 'MD208', 'MD212'].map((v) => lib.gets7wsresult(answer, v)),
    [12.5, 12.5, 12.5, 1095237632]);
  // A write sets it too.
  lib.requestwrite7ws('', 'MD212', '1', 'FLOATING_POINT');
  assert.equal(lib.gets7wsresult(answer, 'MD212'), 12.5);
});

// The variable page as a controller answers it: each read command replaced
// by the value of its variable.
function answerPage(values) {
  return PAGE.replace(/:=([^:\r\n]+):/g, (_, variable) => String(values(variable)));
}

function pageEntries() {
  const entries = [];
  for (const line of PAGE.split(/\r\n|\n/)) {
    const m = /^([^=<\s]+)=(.*)$/.exec(line);
    if (m) entries.push({ name: m[1], command: m[2] });
  }
  return entries;
}

function pageWritable() {
  const names = [];
  for (const m of PAGE.matchAll(/<!--\s*AWP_In_Variable\s+Name='([^']+)'\s*-->/g)) names.push(m[1]);
  return names;
}

test('each entry of the variable page reads the variable it is named after', () => {
  const entries = pageEntries();
  assert.ok(entries.length > 0);
  for (const { name, command } of entries) {
    assert.equal(command, `:=${name}:`, name);
  }
  assert.equal(new Set(entries.map((e) => e.name)).size, entries.length, 'no name twice');
});

test('the variable page answers every variable it lists, and the library reads them', () => {
  const lib = load();
  const entries = pageEntries();
  const value = new Map(entries.map((e, i) => [e.name, i * 3 + 1]));
  const answer = answerPage((variable) => value.get(variable));
  for (const { name } of entries) {
    lib.requests7ws('', name, 'DEC');
    assert.equal(lib.gets7wsresult(answer, name), value.get(name), name);
  }
});

test('the variable page declares as writable every listed variable except inputs', () => {
  const writable = pageWritable();
  assert.equal(new Set(writable).size, writable.length, 'no declaration twice');
  const listed = new Set(pageEntries().map((e) => e.name));
  for (const name of writable) {
    assert.ok(listed.has(name), `${name} is declared writable but not read`);
  }
  for (const name of listed) {
    assert.equal(writable.includes(name), !/^[IE]/.test(name), name);
  }
});

test('the variable page lists whole tables in the order nextvariables7ws walks them', () => {
  // A plot's variables table reads count variables from its first one; every
  // group of the page must be a chain the library can walk.
  const lib = load();
  const names = pageEntries().map((e) => e.name);
  const groups = [];
  for (const name of names) {
    const last = groups.length ? groups[groups.length - 1] : null;
    if (last && lib.nextvariables7ws(last[last.length - 1]) === name) last.push(name);
    else groups.push([name]);
  }
  const firsts = groups.map((g) => `${g[0]}x${g.length}`);
  assert.deepEqual(firsts, ['MW0x10', 'MD200x10', 'MB100x10', 'M10.0x8', 'I0.0x16', 'Q0.0x16']);
});
