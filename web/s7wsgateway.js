/*
 * s7wsgateway.js - reads and writes variables of an S7-1200 controller through
 * the variable page tessora_s7.htm that the user loads into the controller's
 * user-defined web pages (see docs/s7-1200.md).
 *
 * The generator pastes this text into the page's main script element once per
 * S7-1200 gateway, so it is plain ES5 script: function declarations and var
 * statements only, each statement terminated, safe to appear twice.
 *
 * Answer of the variable page: one entry per line, NAME=VALUE, where NAME is
 * the variable as written in a link (MW0, MD200, I1.0, Q0.0...) and VALUE the
 * controller's text for it. Lines of any other form are ignored.
 *
 * Requests (GET, relative to the address of the gateway):
 *   read one     tessora_s7.htm?read=MW0&_=UNIQUE
 *   read a table tessora_s7.htm?first=MW0&count=10&_=UNIQUE
 *   write        tessora_s7.htm?MW0=42&_=UNIQUE
 * Every request answers the whole page, so every read sees every variable.
 * UNIQUE keeps browsers and proxies from answering from their cache.
 */

/* Name of the variable page and the folder a bare host address gets. */
var s7wspage = 'tessora_s7.htm';
var s7wsapplication = 'awp/tessora/';

/* Type of each variable as given by its last request (DEC or FLOATING_POINT). */
var s7wstypes = s7wstypes || {};
var s7wsserial = s7wsserial || 0;
var s7wslastdata = null;
var s7wslastentries = null;

function s7wstrim(text) {
    return String(text).replace(/^\s+|\s+$/g, '');
}

/* Canonical form of a variable name: no blanks, no leading '%', upper case. */
function s7wsname(variable) {
    return s7wstrim(variable === undefined || variable === null ? '' : variable).replace(/^%/, '').toUpperCase();
}

function s7wsisfloat(type) {
    return s7wstrim(type === undefined || type === null ? '' : type).toUpperCase() === 'FLOATING_POINT';
}

function s7wsremember(variable, type) {
    s7wstypes[s7wsname(variable)] = s7wsisfloat(type) ? 'FLOATING_POINT' : 'DEC';
}

/*
 * URL of the variable page for a gateway address:
 *   empty or undefined           the page beside the panel (panel loaded into the controller)
 *   ends with .htm or .html      that page (a query of its own is kept)
 *   a host, with or without      http://host/awp/tessora/tessora_s7.htm
 *   http:// and a final slash
 *   any other URL or path        that folder followed by tessora_s7.htm
 */
function s7wspageurl(address) {
    var a = s7wstrim(address === undefined || address === null ? '' : address);
    if (a === '') {
        return s7wspage;
    }
    if (/\.html?(\?.*)?$/i.test(a)) {
        return a;
    }
    if (!/^[a-z][a-z0-9+.\-]*:\/\//i.test(a) && a.charAt(0) !== '/' && a.charAt(0) !== '.') {
        a = 'http://' + a;
    }
    if (/^([a-z][a-z0-9+.\-]*:)?\/\/[^\/]+\/?$/i.test(a)) {
        return a.replace(/\/?$/, '/') + s7wsapplication + s7wspage;
    }
    if (a.charAt(a.length - 1) !== '/') {
        a += '/';
    }
    return a + s7wspage;
}

function s7wsunique() {
    s7wsserial += 1;
    return new Date().getTime().toString(36) + s7wsserial.toString(36);
}

function s7wsquery(address, parameters) {
    var url = s7wspageurl(address);
    return url + (url.indexOf('?') < 0 ? '?' : '&') + parameters + '&_=' + s7wsunique();
}

/* IEEE single precision: bits (unsigned 32-bit integer) to value and back. */
function s7wsbitstofloat(bits) {
    var view = new DataView(new ArrayBuffer(4));
    view.setUint32(0, bits >>> 0);
    var value = view.getFloat32(0);
    if (!isFinite(value)) {
        return value;
    }
    return Number(value.toPrecision(7));
}

function s7wsfloattobits(value) {
    var view = new DataView(new ArrayBuffer(4));
    view.setFloat32(0, value);
    return view.getUint32(0);
}

/*
 * Value of the controller's text for a variable. Numbers become numbers:
 * decimal, real, 16#... and 2#... (with or without B#, W#, DW#, underscores),
 * TRUE and FALSE (1 and 0). A quoted string loses its quotes. Anything else is
 * returned as it is. With FLOATING_POINT an integer is the 32 bits of a REAL.
 */
