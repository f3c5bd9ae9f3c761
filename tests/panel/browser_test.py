#!/usr/bin/python3
"""The operator panel in a real browser: Chromium (headless) driven by Selenium
against the server binary, each server in a program folder of its own on a free
loopback port. A screenshot of every page is left in the screenshots folder.

  browser_test.py --server build/quelvar-server --screenshots build/panel-screenshots
"""

import argparse
import base64
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as ready
from selenium.webdriver.support.ui import WebDriverWait

SERVER = None
SCREENSHOTS = None
WAIT = 30  # seconds: generous on a loaded machine; nothing here measures speed
PASSWORD = "Senha do Painel 1"
DESKTOP = ("varosa", "quibet4693")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """The server binary copied into a temporary program folder, started headless."""

    def __init__(self, password=True, extra=""):
        self.folder = tempfile.mkdtemp(prefix="quelvar-panel-")
        self.binary = os.path.join(self.folder, "quelvar-server")
        shutil.copy2(SERVER, self.binary)
        self.password = password
        self.extra = extra
        runtime = os.path.join(self.folder, "runtime")
        os.mkdir(runtime, 0o700)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        self.log = open(os.path.join(self.folder, "server.log"), "wb")
        # A port free a moment ago may be taken by the time the server binds it: another one then.
        for attempt in range(5):
            self.port = free_port()
            self.write_config()
            if self.start():
                return
        raise RuntimeError("the server did not start: " + self.log_text())

    def write_config(self):
        lines = ["[INDICE]", "LocalQuelvarDB=QuelvarDB.db3", "Porta=%d" % self.port, "Endereco=127.0.0.1"]
        if self.password:
            hashed = subprocess.run([self.binary, "--hash-password"], input=PASSWORD.encode(),
                                    capture_output=True, check=True, timeout=60).stdout.decode().strip()
            lines.append("SenhaPainel=" + hashed)
        lines += [line for line in self.extra.splitlines() if line]
        with open(self.config_file(), "w") as f:
            f.write("\n".join(lines) + "\n")

    def start(self):
        self.process = subprocess.Popen([self.binary, "--headless", "--create-database"], cwd=self.folder,
                                        stdout=self.log, stderr=self.log, env=self.env)
        deadline = time.time() + WAIT
        while time.time() < deadline:
            if self.process.poll() is not None:
                if "Address already in use" in self.log_text():
                    return False
                raise RuntimeError("the server ended: " + self.log_text())
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("the server did not start")

    def config_file(self):
        return os.path.join(self.folder, "Config1.ini")

    def url(self, path="/painel/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def log_text(self):
        with open(os.path.join(self.folder, "server.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def desktop_request(self, path):
        """A request as the desktop clients make it, with their Basic credentials."""
        request = urllib.request.Request(self.url(path))
        token = base64.b64encode(("%s:%s" % DESKTOP).encode()).decode()
        request.add_header("Authorization", "Basic " + token)
        try:
            with urllib.request.urlopen(request, timeout=WAIT) as reply:
                return reply.status, dict(reply.headers), reply.read()
        except urllib.error.HTTPError as refused:
            return refused.code, dict(refused.headers), refused.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def make_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--window-size=1280,800", "--lang=pt-BR", "--no-proxy-server"):
        options.add_argument(argument)
    service = ChromeService(executable_path=shutil.which("chromedriver") or "/usr/bin/chromedriver")
    browser = webdriver.Chrome(options=options, service=service)
    browser.set_page_load_timeout(WAIT)
    browser.set_script_timeout(WAIT)
    return browser


class Panel(unittest.TestCase):
    """One server and one browser for the suite; the tests run in order of their names."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        cls.browser = make_browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.server.stop()

    # Helpers.
    def wait(self, condition, timeout=WAIT):
        return WebDriverWait(self.browser, timeout).until(condition)

    def element(self, element_id):
        return self.browser.find_element(By.ID, element_id)

    def visible(self, element_id):
        return self.wait(ready.visibility_of_element_located((By.ID, element_id)))

    def text_in(self, element_id, text):
        try:
            self.wait(ready.text_to_be_present_in_element((By.ID, element_id), text))
        except Exception:
            self.fail("%r never showed %r; it shows %r" % (element_id, text, self.element(element_id).text))
        return self.element(element_id).text

    def screenshot(self, name):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        self.browser.save_screenshot(os.path.join(SCREENSHOTS, name + ".png"))

    def open_panel(self):
        self.browser.get(self.server.url())

    def login(self, user="operador", password=PASSWORD):
        self.visible("usuario")
        for field, value in (("usuario", user), ("senha", password)):
            self.element(field).clear()
            self.element(field).send_keys(value)
        self.element("entrar").click()

    def page(self, name):
        self.browser.execute_script("location.hash = arguments[0]", name)
        self.visible("pagina-" + name)

    def set_fields(self, *values):
        """Types each (key, value) into its field of the configuration page."""
        for key, value in values:
            field = self.visible("campo-" + key)
            field.clear()
            field.send_keys(value)

    def wait_for_server_log(self, text):
        deadline = time.time() + WAIT
        while text not in self.server.log_text():
            self.assertLess(time.time(), deadline, self.server.log_text())
            time.sleep(0.2)

    def fetch(self, path, method="GET", body=None, headers=None):
        """A request from the page itself (its cookie goes along): [status, body]."""
        return self.browser.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch(arguments[0], {method: arguments[1], body: arguments[2], headers: arguments[3] || {},"
            " credentials: 'same-origin'}).then(r => r.text().then(t => done([r.status, t])))"
            ".catch(e => done([0, String(e)]));", path, method, body, headers)

    # The tests.
    def test_01_login_is_refused_for_a_wrong_password_and_the_desktop_pair(self):
        self.open_panel()
        for user, password in (("operador", "errada"), DESKTOP):
            self.login(user, password)
            self.assertIn("Usuário ou senha inválidos.", self.text_in("erro-entrada", "inválidos"))
            self.assertFalse(self.element("app").is_displayed())
            self.browser.execute_script("document.getElementById('erro-entrada').textContent = ''")
        self.screenshot("entrada")

    def test_02_the_desktop_credentials_open_nothing_and_get_no_basic_challenge(self):
        for path in ("/painel/api/estado", "/painel/api/backups", "/painel/api/registro/eventos"):
            status, headers, _ = self.server.desktop_request(path)
            self.assertEqual(status, 401, path)
            self.assertNotIn("www-authenticate", {k.lower() for k in headers}, path)
        status, _, page = self.server.desktop_request("/painel/")
        self.assertEqual(status, 200)
        self.assertIn(b"Entrar no painel", page)

    def test_02_bodies_sent_to_the_panel_are_small(self):
        """No credential is checked before the panel reads a body: a large one is refused unread."""
        def exchange(head, body=b""):
            with socket.create_connection(("127.0.0.1", self.server.port), timeout=WAIT) as s:
                s.sendall(head + body)
                return s.recv(64).split(b"\r\n")[0]
        head = b"POST /painel/api/entrar HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        self.assertEqual(exchange(head + b"Content-Length: 10000000\r\n\r\n"), b"HTTP/1.1 413 Payload Too Large")
        chunk = b"%x\r\n" % 70000 + b"a" * 70000 + b"\r\n0\r\n\r\n"
        self.assertEqual(exchange(head + b"Transfer-Encoding: chunked\r\n\r\n", chunk),
                         b"HTTP/1.1 413 Payload Too Large")
        self.assertEqual(exchange(head + b"Content-Length: 21\r\n\r\n", b"usuario=a&senha=b&x=y"),
                         b"HTTP/1.1 401 Unauthorized")

    def test_03_login_opens_the_state_page_with_its_charts(self):
        for _ in range(3):
            self.assertEqual(self.server.desktop_request("/DWServerEventsT03_CONF/GETEVENTS")[0], 200)
        self.open_panel()
        self.login()
        self.visible("app")
        self.assertEqual(self.element("operador").text, "operador")
        self.text_in("estado-dados", "Qtd. de acessos ao banco de dados")
        self.wait(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#grafico-pedidos canvas")) == 1)
        self.wait(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#grafico-latencia canvas")) == 1)
        self.assertIn("Nenhuma réplica configurada.", self.element("estado-dados").text)
        status, body = self.fetch("api/estado")
        self.assertEqual(status, 200)
        self.assertGreaterEqual(sum(minute["pedidos"] for minute in json.loads(body)["minutos"]), 3)
        self.screenshot("estado")

    def test_04_the_log_shows_a_desktop_request_live(self):
        self.page("registro")
        self.text_in("registro-lista", "entrou")
        status, _, _ = self.server.desktop_request("/DWServerEventsFerramentas/Restore?Origem=AoVivo-nao-existe.db3")
        self.assertEqual(status, 200)
        # No reload: the entry arrives through the event stream.
        self.text_in("registro-lista", "Restore -->")
        first = self.browser.find_elements(By.CSS_SELECTOR, "#registro-lista li")[0]
        self.assertIn("Restore -->", first.text)  # the newest first
        self.assertIn("ERROR", first.text)
        self.browser.find_element(By.CSS_SELECTOR, "#nivel option[value='INFO']").click()
        self.wait(lambda b: "Restore -->" not in self.element("registro-lista").text)
        self.browser.find_element(By.CSS_SELECTOR, "#nivel option[value='']").click()
        self.text_in("registro-lista", "Restore -->")
        self.screenshot("registro")

    def test_04b_the_start_up_lines_are_in_the_log(self):
        self.page("registro")
        self.browser.find_element(By.CSS_SELECTOR, "#nivel option[value='']").click()
        # The line the headless server opens its log with: address, port, the connections and files it keeps.
        line = self.text_in("registro-lista", "started: address 127.0.0.1")
        self.assertIn("port %d" % self.server.port, line)
        self.assertIn("open files", line)

    def test_05_backup_now_then_the_file_in_the_list(self):
        self.page("backups")
        name = self.element("nome-backup")
        self.wait(lambda b: name.get_attribute("value") != "")
        name.clear()
        name.send_keys("PeloPainel.db3")
        self.element("backup-agora").click()
        self.assertIn("Backup gerado com sucesso.", self.text_in("resposta-backup", "Backup gerado"))
        self.text_in("tabela-backups", "PeloPainel.db3")
        self.assertTrue(os.path.isfile(os.path.join(self.server.folder, "Backup", "PeloPainel.db3")))
        link = self.browser.find_element(By.LINK_TEXT, "PeloPainel.db3")
        status, body = self.fetch(link.get_attribute("href"))
        self.assertEqual(status, 200)
        self.assertTrue(body.startswith("SQLite format 3"))
        self.screenshot("backups")

    def test_06_restore_needs_the_typed_confirmation(self):
        self.page("backups")
        self.text_in("tabela-backups", "PeloPainel.db3")
        self.browser.find_element(By.CSS_SELECTOR, "button.restaurar[data-nome='PeloPainel.db3']").click()
        self.visible("form-restaurar")
        self.element("confirmacao").send_keys("Outro.db3")
        self.element("restaurar-confirmar").click()
        self.text_in("resposta-restaurar", "Restauração não confirmada")
        self.assertIn("restauração de PeloPainel.db3 não confirmada", self.server.log_text())
        self.assertNotIn("restaurar o backup PeloPainel.db3", self.server.log_text())
        self.screenshot("restaurar")
        self.element("confirmacao").clear()
        self.element("confirmacao").send_keys("PeloPainel.db3")
        self.element("restaurar-confirmar").click()
        self.wait(lambda b: self.element("resposta-restaurar").text == "OK")
        self.assertIn("operador (127.0.0.1): restaurar o backup PeloPainel.db3", self.server.log_text())

    def test_07_an_action_without_the_form_token_is_refused(self):
        status, body = self.fetch("api/backups/gerar", "POST", "nome=SemToken.db3",
                                  {"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(status, 403, body)
        self.assertIn("token do formulário", json.loads(body)["erro"])
        self.assertFalse(os.path.exists(os.path.join(self.server.folder, "Backup", "SemToken.db3")))
        status, body = self.fetch("api/backups/gerar", "POST", "nome=SemToken.db3",
                                  {"Content-Type": "application/x-www-form-urlencoded", "X-Token-Painel": "0" * 64})
        self.assertEqual(status, 403, body)

    def test_08_maintenance_runs_the_integrity_check(self):
        self.page("manutencao")
        self.element("integridade").click()
        self.wait(lambda b: self.element("resposta-manutencao").text == "OK")
        self.screenshot("manutencao")
        self.page("estado")
        self.text_in("estado-dados", "OK em")

    def test_09_settings_refused_by_validation_then_accepted(self):
        self.page("configuracao")
        self.set_fields(("Porta", "80000"))
        self.element("gravar").click()
        # The port restarts the listener: the page says so before anything is written.
        self.assertIn("reinicia o servidor", self.text_in("aviso-reinicio", "Porta"))
        self.element("gravar").click()
        self.text_in("resposta-configuracao", "Porta de comunicação")
        with open(self.server.config_file()) as f:
            self.assertIn("Porta=%d\n" % self.server.port, f.read())
        self.screenshot("configuracao")
        self.browser.refresh()
        self.page("configuracao")
        self.set_fields(("BackupAutomaticoManter", "5"))
        self.element("gravar").click()
        self.text_in("resposta-configuracao", "Configuração gravada")
        with open(self.server.config_file()) as f:
            text = f.read()
        self.assertIn("BackupAutomaticoManter=5\n", text)
        self.assertIn("Porta=%d\n" % self.server.port, text)
        self.assertIn("SenhaPainel=pbkdf2-sha256$", text)

    def test_09b_a_change_that_restarts_the_listener_says_so_and_restarts_it(self):
        self.browser.refresh()
        self.page("configuracao")
        self.set_fields(("FalhasLogin", "30"))
        self.element("gravar").click()
        self.assertIn("FalhasLogin reinicia o servidor", self.text_in("aviso-reinicio", "FalhasLogin"))
        with open(self.server.config_file()) as f:
            self.assertNotIn("FalhasLogin", f.read())  # nothing written before the second click
        self.element("gravar").click()
        self.text_in("resposta-configuracao", "será reiniciado")
        self.wait_for_server_log("servidor reiniciado com a nova configuração")
        with open(self.server.config_file()) as f:
            self.assertIn("FalhasLogin=30\n", f.read())
        # The same port, the same session.
        self.browser.refresh()
        self.page("estado")
        self.text_in("estado-dados", "Versão")

    def test_09c_the_replicas_are_set_from_the_page_and_the_replication_restarts(self):
        self.browser.refresh()
        self.page("configuracao")
        self.set_fields(("ReplicaIntervaloMs", "5"))
        self.element("gravar").click()
        self.assertIn("ReplicaIntervaloMs reinicia a replicação", self.text_in("aviso-reinicio", "replicação"))
        self.element("gravar").click()
        # Refused as the start refuses it, and nothing written.
        self.text_in("resposta-configuracao", "not a whole number from 10 to 3600000")
        with open(self.server.config_file()) as f:
            self.assertNotIn("ReplicaIntervaloMs", f.read())
        self.browser.refresh()
        self.page("configuracao")
        self.set_fields(("ReplicaIntervaloMs", "200"), ("Replica1", "Replicas/Pendrive"))
        self.element("gravar").click()
        warning = self.text_in("aviso-reinicio", "Replica1")
        self.assertIn("a alteração de Replica1, ReplicaIntervaloMs reinicia a replicação", warning)
        self.assertNotIn("reinicia o servidor", warning)
        self.element("gravar").click()
        self.text_in("resposta-configuracao", "A replicação será reiniciada")
        self.wait_for_server_log("replicação reiniciada com a nova configuração")
        with open(self.server.config_file()) as f:
            text = f.read()
        self.assertIn("Replica1=Replicas/Pendrive\n", text)
        self.assertIn("ReplicaIntervaloMs=200\n", text)
        self.assertEqual(self.server.log_text().count("servidor reiniciado com a nova configuração"), 1)
        self.page("estado")
        self.text_in("estado-dados", "Replica1")
        self.assertNotIn("Nenhuma réplica configurada.", self.element("estado-dados").text)
        self.screenshot("configuracao-replicas")

    def test_10_connections_page_lists_clients_and_refusals(self):
        request = urllib.request.Request(self.server.url("/DWServerEventsT03_CONF/GETEVENTS"))
        request.add_header("Authorization", "Basic " + base64.b64encode(b"varosa:errada").decode())
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(request, timeout=WAIT)
        self.assertEqual(refused.exception.code, 401)
        self.page("conexoes")
        self.text_in("conexoes-abertas", "Conexões abertas agora:")
        self.text_in("tabela-recusas", "credenciais recusadas")
        # The panel's own refusals: the wrong logins of test_01, the form without its token of test_07.
        self.text_in("tabela-recusas", "entrada no painel recusada")
        self.text_in("tabela-recusas", "token do formulário recusado")
        # A malformed request is refused at the door too.
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=WAIT) as s:
            s.sendall(b"GET / HTTP/x.y\r\n\r\n")
            self.assertEqual(s.recv(64).split(b"\r\n")[0], b"HTTP/1.1 400 Bad Request")
        self.browser.refresh()
        self.page("conexoes")
        self.text_in("tabela-recusas", "pedido malformado (400)")
        self.text_in("tabela-clientes", "127.0.0.1")  # the page's own request
        self.screenshot("conexoes")

    def test_11_phone_width(self):
        self.browser.set_window_size(390, 844)
        try:
            self.page("estado")
            self.text_in("estado-dados", "Versão")
            width = self.browser.execute_script("return document.documentElement.scrollWidth")
            self.assertLessEqual(width, 400)
            self.screenshot("estado-telefone")
        finally:
            self.browser.set_window_size(1280, 800)

    def test_12_logout(self):
        self.element("sair").click()
        self.visible("entrada")
        self.assertFalse(self.element("app").is_displayed())
        status, _ = self.fetch("api/estado")
        self.assertEqual(status, 401)
        self.browser.refresh()
        self.visible("entrada")


class PanelAlone(unittest.TestCase):
    """Servers set up differently: a short session, no password."""

    @classmethod
    def setUpClass(cls):
        cls.browser = make_browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def log_in(self, server):
        self.browser.get(server.url())
        WebDriverWait(self.browser, WAIT).until(ready.visibility_of_element_located((By.ID, "usuario")))
        self.browser.find_element(By.ID, "usuario").send_keys("operador")
        self.browser.find_element(By.ID, "senha").send_keys(PASSWORD)
        self.browser.find_element(By.ID, "entrar").click()
        WebDriverWait(self.browser, WAIT).until(ready.visibility_of_element_located((By.ID, "app")))

    def test_a_session_expires_when_idle(self):
        server = Server(extra="PainelOciosoSeg=2")
        try:
            self.log_in(server)
            self.browser.execute_script("window.stop && 0")
            time.sleep(4)  # past the idle time: the server must forget the session (no speed is measured)
            self.browser.execute_script("location.hash = 'backups'")
            WebDriverWait(self.browser, WAIT).until(ready.visibility_of_element_located((By.ID, "entrada")))
            WebDriverWait(self.browser, WAIT).until(
                ready.text_to_be_present_in_element((By.ID, "erro-entrada"), "Sessão expirada"))
        finally:
            server.stop()

    def test_the_integrity_result_of_a_desktop_event_shows_on_the_state_page(self):
        """Whichever path ran the check: here a desktop client's "Reordena", with no panel action."""
        server = Server()
        try:
            status, _, _ = server.desktop_request("/DWServerEventsFerramentas/Reordena")
            self.assertEqual(status, 200)
            self.log_in(server)
            WebDriverWait(self.browser, WAIT).until(
                ready.text_to_be_present_in_element((By.ID, "estado-dados"), "Último teste de integridade"))
            WebDriverWait(self.browser, WAIT).until(
                ready.text_to_be_present_in_element((By.ID, "estado-dados"), "OK em"))
            self.browser.find_element(By.ID, "sair").click()
        finally:
            server.stop()

    def test_without_a_password_only_the_how_to_page(self):
        server = Server(password=False)
        try:
            self.browser.get(server.url())
            WebDriverWait(self.browser, WAIT).until(
                ready.text_to_be_present_in_element((By.TAG_NAME, "h2"), "A senha do painel não está definida"))
            self.assertIn("--hash-password", self.browser.page_source)
            os.makedirs(SCREENSHOTS, exist_ok=True)
            self.browser.save_screenshot(os.path.join(SCREENSHOTS, "sem-senha.png"))
            status, body = self.browser.execute_async_script(
                "const done = arguments[0]; fetch('api/entrar', {method: 'POST', body: 'usuario=operador&senha=x',"
                " headers: {'Content-Type': 'application/x-www-form-urlencoded'}})"
                ".then(r => r.text().then(t => done([r.status, t])));")
            self.assertEqual(status, 403, body)
        finally:
            server.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--screenshots", required=True)
    arguments, rest = parser.parse_known_args()
    SERVER = os.path.abspath(arguments.server)
    SCREENSHOTS = os.path.abspath(arguments.screenshots)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
