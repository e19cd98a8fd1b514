"""Shared set-up of the orafon package's tests: a registry of their own (made
before the package is imported, so the platform never sees another), the
component and the test automation class registered in it."""

import os
import pathlib
import tempfile

import pytest

_registry_dir = tempfile.TemporaryDirectory(prefix="orafon-pytest-")
os.environ["ORAFON_REGISTRY"] = str(pathlib.Path(_registry_dir.name) / "registry.db")

import orafon  # noqa: E402  (after the registry is chosen)

BIN = pathlib.Path(os.environ.get("ORAFON_TEST_BIN", ""))
SERVER = pathlib.Path(os.environ.get("ORAFON_PYTEST_SERVER", ""))
SANITIZER = os.environ.get("ORAFON_PYTEST_SANITIZER", "none")


@pytest.fixture(scope="session", autouse=True)
def registered():
    """Orafon.so and OrafonPyTest.so registered in the private registry."""
    orafon.register_server(BIN / "Orafon.so")
    orafon.register_server(SERVER)
    yield


@pytest.fixture
def automation():
    obj = orafon.Dispatch("Orafon.PyTest")
    yield obj
    obj._release()


@pytest.fixture(scope="session")
def voices():
    """The index of the first voice of each engine generation, by its
    SAPIVersion (0: the newer generation, espeak-ng; 1: the older, flite)."""
    tts = orafon.Dispatch("Orafon.TextToSpeech")
    count = tts.VoiceCount
    found = {}
    # The generations are listed one after the other: look at both ends first.
    for index in [0, count - 1] + list(range(1, count - 1)):
        tts.VoiceIdx = index
        found.setdefault(tts.SAPIVersion, index)
        if len(found) == 2:
            break
    tts._release()
    assert set(found) == {0, 1}, f"voices of both engine generations are needed, found {found}"
    return found


@pytest.fixture
def child_environment():
    """The environment a child Python needs to import the package with the
    same registry."""
    return dict(os.environ)
