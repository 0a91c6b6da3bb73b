# The frame encoder: fixed pictures, a differential test against an independent
# formulation, and a track read back.
trackloom_add_test(encoder_tests SOURCES frame_encoder_test.cpp LIBS trackloom_core)
