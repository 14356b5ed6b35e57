# Soft-decision decoder: one signal from complex baseband or audio plus a tone.
add_library(kestrix_soft STATIC
  src/soft/soft_decoder.cpp
)
target_include_directories(kestrix_soft PUBLIC src)
