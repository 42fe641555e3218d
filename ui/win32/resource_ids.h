#pragma once
// Numeric ids of the program's resources and dialog controls, shared by the resource script and
// the code (plain macros, so the resource compiler can read this file too).

#define QM_ICON_MAIN 128
#define QM_DIALOG_MAIN 129
#define QM_DIALOG_PROGRESS 130
#define QM_DIALOG_ABOUT 131

// The packed patch archive and the banner PNG are custom resources: type number, name number.
#define QM_TYPE_PATCH_ARCHIVE 2000
#define QM_NAME_PATCH_ARCHIVE 3000
#define QM_TYPE_BANNER 2001
#define QM_NAME_BANNER 3001

// Main dialog.
#define QM_ID_BANNER 1000
#define QM_ID_SOURCE 1001
#define QM_ID_DESTINATION 1002
#define QM_ID_BROWSE_SOURCE 1003
#define QM_ID_BROWSE_DESTINATION 1004
#define QM_ID_APPLY 1005
#define QM_ID_ABOUT 1006

// Progress dialog.
#define QM_ID_STATUS 1007
#define QM_ID_PROGRESS 1008
#define QM_ID_CANCEL 1009

// About box.
#define QM_ID_LINKS 1010
