# comment
[* nested [* block *] *] /* other */
global g = $FF00FF
BlankClip(color=g, fps=29.97, audio_rate=44100, channels=6) \
  .AssumeFPS(30000, 1001, sync_audio=true)
\ .AmplifydB(-3.0, 3.0)
