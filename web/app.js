// The page: it gathers the input into files and a command line, runs the
// command-line tool (tolbe.js, WebAssembly) on them in this browser, and
// shows what the tool wrote. Every number comes from the tool; this script
// computes none.
'use strict';

const $ = (id) => document.getElementById(id);

// ---- Running the tool ------------------------------------------------------

let tool = null;

// Runs the tool on `args` with `files` ({name: text}) in its working folder.
// Returns {status, stdout, stderr}.
function runTool(args, files) {
  const FS = tool.FS;
  for (const name of FS.readdir('/run')) {
    if (name !== '.' && name !== '..') FS.unlink('/run/' + name);
  }
  for (const [name, text] of Object.entries(files)) FS.writeFile('/run/' + name, text);
  FS.chdir('/run');
  const status = tool.callMain(args);
  return {
    status,
    stdout: FS.readFile('/run/stdout', {encoding: 'utf8'}),
    stderr: FS.readFile('/run/stderr', {encoding: 'utf8'}),
  };
}

// ---- Reading the form --------------------------------------------------------

const kind = () => document.querySelector('input[name="kind"]:checked').value;
const poolKind = () => document.querySelector('input[name="pool-kind"]:checked').value;
const value = (id) => $(id).value.trim();

class InputError extends Error {
  constructor(field, message) {
    super(message);
    this.field = field;
  }
}

// The command line (without --format), the files of the form, and the
// options typed into its fields (each {option, arg}).
function commandOf() {
  const args = [];
  const files = {};
  const typed = [];
  const add = (option, id) => {
    if (value(id) === '') return;
    const arg = `--${option}=${value(id)}`;
    args.push(arg);
    typed.push({option, arg});
  };
  const interval = value('interval');
  const k = kind();
  if (k === 'problem') {
    if (value('problem') === '') throw new InputError('problem', 'the problem is empty');
    files['problem.txt'] = $('problem').value;
    add('select', 'select');
  } else if (k === 'matrices') {
    // The tool reads both matrices as named CSV, as it reads --unrestricted
    // beside raw scores: names, row names and numbers are its to check.
    for (const id of ['restricted', 'unrestricted']) {
      if (value(id) === '') throw new InputError(id, `the ${id} matrix is empty`);
    }
    files['restricted.csv'] = $('restricted').value;
    files['unrestricted.csv'] = $('unrestricted').value;
    args.push('--restricted=restricted.csv', '--unrestricted=unrestricted.csv');
    add('select', 'select');
    add('reliabilities', 'reliabilities');
    add('reliabilities-from', 'reliabilities-from');
  } else {
    if (value('data') === '') throw new InputError('data', 'the scores are empty');
    if (value('pool') === '') throw new InputError('pool', 'the pool is empty');
    files['data.csv'] = $('data').value;
    args.push('--data=data.csv');
    if (poolKind() === 'pool') {
      files['pool.csv'] = $('pool').value;
      args.push('--pool=pool.csv');
    } else {
      files['unrestricted.csv'] = $('pool').value;
      args.push('--unrestricted=unrestricted.csv');
    }
    add('select', 'select');
    add('reliabilities', 'reliabilities');
    add('reliabilities-from', 'reliabilities-from');
  }
  if (interval !== '') {
    args.push(`--interval=${interval}`);
    typed.push({option: 'interval', arg: `--interval=${interval}`});
  }
  if (k !== 'raw') {
    add('n', 'n');
    add('n-unrestricted', 'n-unrestricted');
  }
  add('level', 'level');
  if (interval === 'bootstrap') {
    add('resamples', 'resamples');
    add('seed', 'seed');
    add('ci-type', 'ci-type');
    // One thread: the page's program has no others (the numbers do not
    // depend on it).
    args.push('--threads=1');
  }
  add('criterion', 'criterion');
  add('predictors', 'predictors');
  add('base', 'base');
  if (k === 'problem') args.push('problem.txt');
  return {args, files, typed};
}

// ---- Showing errors next to their input ----------------------------------------

