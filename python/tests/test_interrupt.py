"""Ctrl-C while Python waits on a synchronous Speak: speech stops and
KeyboardInterrupt is raised, with each engine generation."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent("""
    import sys, time
    import orafon

    voice, interrupt = int(sys.argv[1]), sys.argv[2] or None

    class Events:
        ended = False
        announced = False

        def OnTTSWord(self, start, length):
            if not self.announced:
                self.announced = True
                print("speaking", flush=True)

        def OnTTSEnd(self):
            self.ended = True

    tts = orafon.DispatchWithEvents("Orafon.TextToSpeech", Events, interrupt=interrupt)
    tts.VoiceIdx = voice
    text = " ".join(["This sentence is spoken again and again until someone presses Control C."] * 8)
    started = time.monotonic()
    try:
        tts.Speak(text, orafon.constants.TF_DEFAULT)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", "ended" if tts.ended else "still-speaking", flush=True)
    if interrupt is None:
        tts.StopTTS()  # the wait ended, but only the object can stop its work
    # The object stays usable after the interrupt.
    tts.Speak("Again.", orafon.constants.TF_DEFAULT)
    print("usable", tts.ended, flush=True)
""")


def first_voice_of(generation):
    import orafon

    tts = orafon.Dispatch("Orafon.TextToSpeech")
    count = tts.VoiceCount
    for index in [0, count - 1] + list(range(1, count - 1)):
        tts.VoiceIdx = index
        if tts.SAPIVersion == generation:
            return index
    pytest.fail(f"no voice of generation {generation}")


def run_interrupted(voice, interrupt):
    env = dict(os.environ)
    env.pop("ORAFON_AUDIO_FAST", None)  # speak at the real pace, so that there is time to interrupt
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(voice), interrupt], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=env)
    try:
        first = child.stdout.readline().strip()
        assert first == "speaking", child.stderr.read()
        child.send_signal(signal.SIGINT)
        # The whole text takes minutes; the bound only keeps a broken run from hanging.
        out, err = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0, err
    return out.splitlines()


@pytest.mark.parametrize("generation", [0, 1])
def test_ctrl_c_stops_speech_and_raises_keyboard_interrupt(generation):
    lines = run_interrupted(first_voice_of(generation), "StopTTS")
    assert lines == ["interrupted ended", "usable True"]


def test_ctrl_c_without_a_stop_member_ends_the_wait():
    lines = run_interrupted(first_voice_of(0), "")
    assert lines == ["interrupted still-speaking", "usable True"]


def test_ctrl_c_while_pumping_messages_raises_keyboard_interrupt():
    script = textwrap.dedent("""
        import orafon
        obj = orafon.Dispatch("Orafon.PyTest")
        try:
            print("pumping", flush=True)
            orafon.pump_until(lambda: False, timeout=120)
            print("timed out", flush=True)
        except KeyboardInterrupt:
            print("interrupted", obj.Add(1, 2), flush=True)
    """)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=dict(os.environ))
    try:
        assert child.stdout.readline().strip() == "pumping"
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0, err
    assert out.splitlines() == ["interrupted 3"]
