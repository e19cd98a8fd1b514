"""The text-to-speech component driven from Python with real voices of both
engine generations: the README's example, events, file types and help."""

import pathlib
import pydoc
import re
import subprocess
import sys

import pytest

import orafon

EXAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "speak.py"
TEXT = "Hello world, this is a test. Second sentence here."
WORDS = ["Hello", "world", "this", "is", "a", "test", "Second", "sentence", "here"]


# SAPIVersion of a voice: 0 for the newer generation (espeak-ng), 1 for the
# older one (flite); the voices fixture (conftest.py) has the first of each.
NEWER, OLDER = 0, 1


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=format_name,duration",
                          "-of", "default=noprint_wrappers=1", str(path)],
                         capture_output=True, text=True, check=True).stdout
    return dict(line.split("=", 1) for line in out.split())


@pytest.mark.parametrize("generation", [NEWER, OLDER])
def test_readme_example_end_to_end(voices, generation, tmp_path, child_environment):
    output = tmp_path / "hello.mp3"
    run = subprocess.run([sys.executable, str(EXAMPLE), str(voices[generation]), str(output)],
                         capture_output=True, text=True, timeout=120, env=child_environment)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    count, names = lines[0].split(" ", 1)
    assert int(count) > 0 and names.startswith("['")
    words = [line.split() for line in lines[1:] if line.startswith("word")]
    spoken = ["Hello world"[int(start):int(start) + int(length)].strip() for _, start, length in words]
    assert spoken == ["Hello", "world"]
    assert lines[-1] == "done"
    info = probe(output)
    assert info["format_name"] == "mp3"
    assert float(info["duration"]) > 0.3


@pytest.mark.parametrize("generation", [NEWER, OLDER])
def test_events_arrive_in_order_with_positions_that_slice_the_text(voices, generation):
    events = []

    class Handler:
        def OnTTSStart(self): events.append(("start",))
        def OnTTSEnd(self): events.append(("end",))
        def OnTTSWord(self, start, length): events.append(("word", start, length))
        def OnTTSSentence(self, start, length): events.append(("sentence", start, length))
        def OnTTSProgress(self, percent): events.append(("progress", percent))

    tts = orafon.DispatchWithEvents("Orafon.TextToSpeech", Handler)
    tts.VoiceIdx = voices[generation]
    tts.Speak(TEXT, orafon.constants.TF_DEFAULT)  # events run inside the synchronous call
    assert events[0] == ("start",) and events[-1] == ("end",)
    words = [TEXT[s:s + n] for kind, s, n in (e for e in events if e[0] == "word")]
    # The older generation's word spans reach over the following space and punctuation.
    assert [w.rstrip(" ,.") for w in words] == WORDS
    starts = [e[1] for e in events if e[0] == "word"]
    assert starts == sorted(starts)
    progress = [e[1] for e in events if e[0] == "progress"]
    assert progress == sorted(progress) and progress[-1] == 100
    sentences = [TEXT[s:s + n] for kind, s, n in (e for e in events if e[0] == "sentence")]
    if generation == NEWER:
        assert sentences == ["Hello world, this is a test.", "Second sentence here."]

    events.clear()
    tts.Speak(TEXT, orafon.constants.TF_ASYNC)
    assert orafon.pump_until(lambda: ("end",) in events, timeout=30)
    assert [TEXT[s:s + n].rstrip(" ,.") for kind, s, n in (e for e in events if e[0] == "word")] == WORDS


def _file_types():
    tts = orafon.Dispatch("Orafon.TextToSpeech")
    offered = []
    for name in sorted(n for n in dir(orafon.constants) if n.startswith("FF_")):
        try:
            tts.FileFormat = getattr(orafon.constants, name)
        except orafon.ComError:
            continue  # a type this machine cannot write is not offered
        if tts.WaveFormatCount > 0:
            offered.append(name)
    return offered


EXPECTED_FORMAT = {"FF_WAVE": "wav", "FF_MP3": "mp3", "FF_OGG": "ogg", "FF_AU": "au", "FF_AIFF": "aiff",
                   "FF_MP4": "mov,mp4,m4a,3gp,3g2,mj2", "FF_FLAC": "flac", "FF_WMA": "asf"}


def test_every_offered_file_type_is_written(tmp_path):
    offered = _file_types()
    assert {"FF_WAVE", "FF_MP3"} <= set(offered)
    tts = orafon.Dispatch("Orafon.TextToSpeech")
    for name in offered:
        tts.FileFormat = getattr(orafon.constants, name)
        # The richest wave format of the type: every encoder takes it (the WMA
        # one refuses the lowest bit rates its catalogue lists).
        rates = []
        for index in range(tts.WaveFormatCount):
            tts.WaveFormatIdx = index
            found = re.match(r"(\d+)kBPS", tts.WaveFormatName)
            rates.append(int(found.group(1)) if found else 0)
        tts.WaveFormatIdx = rates.index(max(rates))
        path = tmp_path / f"short.{name[3:].lower()}"
        tts.SpeakToFile("A short text.", str(path), 0)
        assert path.stat().st_size > 0, name
        if name == "FF_VOX":
            # Headerless ADPCM: sox decodes it given the type.
            stat = subprocess.run(["sox", "-t", "vox", "-r", "8000", "-c", "1", str(path), "-n", "stat"],
                                  capture_output=True, text=True, check=True).stderr
            assert int(re.search(r"Samples read:\s+(\d+)", stat).group(1)) > 1000, name
            continue
        info = probe(path)
        assert info["format_name"] == EXPECTED_FORMAT[name], name
        assert float(info["duration"]) > 0.2, name


def test_help_comes_from_the_type_library():
    tts = orafon.Dispatch("Orafon.TextToSpeech")
    text = pydoc.render_doc(tts, renderer=pydoc.plaintext)
    assert "ITextToSpeech: ITextToSpeech Interface" in text
    assert "Speak(self, strText: 'str', nFlag: 'TTSFLAG') -> 'None'" in text
    assert "Speak Text" in text
    assert "SpeakToFile(self, strText: 'str', strFile: 'str', nFlag: 'TTSFLAG') -> 'None'" in text
    assert "GetVoiceName(self, nIndex: 'int') -> 'str'" in text
    assert "Convert Mp3 to SWF" in text
    assert "property VoiceCount (int, read-only)" in text
    assert "property FileFormat (FILEFORMAT)" in text
    assert orafon.constants.FF_MP3 == 1 and orafon.constants.TF_ASYNC == 1
    assert orafon.constants.FILEFORMAT.FF_FLAC == orafon.constants.FF_FLAC


def test_wrong_arguments_to_the_component():
    tts = orafon.Dispatch("Orafon.TextToSpeech")
    with pytest.raises(TypeError, match="takes 2 arguments but 1 was given|missing required argument 'nFlag'"):
        tts.Speak("text")
    with pytest.raises(orafon.ComError) as caught:
        tts.GetVoiceName(tts.VoiceCount + 5)
    assert caught.value.member == "GetVoiceName"
    with pytest.raises(orafon.ComError) as caught:
        tts.VoiceIdx = "not a number"
    assert caught.value.member == "VoiceIdx"
    with pytest.raises(AttributeError, match="'IsTalking'"):
        tts.IsTalking