const errorFields = ['problem', 'restricted', 'unrestricted', 'data', 'pool', 'select',
  'reliabilities', 'interval', 'n', 'n-unrestricted', 'level', 'resamples', 'seed', 'criterion',
  'predictors', 'base'];

function clearErrors() {
  for (const id of errorFields) {
    const box = $(id + '-error');
    box.textContent = '';
    delete box.dataset.line;
    delete box.dataset.column;
    $(id).removeAttribute('aria-invalid');
    const notes = $(id + '-findings');
    if (notes) notes.remove();
  }
  $('form-error').textContent = '';
}

function showError(field, message) {
  const box = $(field ? field + '-error' : 'form-error');
  box.textContent = box.textContent ? box.textContent + '\n' + message : message;
  if (field) {
    $(field).setAttribute('aria-invalid', 'true');
  }
}

// The field of a file the page gave the tool. The unrestricted matrix is
// the pool's field with raw scores and part of the problem text with a
// problem.
function fieldOfFile(file) {
  if (typeof file !== 'string') return null;
  const k = kind();
  const base = file.slice(file.lastIndexOf('/') + 1);
  return {'problem.txt': 'problem', 'restricted.csv': 'restricted', 'data.csv': 'data',
    'pool.csv': 'pool', 'unrestricted.csv': k === 'matrices' ? 'unrestricted' : 'pool'}[base] ||
    null;
}

// The field of an option of the tool, named as a refusal names it: the
// option without its dashes. Options without a field of their own go to the
// field that sets them.
function fieldOfArgument(argument) {
  if (typeof argument !== 'string') return null;
  const k = kind();
  const matrix = (field) => (k === 'problem' ? 'problem' : field);
  return {
    'select': 'select', 'reliabilities': 'reliabilities', 'reliabilities-from': 'reliabilities',
    'interval': 'interval', 'ci-type': 'interval', 'n': 'n', 'n-unrestricted': 'n-unrestricted',
    'level': 'level', 'resamples': 'resamples', 'seed': 'seed', 'criterion': 'criterion',
    'predictors': 'predictors', 'base': 'base', 'data': 'data', 'pool': 'pool',
    'restricted': matrix('restricted'),
    'unrestricted': matrix(k === 'matrices' ? 'unrestricted' : 'pool'),
  }[argument] || null;
}

// Where a refusal of the tool belongs: a place in a file is that file's
// text area (at the line and column); otherwise the option it is about, or
// the file it is about, or else the file of the problem that failed.
function placeOfRefusal(refusal, problemFile) {
  const r = refusal || {};
  const atFile = fieldOfFile(r.file);
  if (atFile && Number.isInteger(r.line)) {
    return {field: atFile, line: r.line, column: Number.isInteger(r.column) ? r.column : null};
  }
  return {field: fieldOfArgument(r.argument) || atFile || fieldOfFile(problemFile),
    line: null, column: null};
}

// The offset in `text` of a line and column (from 1; the first column
// without one), clamped to the line. The tool counts a column in bytes of
// the UTF-8 it reads, which a letter such as é takes two of.
function offsetOf(text, line, column) {
  let at = 0;
  for (let l = 1; l < line; ++l) {
    const next = text.indexOf('\n', at);
    if (next < 0) return text.length;
    at = next + 1;
  }
  const end = text.indexOf('\n', at);
  const lineText = text.slice(at, end < 0 ? text.length : end);
  const encoder = new TextEncoder();
  let bytes = 0;
  let chars = 0;
  for (const letter of lineText) {
    if (bytes >= (column || 1) - 1) break;
    bytes += encoder.encode(letter).length;
    chars += letter.length;
  }
  return at + chars;
}

// A command line the tool refused before reading any problem comes without
// a JSON document. Its option is the one the tool refuses alone, beside
// --version (which reads every option, then only says the version); the
// message is the tool's first line on it. Null when no option is refused
// alone.
function refusedOption(typed) {
  for (const {option, arg} of typed) {
    const alone = runTool([arg, '--version'], {});
    if (alone.status !== 0) {
      return {place: {field: fieldOfArgument(option), line: null, column: null},
        message: alone.stderr.split('\n')[0]};
    }
  }
  return null;
}

