#pragma once
// Resource and dialog item ids, shared by app.rc and the code.

#define IDD_MAIN 1000
#define IDI_APP 100

#define IDC_SPEED_CAPTION 1001
#define IDC_CONTENT 1002
#define IDC_SECRET_KEY_CAPTION 1003
#define IDC_API_KEY_CAPTION 1004
#define IDC_DOC_LINK 1005
#define IDC_SECRET_KEY 1006
#define IDC_API_KEY 1007
#define IDC_SAVE 1008
#define IDC_SPEED 1009
#define IDC_START 1010
#define IDC_PITCH 1011
#define IDC_FORCE_TOKEN 1012
#define IDC_PITCH_CAPTION 1013
#define IDC_VOLUME 1014
#define IDC_VOLUME_CAPTION 1015
#define IDC_SPEAKER 1016
#define IDC_SPEAKER_CAPTION 1017
#define IDC_COUNTER 1018
