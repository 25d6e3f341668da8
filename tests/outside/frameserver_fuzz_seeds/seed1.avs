LoadPlugin("qmvideo.dll")

video = BlankClip(length=300, width=720, height=576, fps=25)
video = LanczosResize(video, 640, 352, 0, 72, 720, 432)

audio = BlankClip(length=300, fps=25, tone=440)
audio = AmplifydB(audio, 12.000000)

AudioDub(video, DelayAudio(audio, -0.080000))
AssumeFPS(24, sync_audio=true)
Trim(100, 199)

WriteFileStart("avsdebug", """ "Kestrevane" """)
