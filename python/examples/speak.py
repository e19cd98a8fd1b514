"""Speaks with the text-to-speech component from Python: lists the voices,
writes an MP3 file and speaks aloud with word events.

    python3 python/examples/speak.py [VOICE_INDEX] [OUTPUT.mp3]
"""

import sys

import orafon

voice = int(sys.argv[1]) if len(sys.argv) > 1 else 0
output = sys.argv[2] if len(sys.argv) > 2 else "hello.mp3"

tts = orafon.Dispatch("Orafon.TextToSpeech")
print(tts.VoiceCount, [tts.GetVoiceName(i) for i in range(tts.VoiceCount)])
tts.VoiceIdx = voice
tts.Rate = 3
tts.FileFormat = orafon.constants.FF_MP3     # enums from the type library
tts.SpeakToFile("Hello there", output, 0)


class Events:
    done = False

    def OnTTSWord(self, start, length): print("word", start, length)

    def OnTTSEnd(self):
        print("done")
        self.done = True


tts = orafon.DispatchWithEvents("Orafon.TextToSpeech", Events)
tts.VoiceIdx = voice
tts.Speak("Hello world", orafon.constants.TF_ASYNC)
orafon.pump_until(lambda: tts.done, timeout=10)   # runs the thread's message queue
