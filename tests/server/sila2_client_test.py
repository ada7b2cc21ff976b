"""velmora-server through a SiLA 2 client that is not ours: the sila2 package's dynamic client,
which loads every served feature definition, checks it against the standard and makes its own
gRPC code from it. One case per run: python3 sila2_client_test.py SERVER SIM CASE."""

import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import uuid

from sila2.client import SilaClient
from sila2.framework import (CommandExecutionStatus, DefinedExecutionError, FrameworkError,
                             ValidationError)
from sila2.framework.errors.framework_error import FrameworkErrorType

SERVER, SIM, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
DEADLINE = 60  # seconds; generous for a busy machine
RUNS = "org.velmora/instruments/ShakingController/v1"


def wait_for(condition, what):
    end = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Server:
    """The real executable with folders of its own; its standard error is kept in `log`."""

    def __init__(self):
        self.home = tempfile.TemporaryDirectory()
        self.env = dict(os.environ, VELMORA_SIM_UNIT_MS="200")
        for var in ("XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"):
            self.env[var] = os.path.join(self.home.name, var.lower())
        self.log = ""
        self.process = None

    def add_user(self, name, password):
        subprocess.run([SERVER, "--add-user", name, "--password-stdin"], env=self.env,
                       input=password + "\n", text=True, check=True, capture_output=True)

    def start(self, port="simulator", *extra):
        self.process = subprocess.Popen(
            [SERVER, "--port", port, "--listen", "127.0.0.1:0", "--no-discovery", "--insecure",
             *extra], env=self.env, stderr=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, daemon=True).start()
        wait_for(lambda: "velmora-server: instrument " in self.log, "the instrument")
        self.port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", self.log).group(1))
        return self

    def _read(self):
        for line in self.process.stderr:
            self.log += line

    def client(self):
        return SilaClient("127.0.0.1", self.port, insecure=True)

    def journals(self):
        folder = os.path.join(self.env["XDG_DATA_HOME"], "velmora", "runs")
        return [open(os.path.join(folder, f)).read() for f in sorted(os.listdir(folder))]

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(DEADLINE)


def expect(error_class, call, check=lambda e: True):
    try:
        call()
    except error_class as e:
        assert check(e), repr(e)
        return e
    raise AssertionError("no " + error_class.__name__)


def defined(name):
    return lambda e: e.identifier == name


def framework(kind):
    return lambda e: e.error_type == kind


def login(client, name, password):
    return client.AuthenticationService.Login(
        UserIdentification=name, Password=password,
        RequestedServer=client.SiLAService.ServerUUID.get(),
        RequestedFeatures=[RUNS]).AccessToken


def first_sample(run):
    sub = run.subscribe_to_intermediate_responses()
    sample = next(sub)
    sub.cancel()
    return sample


def case_access(server):
    server.add_user("ana", "correct horse")
    server.start()
    c = server.client()
    expect(DefinedExecutionError, lambda: login(c, "ana", "wrong"),
           defined("AuthenticationFailed"))
    token = login(c, "ana", "correct horse")
    meta = [c.AuthorizationService.AccessToken(token)]
    assert f"{RUNS}/Command/StartShaking" in c.AuthorizationService.AccessToken.get_affected_calls()

    # Properties need no token; a command without one is refused before anything is sent.
    assert c.ShakingController.Running.get() is False
    assert list(c.ShakingController.Alarms.get()) == []
    expect(FrameworkError, lambda: c.ShakingController.StartShaking(Speed=300, Time=30),
           framework(FrameworkErrorType.INVALID_METADATA))
    bogus = [c.AuthorizationService.AccessToken("f" * 64)]
    expect(DefinedExecutionError,
           lambda: c.ShakingController.StartShaking(Speed=300, Time=30, metadata=bogus),
           defined("InvalidAccessToken"))
    expect(DefinedExecutionError, lambda: c.SiLAService.SetServerName("x", metadata=bogus),
           defined("InvalidAccessToken"))

    run = c.ShakingController.StartShaking(Speed=300, Time=30, metadata=meta)
    first_sample(run)
    c.ShakingController.StopShaking(metadata=meta)
    wait_for(lambda: run.done, "the stopped run's end")
    expect(DefinedExecutionError, run.get_responses, defined("RunStopped"))
    assert "# started by\tana@" in server.journals()[-1]

    # The token as grpcurl's -H sends it (server/README.md): the metadata message, serialized.
    import grpc
    raw = grpc.insecure_channel(f"127.0.0.1:{server.port}").unary_unary(
        "/sila2.org.velmora.instruments.shakingcontroller.v1.ShakingController/StopShaking")
    key = "sila-org.silastandard-core-authorizationservice-v1-metadata-accesstoken-bin"
    inner = b"\x0a" + bytes([len(token)]) + token.encode()
    raw(b"", metadata=[(key, b"\x0a" + bytes([len(inner)]) + inner)])

    c.AuthenticationService.Logout(AccessToken=token)
    expect(DefinedExecutionError,
           lambda: c.ShakingController.StartShaking(Speed=300, Time=30, metadata=meta),
           defined("InvalidAccessToken"))


