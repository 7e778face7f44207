// Control ids shared by the resource script, the dialog descriptions of
// dialogs.txt and the dialog procedures.
#define IDC_WELCOME_TEXT 1000
#define IDC_PROGRESS_TEXT 1007
#define IDC_PROGRESS_BAR 1008