// Focuses the field of a place, with the caret on the refused text.
function focusPlace(place) {
  const input = $(place.field);
  input.focus();
  if (place.line !== null && input.tagName === 'TEXTAREA') {
    const at = offsetOf(input.value, place.line, place.column);
    input.setSelectionRange(at, Math.min(at + 1, input.value.length));
  }
}

// The field a finding is about, by its code: findings on the scores, the
// pool, either matrix or the reliabilities are said again below that input.
// Findings on the results (sign changes, correlations out of range) stay in
// the list alone.
function fieldOfFinding(code) {
  const k = kind();
  if (typeof code !== 'string') return null;
  if (code === 'reliabilities_taken_as_1' || code === 'reliability_out_of_range') {
    return k === 'problem' ? 'problem' : 'reliabilities';
  }
  if (code === 'extra_numbers') return k === 'problem' ? 'problem' : null;
  if (code.startsWith('pool_') || code === 'selection_variance_grew') {
    return k === 'raw' ? 'pool' : null;
  }
  // A sample too small is the scores' rows, or the n given beside matrices.
  if (code === 'too_few_rows' || code === 'small_sample') return k === 'raw' ? 'data' : 'n';
  if (['suspect_code', 'outlying_value', 'unread_not_finite', 'heavy_tails'].includes(code)) {
    return k === 'raw' ? 'data' : null;
  }
  if (code.startsWith('restricted_')) {
    return {problem: 'problem', matrices: 'restricted', raw: 'data'}[k];
  }
  if (code.startsWith('unrestricted_')) {
    return {problem: 'problem', matrices: 'unrestricted', raw: 'pool'}[k];
  }
  return null;
}

function showFieldFinding(field, finding) {
  let list = $(field + '-findings');
  if (!list) {
    list = element('ul', {'id': field + '-findings', 'class': 'field-findings'});
    $(field + '-error').after(list);
  }
  list.append(element('li', {'class': finding.severity, 'data-code': finding.code || ''},
    `${finding.severity}: ${finding.message}`));
}

// ---- Showing results -----------------------------------------------------------------

// Rounded for reading: four decimals, or four significant digits where
// those would hide the number.
// A value the tool could not compute comes as null (NaN in its CSV).
const shown = (x) => (x === null || x === undefined ? 'NaN' :
  !Number.isFinite(x) ? String(x) :
    Math.abs(x) >= 1e5 || (x !== 0 && Math.abs(x) < 1e-3) ? x.toExponential(3) : x.toFixed(4));

function element(tag, attributes = {}, text = '') {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  if (text !== '') e.textContent = text;
  return e;
}

// A cell shows the number rounded; its data-value holds the tool's number
// in full (the shortest text that reads back the same double).
function numberCell(x) {
  const td = element('td', {'class': 'number'}, shown(x));
  if (x !== null && x !== undefined) {
    td.dataset.value = String(x);
    td.title = String(x);
  }
  return td;
}

function matrixTable(id, caption, names, matrix, se, lower, upper) {
  const table = element('table', {'id': id, 'class': 'matrix'});
  table.append(element('caption', {}, caption));
  const head = element('tr');
  head.append(element('th', {'scope': 'col'}, 'Variable'));
  for (const name of names) head.append(element('th', {'scope': 'col'}, name));
  const thead = element('thead');
  thead.append(head);
  table.append(thead);
  const body = element('tbody');
  matrix.forEach((row, i) => {
    const tr = element('tr');
    tr.append(element('th', {'scope': 'row'}, names[i]));
    row.forEach((x, j) => {
      const td = numberCell(x);
      if (se) {
        td.append(element('span', {'class': 'interval'},
          `[${shown(lower[i][j])}, ${shown(upper[i][j])}]`));
        td.dataset.se = String(se[i][j]);
        td.dataset.lower = String(lower[i][j]);
        td.dataset.upper = String(upper[i][j]);
      }
      tr.append(td);
    });
    body.append(tr);
  });
  table.append(body);
  const wrap = element('div', {'class': 'scroll', 'tabindex': '0', 'role': 'region',
    'aria-label': caption});
  wrap.append(table);
  return wrap;
}