def case_lock(server):
    server.add_user("ana", "ana's secret")
    server.add_user("bob", "bob's secret")
    server.start()
    a, b = server.client(), server.client()
    ana = [a.AuthorizationService.AccessToken(login(a, "ana", "ana's secret"))]
    bob = [b.AuthorizationService.AccessToken(login(b, "bob", "bob's secret"))]
    affected = a.LockController.LockIdentifier.get_affected_calls()
    assert f"{RUNS}/Command/StartShaking" in affected
    assert f"{RUNS}/Command/StopShaking" not in affected

    a.LockController.LockServer(LockIdentifier="ana-lock", Timeout=600, metadata=ana)
    assert b.LockController.IsLocked.get() is True
    expect(DefinedExecutionError,
           lambda: b.LockController.LockServer(LockIdentifier="bob", Timeout=0, metadata=bob),
           defined("ServerAlreadyLocked"))
    expect(FrameworkError, lambda: b.ShakingController.StartShaking(Speed=300, Time=30,
                                                                    metadata=bob),
           framework(FrameworkErrorType.INVALID_METADATA))
    wrong = bob + [b.LockController.LockIdentifier("guess")]
    expect(DefinedExecutionError,
           lambda: b.ShakingController.StartShaking(Speed=300, Time=30, metadata=wrong),
           defined("InvalidLockIdentifier"))

    held = ana + [a.LockController.LockIdentifier("ana-lock")]
    run = a.ShakingController.StartShaking(Speed=300, Time=30, metadata=held)
    first_sample(run)
    # Anyone authorised can always stop the shaker; the log says who stopped whose run.
    b.ShakingController.StopShaking(metadata=bob)
    wait_for(lambda: run.done, "the stopped run's end")
    expect(DefinedExecutionError, run.get_responses, defined("RunStopped"))
    wait_for(lambda: re.search(r"StopShaking.*bob.*lock", server.log), "the stop's log line")

    expect(DefinedExecutionError,
           lambda: a.LockController.UnlockServer(LockIdentifier="guess", metadata=ana),
           defined("InvalidLockIdentifier"))
    a.LockController.UnlockServer(LockIdentifier="ana-lock", metadata=ana)
    assert b.LockController.IsLocked.get() is False


def case_cancel_and_simulation(server):
    sim = subprocess.Popen([SIM, "--unit-ms", "200"], stdout=subprocess.PIPE, text=True)
    try:
        server.start(sim.stdout.readline().strip())
        c = server.client()
        runs, modes = c.ShakingController, c.SimulationController
        assert modes.SimulationMode.get() is False

        run = runs.StartShaking(Speed=300, Time=60)
        first_sample(run)
        c.CancelController.CancelCommand(CommandExecutionUUID=str(run.execution_uuid))
        wait_for(lambda: run.done, "the cancelled run's end")
        expect(DefinedExecutionError, run.get_responses, defined("RunCancelled"))
        assert runs.Running.get() is False
        expect(DefinedExecutionError,
               lambda: c.CancelController.CancelCommand(CommandExecutionUUID=str(uuid.uuid4())),
               defined("InvalidCommandExecutionUUID"))

        modes.StartSimulationMode()
        assert modes.SimulationMode.get() is True
        wait_for(lambda: server.log.count("velmora-server: instrument ") >= 2,
                 "the simulated shaker")
        run = runs.StartShaking(Speed=300, Time=60)
        first_sample(run)
        expect(DefinedExecutionError, modes.StartRealMode, defined("StartRealModeFailed"))
        runs.StopShaking()
        wait_for(lambda: run.done, "the stopped run's end")
        assert "# simulation\n" in server.journals()[-1]
        modes.StartRealMode()
        assert modes.SimulationMode.get() is False
    finally:
        server.stop()
        sim.terminate()
        sim.wait()