function s7wsdecode(text, type) {
    var t = s7wstrim(text);
    var match;
    var value = null;
    if (t.length >= 2 && t.charAt(0) === "'" && t.charAt(t.length - 1) === "'") {
        return t.substring(1, t.length - 1);
    }
    if (/^true$/i.test(t)) {
        return 1;
    }
    if (/^false$/i.test(t)) {
        return 0;
    }
    if (/^[+\-]?\d+$/.test(t)) {
        value = Number(t);
    } else if ((match = /^(?:(?:B|W|DW)#)?16#([0-9A-F_]+)$/i.exec(t)) !== null) {
        value = parseInt(match[1].replace(/_/g, ''), 16);
    } else if ((match = /^(?:(?:B|W|DW)#)?2#([01_]+)$/i.exec(t)) !== null) {
        value = parseInt(match[1].replace(/_/g, ''), 2);
    } else if (/^[+\-]?(\d+\.?\d*|\.\d+)(E[+\-]?\d+)?$/i.test(t)) {
        return Number(t);
    } else {
        return t;
    }
    if (s7wsisfloat(type)) {
        return s7wsbitstofloat(value);
    }
    return value;
}

/* Text sent for a value: FLOATING_POINT numbers are sent as the REAL's bits. */
function s7wsencode(value, type) {
    var t;
    var bits;
    if (value === true || value === false) {
        return value ? '1' : '0';
    }
    t = s7wstrim(value === undefined || value === null ? '' : value);
    if (s7wsisfloat(type) && /^[+\-]?(\d+\.?\d*|\.\d+)(E[+\-]?\d+)?$/i.test(t)) {
        bits = s7wsfloattobits(parseFloat(t));
        return String(bits);
    }
    return t;
}

/* Entries of an answer by canonical name; the first entry of a name counts. */
function s7wsentries(data) {
    var text;
    var lines;
    var entries = {};
    var match;
    var key;
    var i;
    if (data === s7wslastdata && s7wslastentries !== null) {
        return s7wslastentries;
    }
    if (data === undefined || data === null) {
        text = '';
    } else if (typeof data === 'object' && data.documentElement) {
        text = data.documentElement.textContent || '';
    } else {
        text = String(data);
    }
    lines = text.split(/\r\n|\r|\n/);
    for (i = 0; i < lines.length; i++) {
        match = /^\s*(%?[A-Za-z][A-Za-z0-9_]*(?:\.\d+)?)\s*=(.*)$/.exec(lines[i]);
        if (match !== null) {
            key = s7wsname(match[1]);
            if (!Object.prototype.hasOwnProperty.call(entries, key)) {
                entries[key] = match[2];
            }
        }
    }
    s7wslastdata = data;
    s7wslastentries = entries;
    return entries;
}

/* URL that reads one variable. */
function requests7ws(address, variable, type) {
    s7wsremember(variable, type);
    var name = encodeURIComponent(s7wsname(variable));
    return s7wsquery(address, 'read=' + name);
}

/* URL that writes value into variable. */
function requestwrite7ws(address, variable, value, type) {
    s7wsremember(variable, type);
    var name = encodeURIComponent(s7wsname(variable));
    var text = encodeURIComponent(s7wsencode(value, type));
    return s7wsquery(address, name + '=' + text);
}

/* URL that reads count variables from firstVariable on. */
function requestns7ws(address, firstVariable, count, type) {
    var n = parseInt(count, 10);
    var variable = firstVariable;
    var i;
    if (!(n > 0)) {
        n = 0;
    }
    for (i = 0; i < n; i++) {
        s7wsremember(variable, type);
        variable = nextvariables7ws(variable);
    }
    return s7wsquery(address, 'first=' + encodeURIComponent(s7wsname(firstVariable)) + '&count=' + n);
}

/* Value of variable in an answer, undefined when the answer has no entry for it. */
function gets7wsresult(data, variable) {
    var entries = s7wsentries(data);
    var key = s7wsname(variable);
    if (!Object.prototype.hasOwnProperty.call(entries, key)) {
        return undefined;
    }
    return s7wsdecode(entries[key], s7wstypes[key]);
}

/*
 * Variable that follows variable: bytes (MB, IB, QB) step by 1, words (MW, IW,
 * QW) by 2, double words (MD, ID, QD) by 4, bits (M10.7, I1.7, Q0.7) go to the
 * next bit and from .7 to .0 of the next byte. E and A are accepted for I and Q.
 * A name of any other form is returned unchanged.
 */
function nextvariables7ws(variable) {
    var text = s7wstrim(variable === undefined || variable === null ? '' : variable);
    var match = /^(%?[MIQEAmiqea])([BWDbwd]?)(\d+)(?:\.(\d+))?$/.exec(text);
    var address;
    var bit;
    var size;
    if (match === null) {
        return text;
    }
    address = parseInt(match[3], 10);
    if (match[4] !== undefined && match[4] !== '') {
        bit = parseInt(match[4], 10);
        if (match[2] !== '' || bit > 7) {
            return text;
        }
        if (bit === 7) {
            return match[1] + (address + 1) + '.0';
        }
        return match[1] + address + '.' + (bit + 1);
    }
    size = { B: 1, W: 2, D: 4 }[match[2].toUpperCase()];
    if (size === undefined) {
        return text;
    }
    return match[1] + match[2] + (address + size);
}