function regressionTable(doc, names) {
  const r = doc.regression;
  const box = element('div');
  box.append(element('h3', {}, `Regression of ${names[r.criterion - 1]} in the unrestricted population`));
  const table = element('table', {'id': 'regression', 'class': 'matrix'});
  table.append(element('caption', {}, 'Weights and validities (estimate, then interval)'));
  const head = element('tr');
  for (const h of ['Predictor', 'b', 'beta', 'Validity', 'Operational validity']) {
    head.append(element('th', {'scope': 'col'}, h));
  }
  const thead = element('thead');
  thead.append(head);
  table.append(thead);
  const body = element('tbody');
  const cell = (block, i) => {
    const td = numberCell(block.estimate[i]);
    if (block.lower) {
      td.append(element('span', {'class': 'interval'},
        `[${shown(block.lower[i])}, ${shown(block.upper[i])}]`));
    }
    return td;
  };
  r.predictors.forEach((k, i) => {
    const tr = element('tr');
    tr.append(element('th', {'scope': 'row'}, names[k - 1]));
    for (const block of [r.b, r.beta, r.validity, r.operational_validity]) tr.append(cell(block, i));
    body.append(tr);
  });
  table.append(body);
  const wrap = element('div', {'class': 'scroll'});
  wrap.append(table);
  box.append(wrap);
  const list = element('dl', {'id': 'fit'});
  const labels = {r2: 'R²', r: 'R', operational_r: 'Operational R', base_r2: 'Base R²',
    delta_r2: 'ΔR²', delta_r: 'ΔR'};
  for (const [key, label] of Object.entries(labels)) {
    const v = r[key];
    if (!v || typeof v !== 'object') continue;
    list.append(element('dt', {}, label));
    const dd = element('dd', {'data-value': String(v.estimate)}, shown(v.estimate));
    if (v.lower !== undefined) dd.append(` [${shown(v.lower)}, ${shown(v.upper)}]`);
    list.append(dd);
  }
  box.append(list);
  return box;
}