def case_streams(server):
    server.start()
    clients = [server.client() for _ in range(3)]  # each client reads 100 streams at most
    subs = [c.ShakingController.CurrentSpeed.subscribe() for c in clients for _ in range(100)]
    refused = 0
    for sub in subs:
        try:
            next(sub)
        except Exception as e:  # RESOURCE_EXHAUSTED is no SiLA error: a connection error here
            assert "streams open" in str(e), repr(e)
            refused += 1
    assert refused == 300 - 256, refused
    for sub in subs:
        sub.cancel()
    wait_for(lambda: _subscribes(clients[0]), "a stream after the others closed")


def _subscribes(client):
    try:
        sub = client.ShakingController.Running.subscribe()
        next(sub)
        sub.cancel()
        return True
    except Exception:
        return False


def case_names_and_sigterm(server):
    server.start()
    c = server.client()
    expect(ValidationError,
           lambda: c.SiLAService.SetServerName("x\nvelmora-server: forged\x1b[2K"))
    assert not re.search(r"^velmora-server: forged", server.log, re.M), server.log
    c.SiLAService.SetServerName("é" * 200)
    assert c.SiLAService.ServerName.get() == "é" * 200
    huge = "org.example/core/F" + "x" * 2_000_000 + "/v1"  # the client sends at most 2^21
    expect(DefinedExecutionError, lambda: c.SiLAService.GetFeatureDefinition(huge),
           lambda e: e.identifier == "UnimplementedFeature" and len(e.message) < 300)

    run = c.ShakingController.StartShaking(Speed=300, Time=600)
    first_sample(run)
    subs = [c.ShakingController.CurrentSpeed.subscribe(), c.ShakingController.Running.subscribe()]
    for sub in subs:
        next(sub)
    server.process.send_signal(signal.SIGTERM)
    assert server.process.wait(DEADLINE) == 0
    # The server ended every stream itself: each ends as an iteration does, not with an error.
    for sub in subs:
        for _ in sub:
            pass
    wait_for(lambda: run.done, "the run's end")
    assert run.status == CommandExecutionStatus.finishedWithError, run.status


def case_standard_tools(server):
    """What grpcurl and grpc_health_probe ask, in raw bytes: neither needs our .proto files."""
    import grpc
    server.start()
    channel = grpc.insecure_channel(f"127.0.0.1:{server.port}")
    check = channel.unary_unary("/grpc.health.v1.Health/Check")
    assert check(b"") == b"\x08\x01"  # HealthCheckResponse{status: SERVING}
    reflect = channel.stream_stream("/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo")
    # list_services (field 7), then file_containing_symbol (field 4) for the shaker's service
    symbol = b"sila2.org.velmora.instruments.shakingcontroller.v1.ShakingController"
    answers = list(reflect(iter([b"\x3a\x00", b"\x22" + bytes([len(symbol)]) + symbol])))
    assert symbol in answers[0] and b"grpc.health.v1.Health" in answers[0], answers[0]
    assert b"StartShaking_Intermediate" in answers[1], answers[1][:200]


CASES = {
    "standard_tools": case_standard_tools,
    "access": case_access,
    "lock": case_lock,
    "cancel_and_simulation": case_cancel_and_simulation,
    "streams": case_streams,
    "names_and_sigterm": case_names_and_sigterm,
}

if __name__ == "__main__":
    server = Server()
    try:
        CASES[CASE](server)
    except BaseException:
        print(server.log, file=sys.stderr)
        raise
    finally:
        server.stop()
    print(CASE + ": ok")
