# Soft-decision decoder: one signal from complex baseband or audio plus a tone.
add_library(kestrix_soft STATIC
  src/soft/soft_decoder.cpp
  src/soft/audio_soft_decoder.cpp
  src/soft/segment_viterbi.cpp
  src/soft/morse_patterns.cpp
)
target_include_directories(kestrix_soft PUBLIC src)
