// Resource and control ids shared by the resource script and the dialog code.
#pragma once

#define IDD_TRACKLOOM_CONFIG 101
#define IDC_AUDIO_FILE 1002
#define IDC_AUDIO_BROWSE 1003
#define IDC_OUTPUT_DIRECTORY 1004
#define IDC_OUTPUT_BROWSE 1005
#define IDC_BREAK_FRAMES 1010