// Dots and whiskers: the corrected (and, with reliabilities, disattenuated)
// correlations of one variable with each of the others. A value the tool
// could not compute is marked as such, not drawn; one beyond 1 widens the
// axis rather than being drawn at its end.
function figure(doc, names) {
  const box = $('figure');
  box.textContent = '';
  const target = doc.regression ? doc.regression.criterion - 1 : names.length - 1;
  const series = [{key: 'corrected_corr', label: 'corrected', color: '#1b5e9a', shape: 'circle',
    described: 'blue circles'}];
  if (doc.disattenuated_corr) {
    series.push({key: 'disattenuated_corr', label: 'disattenuated', color: '#b8461b',
      shape: 'square', described: 'orange squares'});
  }
  const others = names.map((_, k) => k).filter((k) => k !== target);
  const finite = (v) => typeof v === 'number' && Number.isFinite(v);
  const values = [-1, 1];
  for (const s of series) {
    for (const k of others) {
      for (const suffix of ['', '_lower', '_upper']) {
        const m = doc[s.key + suffix];
        if (m && finite(m[target][k])) values.push(m[target][k]);
      }
    }
  }
  const low = Math.floor(Math.min(...values) * 2) / 2;
  const high = Math.ceil(Math.max(...values) * 2) / 2;
  const rowHeight = 26;
  const left = 110;
  const width = 520;
  const plot = width - left - 20;
  const height = others.length * rowHeight + 50;
  const x = (r) => left + ((r - low) / (high - low)) * plot;
  const ns = 'http://www.w3.org/2000/svg';
  const svg = document.createElementNS(ns, 'svg');
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.setAttribute('role', 'img');
  svg.setAttribute('aria-label', `Correlations of ${names[target]} with the other variables`);
  const add = (tag, attrs, text) => {
    const e = document.createElementNS(ns, tag);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    svg.append(e);
    return e;
  };
  for (let tick = low; tick <= high + 1e-9; tick += 0.5) {
    add('line', {x1: x(tick), x2: x(tick), y1: 10, y2: height - 30,
      stroke: tick === 0 ? '#888' : Math.abs(tick) === 1 ? '#bbb' : '#e4e4e4'});
    add('text', {x: x(tick), y: height - 12, 'text-anchor': 'middle', 'font-size': 12},
      String(tick));
  }
  others.forEach((k, row) => {
    const y = 20 + row * rowHeight;
    add('text', {x: left - 8, y: y + 4, 'text-anchor': 'end', 'font-size': 12}, names[k]);
    series.forEach((s, i) => {
      const yy = y + (i - (series.length - 1) / 2) * 8;
      const r = doc[s.key][target][k];
      if (!finite(r)) {
        add('text', {'x': x(low) + 4 + i * 90, 'y': yy + 4, 'font-size': 11, 'fill': s.color,
          'class': 'not-computed'}, `${s.label}: not computed`);
        return;
      }
      const lower = doc[s.key + '_lower'];
      const upper = doc[s.key + '_upper'];
      if (lower && finite(lower[target][k]) && finite(upper[target][k])) {
        add('line', {x1: x(lower[target][k]), x2: x(upper[target][k]), y1: yy, y2: yy,
          stroke: s.color, 'stroke-width': 2});
      }
      const mark = s.shape === 'circle' ?
        add('circle', {cx: x(r), cy: yy, r: 4, fill: s.color}) :
        add('rect', {x: x(r) - 3.5, y: yy - 3.5, width: 7, height: 7, fill: s.color});
      mark.setAttribute('data-value', String(r));
    });
  });
  box.append(svg);
  const legend = series.map((s) => s.label).join(' and ');
  $('figure-caption').textContent = `Figure: ${legend} correlations of ${names[target]} with ` +
    `the other variables${doc.corrected_corr_lower ? ', with their intervals' : ''} ` +
    `(${series.map((s) => `${s.label}: ${s.described}`).join(', ')}).`;
}

let downloads = {};

