"""Ctrl-C while Python waits on a synchronous Speak: speech stops and
KeyboardInterrupt is raised, with each engine generation."""

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


def interrupt_child(args, env, ready):
    """Starts a child Python, sends it SIGINT once it prints ready, and returns
    the lines it prints after; it must exit with status 0."""
    child = subprocess.Popen([sys.executable, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=env)
    try:
        first = child.stdout.readline().strip()
        assert first == ready, child.stderr.read()
        child.send_signal(signal.SIGINT)
        # The bound only keeps a broken run from hanging.
        out, err = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0, err
    return out.splitlines()


def run_interrupted(voice, interrupt, env):
    env.pop("ORAFON_AUDIO_FAST", None)  # speak at the real pace, so that there is time to interrupt
    # The whole text takes minutes.
    return interrupt_child(["-c", CHILD, str(voice), interrupt], env, "speaking")


@pytest.mark.parametrize("generation", [0, 1])
def test_ctrl_c_stops_speech_and_raises_keyboard_interrupt(voices, generation, child_environment):
    lines = run_interrupted(voices[generation], "StopTTS", child_environment)
    assert lines == ["interrupted ended", "usable True"]


def test_ctrl_c_without_a_stop_member_ends_the_wait(voices, child_environment):
    lines = run_interrupted(voices[0], "", child_environment)
    assert lines == ["interrupted still-speaking", "usable True"]


def test_ctrl_c_while_pumping_messages_raises_keyboard_interrupt(child_environment):
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
    assert interrupt_child(["-c", script], child_environment, "pumping") == ["interrupted 3"]
