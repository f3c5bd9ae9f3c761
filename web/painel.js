'use strict';
// The operator panel: one page per item of the menu, all talking to /painel/api/.
(function () {
  const $ = (id) => document.getElementById(id);
  let formToken = '';
  let stream = null;
  let entries = [];
  const charts = {};
  const MAX_ENTRIES = 1000;

  function show(element, visible) { element.hidden = !visible; }

  function dateText(seconds) {
    if (!seconds) return '';
    return new Date(seconds * 1000).toLocaleString('pt-BR');
  }

  function sizeText(bytes) {
    if (bytes >= 1048576) return (bytes / 1048576).toFixed(1) + ' MiB';
    if (bytes >= 1024) return (bytes / 1024).toFixed(1) + ' KiB';
    return bytes + ' bytes';
  }

  function durationText(seconds) {
    seconds = Math.max(0, Math.round(seconds));
    const d = Math.floor(seconds / 86400), h = Math.floor(seconds % 86400 / 3600),
      m = Math.floor(seconds % 3600 / 60), s = seconds % 60;
    if (d) return d + ' d ' + h + ' h';
    if (h) return h + ' h ' + m + ' min';
    if (m) return m + ' min ' + s + ' s';
    return s + ' s';
  }

  // Calls the panel; a lost session brings the login back.
  async function api(path, fields) {
    const options = { credentials: 'same-origin', headers: {} };
    if (fields) {
      options.method = 'POST';
      options.headers['X-Token-Painel'] = formToken;
      options.headers['Content-Type'] = 'application/x-www-form-urlencoded';
      options.body = new URLSearchParams(fields).toString();
    }
    const response = await fetch('api/' + path, options);
    let body = null;
    try { body = await response.json(); } catch (e) { body = null; }
    if (response.status === 401 && path !== 'entrar') {
      loggedOut(body && body.erro);
      throw new Error((body && body.erro) || 'Sessão expirada');
    }
    return { status: response.status, body: body };
  }

  function loggedIn(user, token) {
    formToken = token;
    $('operador').textContent = user;
    show($('sair'), true);
    show($('entrada'), false);
    show($('app'), true);
    startStream();
    route();
  }

  function loggedOut(message) {
    formToken = '';
    if (stream) { stream.close(); stream = null; }
    entries = [];
    $('operador').textContent = '';
    show($('sair'), false);
    show($('app'), false);
    show($('entrada'), true);
    $('erro-entrada').textContent = message || '';
  }

  $('form-entrada').addEventListener('submit', async (event) => {
    event.preventDefault();
    $('erro-entrada').textContent = '';
    const answer = await api('entrar', { usuario: $('usuario').value, senha: $('senha').value });
    $('senha').value = '';
    if (answer.status === 200) loggedIn(answer.body.usuario, answer.body.token);
    else $('erro-entrada').textContent = (answer.body && answer.body.erro) || 'Falha na entrada';
  });

  $('sair').addEventListener('click', async () => {
    try { await api('sair', {}); } catch (e) { /* the session has gone already */ }
    loggedOut('');
  });

  // Pages.
  const pages = ['estado', 'registro', 'backups', 'manutencao', 'configuracao', 'conexoes'];
  const loaders = {};
  let current = '';

  function route() {
    const page = pages.includes(location.hash.slice(1)) ? location.hash.slice(1) : 'estado';
    current = page;
    for (const name of pages) show($('pagina-' + name), name === page);
    document.querySelectorAll('nav a').forEach((a) => a.classList.toggle('atual', a.getAttribute('href') === '#' + page));
    if (loaders[page]) loaders[page]().catch(() => {});
  }
  window.addEventListener('hashchange', () => { if (formToken) route(); });

  // Estado.
  function chart(id, series, data) {
    const element = $(id);
    const width = Math.max(280, element.clientWidth || 600);
    if (!charts[id]) {
      const clock = (seconds) => new Date(seconds * 1000).toLocaleTimeString('pt-BR', { hour: '2-digit', minute: '2-digit' });
      const time = { label: 'Hora', value: (u, v) => (v == null ? '--' : clock(v)) };
      const axes = [{ values: (u, ticks) => ticks.map(clock) }, {}];
      charts[id] = new uPlot({ width: width, height: 200, series: [time].concat(series.slice(1)), axes: axes }, data, element);
    } else {
      charts[id].setSize({ width: width, height: 200 });
      charts[id].setData(data);
    }
  }

  loaders.estado = async function (background) {
    const state = (await api(background ? 'estado?fundo=1' : 'estado')).body;
    const rows = [
      ['Versão', state.versao],
      ['No ar há', durationText(state.agora - state.inicio)],
      [state.rotuloContador, String(state.contador)],
      ['Conexões abertas', String(state.conexoes)],
      ['Banco de dados', state.banco],
      ['Tamanho do banco', sizeText(state.bytesBanco)],
      ['Tamanho do log (WAL)', sizeText(state.bytesLog)],
      ['Último teste de integridade', state.integridade
        ? (state.integridade.ok ? 'OK' : 'FALHOU') + ' em ' + dateText(state.integridade.quando) : 'nenhum desde o início'],
      ['Backup mais recente', state.idadeBackup === null ? 'nenhum' : 'há ' + durationText(state.idadeBackup)],
      ['Réplicas', state.replicas.length
        ? state.replicas.map((r) => r.nome + ': ' + r.estado).join('; ') : state.semReplica],
    ];
    const list = $('estado-dados');
    list.replaceChildren();
    for (const [name, value] of rows) {
      const dt = document.createElement('dt'); dt.textContent = name;
      const dd = document.createElement('dd'); dd.textContent = value;
      list.append(dt, dd);
    }
    const times = state.minutos.map((m) => m.t);
    chart('grafico-pedidos', [{}, { label: 'Pedidos', stroke: '#1f6fb2', fill: 'rgba(31,111,178,0.15)' }],
      [times, state.minutos.map((m) => m.pedidos)]);
    chart('grafico-latencia', [{}, { label: 'Média (ms)', stroke: '#2a8a3a' }, { label: 'Maior (ms)', stroke: '#c0392b' }],
      [times, state.minutos.map((m) => m.mediaMs), state.minutos.map((m) => m.maiorMs)]);
  };
  setInterval(() => { if (formToken && current === 'estado') loaders.estado(true).catch(() => {}); }, 10000);

  // Registro: live through the event stream; the newest first.
  function drawEntries() {
    const level = $('nivel').value;
    const list = $('registro-lista');
    list.replaceChildren();
    for (let i = entries.length - 1; i >= 0; --i) {
      const entry = entries[i];
      if (level && entry.nivel !== level) continue;
      const item = document.createElement('li');
      item.className = 'nivel-' + entry.nivel.toLowerCase();
      const when = document.createElement('time'); when.textContent = dateText(entry.quando);
      const tag = document.createElement('span'); tag.className = 'nivel'; tag.textContent = entry.nivel;
      const text = document.createElement('span'); text.className = 'texto';
      text.textContent = entry.texto.replace(/\r\n?/g, '\n');
      item.append(when, tag, text);
      list.append(item);
    }
  }

  function startStream() {
    if (stream) return;
    stream = new EventSource('api/registro/eventos');
    // A refused stream (the session ended) is not retried by the browser: see why.
    stream.onerror = () => {
      if (stream && stream.readyState === EventSource.CLOSED) {
        stream = null;
        api('sessao?fundo=1').then(() => startStream()).catch(() => {});
      }
    };
    stream.addEventListener('entrada', (event) => {
      const entry = JSON.parse(event.data);
      if (entries.length && entries[entries.length - 1].n >= entry.n) return;
      entries.push(entry);
      if (entries.length > MAX_ENTRIES) entries.splice(0, entries.length - MAX_ENTRIES);
      if (current === 'registro') drawEntries();
    });
  }
  $('nivel').addEventListener('change', drawEntries);
  loaders.registro = async function () { drawEntries(); };

  // Backups.
  function defaultBackupName() {
    const now = new Date();
    const two = (n) => String(n).padStart(2, '0');
    return 'Backup-' + now.getFullYear() + '-' + two(now.getMonth() + 1) + '-' + two(now.getDate()) +
      '-' + two(now.getHours()) + two(now.getMinutes()) + '.db3';
  }

  loaders.backups = async function () {
    if (!$('nome-backup').value) $('nome-backup').value = defaultBackupName();
    const list = (await api('backups')).body;
    $('pasta-backup').textContent = 'Pasta: ' + list.pasta;
    const body = $('tabela-backups').querySelector('tbody');
    body.replaceChildren();
    for (const file of list.arquivos) {
      const row = document.createElement('tr');
      const name = document.createElement('td');
      const link = document.createElement('a');
      link.href = 'api/backups/baixar?nome=' + encodeURIComponent(file.nome);
      link.textContent = file.nome;
      link.setAttribute('download', file.nome);
      name.append(link);
      const size = document.createElement('td'); size.textContent = sizeText(file.bytes);
      const date = document.createElement('td'); date.textContent = dateText(file.quando);
      const action = document.createElement('td');
      const restore = document.createElement('button');
      restore.type = 'button'; restore.textContent = 'Restaurar'; restore.className = 'restaurar';
      restore.dataset.nome = file.nome;
      restore.addEventListener('click', () => {
        $('restaurar-nome').textContent = file.nome;
        $('confirmacao').value = '';
        show($('form-restaurar'), true);
        $('confirmacao').focus();
      });
      action.append(restore);
      row.append(name, size, date, action);
      body.append(row);
    }
    const schedule = $('agenda');
    schedule.replaceChildren();
    for (const key of list.agenda) {
      const dt = document.createElement('dt'); dt.textContent = key.chave;
      const dd = document.createElement('dd'); dd.textContent = key.valor || '(não definido)';
      schedule.append(dt, dd);
    }
  };

  $('form-backup').addEventListener('submit', async (event) => {
    event.preventDefault();
    $('resposta-backup').textContent = 'Gerando o backup...';
    const answer = await api('backups/gerar', { nome: $('nome-backup').value });
    $('resposta-backup').textContent = (answer.body.resposta || answer.body.erro || '').replace(/\r\n?/g, '\n');
    $('nome-backup').value = '';
    await loaders.backups();
  });

  $('form-restaurar').addEventListener('submit', async (event) => {
    event.preventDefault();
    $('resposta-restaurar').textContent = 'Restaurando...';
    const answer = await api('backups/restaurar',
      { nome: $('restaurar-nome').textContent, confirmacao: $('confirmacao').value });
    $('resposta-restaurar').textContent = (answer.body.resposta || answer.body.erro || '').replace(/\r\n?/g, '\n');
    if (answer.status === 200) show($('form-restaurar'), false);
  });
  $('restaurar-cancelar').addEventListener('click', () => show($('form-restaurar'), false));

  // Manutenção.
  async function maintenance(path, waiting) {
    $('resposta-manutencao').textContent = waiting;
    const answer = await api(path, {});
    $('resposta-manutencao').textContent = (answer.body.resposta || answer.body.erro || '').replace(/\r\n?/g, '\n');
  }
  $('integridade').addEventListener('click', () => maintenance('manutencao/integridade', 'Testando a integridade...'));
  $('compactar').addEventListener('click', () => maintenance('manutencao/compactar', 'Compactando...'));

  // Configuração: a change that restarts something (the listener, the replication) is announced before it is written.
  let settings = [];
  let restartAnnounced = '';
  loaders.configuracao = async function () {
    settings = (await api('configuracao')).body;
    restartAnnounced = '';
    show($('aviso-reinicio'), false);
    const fields = $('campos');
    fields.replaceChildren();
    for (const setting of settings) {
      const label = document.createElement('label');
      label.textContent = setting.chave + (setting.reinicia ? ' *' : '');
      const input = document.createElement('input');
      input.name = setting.chave; input.id = 'campo-' + setting.chave; input.value = setting.valor;
      if (/senha/i.test(setting.chave)) input.type = 'password';
      label.append(input);
      fields.append(label);
    }
  };

  $('form-configuracao').addEventListener('submit', async (event) => {
    event.preventDefault();
    const values = {};
    const restarting = new Map();  // what restarts -> the changed keys that restart it
    for (const setting of settings) {
      const value = $('campo-' + setting.chave).value;
      values[setting.chave] = value;
      if (setting.reinicia && value !== setting.valor) {
        restarting.set(setting.reinicia, (restarting.get(setting.reinicia) || []).concat(setting.chave));
      }
    }
    const announcement = [...restarting].map(([part, keys]) => 'a alteração de ' + keys.join(', ') + ' reinicia ' + part)
      .join('; ');
    if (restarting.size && restartAnnounced !== announcement) {
      restartAnnounced = announcement;
      $('aviso-reinicio').textContent = 'Atenção: ' + announcement + '. Clique em Gravar de novo para confirmar.';
      show($('aviso-reinicio'), true);
      return;
    }
    const answer = await api('configuracao', values);
    $('resposta-configuracao').textContent = answer.body.resposta || answer.body.erro || '';
    $('resposta-configuracao').className = 'resposta ' + (answer.status === 200 ? 'ok' : 'erro');
    if (answer.status === 200) await loaders.configuracao();
  });

  // Conexões.
  function fill(table, rows) {
    const body = $(table).querySelector('tbody');
    body.replaceChildren();
    for (const cells of rows) {
      const row = document.createElement('tr');
      for (const cell of cells) { const td = document.createElement('td'); td.textContent = cell; row.append(td); }
      body.append(row);
    }
  }
  loaders.conexoes = async function () {
    const answer = (await api('conexoes')).body;
    $('conexoes-abertas').textContent = 'Conexões abertas agora: ' + answer.abertas;
    fill('tabela-clientes', (answer.clientes || []).map((c) => [c.endereco, dateText(c.desde), String(c.pedidos)]));
    fill('tabela-recusas', (answer.recusas || []).map((r) => [dateText(r.quando), r.endereco, r.motivo]));
  };

  // Start: an open session goes straight to the pages.
  (async function () {
    const answer = await api('sessao').catch(() => null);
    if (answer && answer.status === 200) loggedIn(answer.body.usuario, answer.body.token);
    else if (answer) loggedOut(answer.status === 401 ? '' : answer.body && answer.body.erro);
  })();
})();
