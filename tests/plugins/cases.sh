# Parameter sets the host tests run: effect|tool parameters|plugin
# parameters (empty: the same)|frames the plugin's output lags (the eq's
# 2 x bands - 1). Every port is set away from its default somewhere, so a
# port wired to the wrong parameter shows up. The gain plugin at 0 dB is the
# tool's fade without fades.
CASES=(
  "eq|low=-6,mid=3,high=-10,lowfreq=300,highfreq=5000,bands=64,level=-1,mode=0||127"
  "eq|low=4,mid=-2,high=6,lowfreq=200,highfreq=3000,bands=128,level=-3||255"
  "geq|g31=2,g62=4,g125=6,g250=1,g500=5,g1k=3,g2k=7,g4k=2,g8k=9,g16k=4,master=-3"
  "lowpass|freq=3000,order=6"
  "highpass|freq=500,order=3"
  "fade|in=0,out=0|level=0,ramp=0.05"
  "chorus|voices=2,delay=15,depth=3,period=1.5,mix=40,dry=90"
  "pitch|cents=30,semitones=3,grain=0.03,hop=0.01,cubic=0,antialias=1,level=-2"
)