function download(name, text, type) {
  const url = URL.createObjectURL(new Blob([text], {type}));
  const a = element('a', {'href': url, 'download': name});
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

function showFindings(findings) {
  const list = $('findings');
  list.textContent = '';
  for (const f of findings) {
    const li = element('li', {'class': f.severity, 'data-code': f.code || ''});
    li.append(element('strong', {}, f.severity + ': '));
    li.append(f.message);
    list.append(li);
    const field = fieldOfFinding(f.code);
    if (field) showFieldFinding(field, f);
  }
  $('findings-box').hidden = findings.length === 0;
}

// The tool's JSON: an array of documents, one a problem, or an object that
// holds that array beside the version.
function documentsOf(text) {
  let parsed = [];
  try {
    parsed = JSON.parse(text || '[]');
  } catch (e) {
    return {documents: [], version: null};
  }
  if (Array.isArray(parsed)) return {documents: parsed, version: null};
  if (parsed === null || typeof parsed !== 'object') return {documents: [], version: null};
  // A document on its own, such as a command line refused before any
  // problem.
  if ('error' in parsed || 'refusal' in parsed || 'corrected_cov' in parsed) {
    return {documents: [parsed], version: parsed.version || null};
  }
  const list = Object.values(parsed).find(Array.isArray);
  return {documents: list || [parsed], version: parsed.version || null};
}

// The version of the tool, as --version says it.
let toolVersion = '';

function run() {
  clearErrors();
  $('results').hidden = true;
  let command;
  try {
    command = commandOf();
  } catch (e) {
    if (!(e instanceof InputError)) throw e;
    showError(e.field, e.message);
    $(e.field).focus();
    $('status').textContent = 'Not computed: see the message below the input.';
    return;
  }
  const {args, files, typed} = command;
  const json = runTool([...args, '--format=json'], files);
  const {documents, version} = documentsOf(json.stdout);
  const doc = documents.find((d) => d.corrected_cov) || null;
  if (!doc) {
    // Each refusal next to the input it is about, placed by what the tool
    // says of it (option, file, line and column), never by its words; the
    // findings, whatever their severity, in the list.
    const failures = documents.filter((d) => d.refusal || d.error);
    let first = null;
    for (const d of failures) {
      const place = placeOfRefusal(d.refusal, d.file);
      showError(place.field, d.error || (d.refusal && d.refusal.message) || 'no result');
      if (place.field && place.line !== null) {
        $(place.field + '-error').dataset.line = String(place.line);
        if (place.column !== null) $(place.field + '-error').dataset.column = String(place.column);
      }
      first = first || (place.field ? place : null);
    }
    // A command line the tool refused before any problem, without a
    // document: at the option it refuses, or else its words as it wrote
    // them.
    if (failures.length === 0) {
      const refused = json.status !== 0 ? refusedOption(typed) : null;
      if (refused && refused.place.field) {
        showError(refused.place.field, refused.message);
        first = refused.place;
      } else {
        showError(null, json.stderr.trim() || 'tolbe: no result');
      }
    }
    const findings = failures.flatMap((d) => d.findings || []);
    if (findings.length > 0) {
      showFindings(findings);
      $('results').hidden = false;
      for (const id of ['summary', 'matrices', 'regression-box', 'markdown']) {
        $(id).textContent = '';
      }
      $('figure-box').hidden = true;
      $('downloads').hidden = true;
      $('paper-box').hidden = true;
    }
    if (first) focusPlace(first);
    $('status').textContent = 'Not computed: see the message below the input.';
    return;
  }
  const names = doc.names || Array.from({length: doc.q}, (_, k) => String(k + 1));
  showFindings(doc.findings || []);
  const csv = runTool([...args, '--format=csv'], files);
  const markdown = runTool([...args, '--format=markdown'], files);
  const report = kind() === 'problem' && !doc.intervals && !doc.regression ?
    runTool([...args, '--format=report'], files) : null;
  downloads = {csv: csv.stdout, json: json.stdout, report: report ? report.stdout : null};
  $('download-report').disabled = !report;
  $('report-reason').textContent = report ? '' :
    'The classic report is for a problem text without intervals or a criterion.';
  $('downloads').hidden = false;

  const summary = $('summary');
  summary.textContent = '';
  const selection = doc.selection.map((k) => names[k - 1]).join(', ');
  let text = `q = ${doc.q} variables; p = ${doc.p} selection variables: ${selection}.`;
  if (doc.intervals) {
    const i = doc.intervals;
    text += ` ${Number((i.level * 100).toPrecision(10))}% intervals by ${i.method}` +
      (i.resamples ? `, ${i.resamples} resamples (${i.ci_type}, seed ${i.seed})` : '') +
      `; n = ${i.n}${i.n_unrestricted ? `, unrestricted n = ${i.n_unrestricted}` : ''}.`;
  }
  summary.append(element('p', {'id': 'summary-text'}, text));
  // With the version a result can be repeated.
  summary.append(element('p', {'id': 'result-version', 'class': 'quiet'},
    `Computed by tolbe ${doc.version || version || toolVersion}.`));

  const matricesBox = $('matrices');
  matricesBox.textContent = '';
  const blocks = [
    ['corrected_cov', 'Corrected var/cov matrix'],
    ['corrected_corr', 'Corrected correlation matrix'],
    ['disattenuated_corr', 'Correlations corrected for attenuation'],
  ];
  for (const [key, caption] of blocks) {
    if (!doc[key]) continue;
    matricesBox.append(element('h3', {}, caption));
    matricesBox.append(matrixTable(key, caption + (doc[key + '_se'] ? ' (estimate, then interval)' : ''),
      names, doc[key], doc[key + '_se'], doc[key + '_lower'], doc[key + '_upper']));
  }
  const regressionBox = $('regression-box');
  regressionBox.textContent = '';
  if (doc.regression) regressionBox.append(regressionTable(doc, names));
  $('figure-box').hidden = false;
  figure(doc, names);
  $('markdown').textContent = markdown.stdout;
  $('paper-box').hidden = false;
  $('results').hidden = false;
  $('status').textContent = 'Computed.';
  $('results-heading').focus();
}

// ---- Wiring -------------------------------------------------------------------------

function showPanels() {
  const k = kind();
  for (const panel of document.querySelectorAll('.panel')) panel.hidden = panel.dataset.kind !== k;
  for (const e of document.querySelectorAll('.for-problem, .for-matrices, .for-raw')) {
    e.hidden = !e.classList.contains('for-' + k);
  }
}

async function fetchText(path) {
  const response = await fetch(path);
  if (!response.ok) throw new Error(`${path}: ${response.status}`);
  return response.text();
}

async function start() {
  $('results-heading').tabIndex = -1;
  for (const radio of document.querySelectorAll('input[name="kind"]')) {
    radio.addEventListener('change', showPanels);
  }
  showPanels();
  // The status says so before the tool runs: the page waits for it.
  const runSoon = () => {
    $('status').textContent = 'Computing…';
    $('run').disabled = true;
    setTimeout(() => {
      try {
        run();
      } finally {
        $('run').disabled = false;
      }
    }, 20);
  };
  $('problem-form').addEventListener('submit', (event) => {
    event.preventDefault();
    runSoon();
  });
  $('problem-form').addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      runSoon();
    }
  });
  // A file is read as UTF-8; one that is not (an older Windows export) as
  // Windows-1252, which says so, rather than with its letters replaced.
  for (const input of document.querySelectorAll('input[type="file"]')) {
    input.addEventListener('change', async () => {
      if (input.files.length === 0) return;
      const bytes = await input.files[0].arrayBuffer();
      const target = input.dataset.target;
      $(target + '-error').textContent = '';
      try {
        $(target).value = new TextDecoder('utf-8', {fatal: true}).decode(bytes);
      } catch (e) {
        $(target).value = new TextDecoder('windows-1252').decode(bytes);
        $(target + '-error').textContent =
          `note: ${input.files[0].name} is not UTF-8; it was read as Windows-1252 (Latin-1)`;
      }
    });
  }
  $('example').addEventListener('change', async () => {
    if ($('example').value) $('problem').value = await fetchText(`examples/${$('example').value}.txt`);
  });
  $('load-study').addEventListener('click', async () => {
    $('data').value = await fetchText('examples/study/hired.csv');
    $('pool').value = await fetchText('examples/study/applicants.csv');
    document.querySelector('input[name="pool-kind"][value="pool"]').checked = true;
    $('select').value = 'T1,T2';
    $('reliabilities').value = 'C1=0.8,C2=0.75';
    $('criterion').value = 'C1';
    $('predictors').value = 'T1,T2,INT';
    $('base').value = 'T1,T2';
  });
  $('download-csv').addEventListener('click', () => download('tolbe.csv', downloads.csv, 'text/csv'));
  $('download-json').addEventListener('click', () =>
    download('tolbe.json', downloads.json, 'application/json'));
  $('download-report').addEventListener('click', () =>
    download('tolbe-report.txt', downloads.report, 'text/plain'));
  $('copy-markdown').addEventListener('click', () =>
    navigator.clipboard && navigator.clipboard.writeText($('markdown').textContent));

  $('status').textContent = 'Loading…';
  $('run').disabled = true;
  tool = await createTolbe({print: () => {}, printErr: () => {}});
  try {
    tool.FS.mkdir('/run');
  } catch (e) {
    // already there
  }
  const version = runTool(['--version'], {});
  toolVersion = version.stdout.split('\n')[0].replace(/^tolbe /, '');
  $('version').textContent = toolVersion;
  $('run').disabled = false;
  $('status').textContent = 'Ready.';
  document.body.dataset.ready = 'true';
}

// For the tests: the tool's own output for a command line and files.
window.tolbeRun = (args, files) => runTool(args, files);
window.tolbeDownloads = () => downloads;
// For the tests: the tool as loaded, whose output they can stand in for.
window.tolbeModule = () => tool;

start();
