"""The package under AddressSanitizer: in the sanitizer build
(-DORAFON_SANITIZE=ON) CTest loads libasan into Python with LD_PRELOAD; this
test then runs the error cases, events and releases in a child interpreter
and asks LeakSanitizer for memory that nothing references any more."""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import SANITIZER

pytestmark = pytest.mark.skipif(
    SANITIZER != "asan",
    reason="needs the AddressSanitizer build (cmake -DORAFON_SANITIZE=ON), where CTest preloads libasan; "
           ".ci/run runs it there")

CHILD = textwrap.dedent("""
    import ctypes, gc, sys
    import orafon

    def expect(kind, call):
        try:
            call()
        except kind:
            return
        raise AssertionError(f"{call} did not raise {kind}")

    class Handler:
        def __init__(self):
            self.rings = []
        def OnRing(self, index):
            self.rings.append(index)
            if index == 1:
                raise RuntimeError("handler fails on purpose")
        def OnDone(self):
            self.done = True

    sys.unraisablehook = lambda info: None
    for round in range(3):
        obj = orafon.Dispatch("Orafon.PyTest")
        obj.Name = "text " * 50
        obj.Stored = "stored text"
        assert obj.Join(obj.Name, "x").endswith("x")
        expect(AttributeError, lambda: obj.NoSuchMember)
        expect(TypeError, lambda: obj.Add(1))
        expect(TypeError, lambda: obj.Add([], 1))
        expect(orafon.ComError, lambda: obj.Add("x", 1))
        expect(orafon.ComError, lambda: obj.Fail("description " * 20))
        expect(orafon.ComError, lambda: orafon.Dispatch("Orafon.NotRegistered"))
        obj._release()
        expect(orafon.ComError, lambda: obj.Value)

        events = orafon.DispatchWithEvents("Orafon.PyTest", Handler)
        events.Ring(3)
        events.PostRing(2)
        orafon.pump_until(lambda: len(events.rings) == 5, timeout=10)
        assert events.rings == [0, 1, 2, 0, 1], events.rings
        events.PostRing(2)   # dropped with events still queued
        del events

        tts = orafon.DispatchWithEvents("Orafon.TextToSpeech", Handler)
        tts.Speak("Short.", 0)
        expect(orafon.ComError, lambda: setattr(tts, "VoiceIdx", "x"))
        del tts
        gc.collect()
        orafon.pump_until(lambda: False, timeout=0.05)

    gc.collect()
    lsan = ctypes.CDLL(None)
    leaked = lsan.__lsan_do_recoverable_leak_check()
    print("leaks" if leaked else "no leaks", flush=True)
""")


def test_error_cases_events_and_release_under_address_sanitizer():
    with open("/proc/self/maps") as maps:
        assert "libasan" in maps.read(), "libasan is not loaded: the sanitizer build must preload it"
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "detect_leaks=1:leak_check_at_exit=0:abort_on_error=0:halt_on_error=1"
    # Objects in malloc memory, which LeakSanitizer scans for references.
    env["PYTHONMALLOC"] = "malloc"
    run = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=240, env=env)
    assert "AddressSanitizer" not in run.stderr, run.stderr[-4000:]
    assert run.returncode == 0, run.stderr[-4000:]
    assert run.stdout.strip() == "no leaks", run.stderr[-4000:]
